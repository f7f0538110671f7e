#pragma once
// Shared test fixtures: a scratch folder, the project's paths, helpers to run
// the built program.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/event_log.h"
#include "support/unique_fd.h"

namespace orx::testing {

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(std::string_view name) const { return (path_ / name).string(); }
  // Writes bytes to a file in the folder and returns its path.
  std::string Write(std::string_view name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const char* value);  // nullptr unsets
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// SoftHSM's PKCS#11 module: every test process searches its tokens, never
// those of the machine (see test_support.cpp).
inline constexpr char kSoftHsmModule[] = "/usr/lib/softhsm/libsofthsm2.so";

// The full path of a program found on PATH; throws std::runtime_error when none is.
std::string FindOnPath(const std::string& program);

std::string SourceDir();  // the project's source folder

// The example schema examples/FA.xsd in two files, as published schemas come:
// its simple types moved to a file beside it that FA.xsd includes (same
// namespace), or imports (namespace urn:orx-rf:common). Written into a
// folder "схемы ORX" of folder, away from the working folder, so that the
// part is found only beside the schema. Returns FA.xsd's path.
enum class SchemaParts { Included, Imported };
std::string WriteSchemaInParts(const std::filesystem::path& folder, SchemaParts parts);
std::string BinaryDir();  // the build folder

// A close-on-exec pipe for a child's output: end[0] reads, end[1] writes.
struct Pipe {
  Pipe();
  UniqueFd end[2];
};

// A socket listening on 127.0.0.1 at a port the system chose. Connections
// wait in its backlog and are never answered unless someone takes the
// socket over (a server started with it, as nginx can be).
class LoopbackListener {
 public:
  LoopbackListener();
  int port() const { return port_; }
  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
  int port_ = 0;
};

struct ProcessResult {
  int exitStatus = -1;
  std::string standardOutput;
  std::string standardError;
};
// Starts a program in the background with extra environment entries, no
// standard input and its output going to logFile; returns its process id.
int StartProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment, const std::string& logFile);

// Runs a program with arguments and extra environment entries ("NAME=value"),
// no standard input, and waits at most timeoutSeconds.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment = {},
                         int timeoutSeconds = 60);

}  // namespace orx::testing
