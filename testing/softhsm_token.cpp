#include "testing/softhsm_token.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace orx::testing {
namespace {

constexpr char kSpyModule[] = "/usr/lib/x86_64-linux-gnu/pkcs11/pkcs11-spy.so";
constexpr char kPkcs11Engine[] = "/usr/lib/x86_64-linux-gnu/engines-3/pkcs11.so";

}  // namespace

std::string SoftHsmToken::MissingTools() {
  std::string missing;
  for (const char* program : {"softhsm2-util", "pkcs11-tool"}) {
    try {
      FindOnPath(program);
    } catch (const std::runtime_error&) {
      missing += std::string(missing.empty() ? "" : ", ") + program;
    }
  }
  for (const char* file : {kSoftHsmModule, kSpyModule, kPkcs11Engine}) {
    if (::access(file, R_OK) != 0) missing += std::string(missing.empty() ? "" : ", ") + file;
  }
  return missing.empty() ? missing : "not installed: " + missing;
}

SoftHsmToken::SoftHsmToken(std::string label, std::string userPin)
    : label_(std::move(label)), pin_(std::move(userPin)) {
  std::filesystem::create_directory(dir_.path() / "tokens");
  config_ = dir_.Write("softhsm2.conf", "directories.tokendir = " + (dir_ / "tokens") +
                                            "\nobjectstore.backend = file\n");
  const auto result = RunProcess(FindOnPath("softhsm2-util"),
                                 {"--init-token", "--free", "--label", label_, "--so-pin",
                                  "87654321", "--pin", pin_},
                                 {"SOFTHSM2_CONF=" + config_});
  if (result.exitStatus != 0)
    throw std::runtime_error("softhsm2-util failed: " + result.standardError);
}

void SoftHsmToken::Tool(const std::vector<std::string>& arguments) const {
  std::vector<std::string> all{"--module", kSoftHsmModule, "--token-label", label_,
                               "--login", "--pin", pin_};
  all.insert(all.end(), arguments.begin(), arguments.end());
  const auto result = RunProcess(FindOnPath("pkcs11-tool"), all, {"SOFTHSM2_CONF=" + config_});
  if (result.exitStatus != 0)
    throw std::runtime_error("pkcs11-tool failed: " + result.standardError);
}

void SoftHsmToken::Put(const std::string& pemFile, std::string_view id, bool withKey) {
  if (withKey) {
    Tool({"--write-object", pemFile, "--type", "privkey", "--id", std::string(id), "--label",
          "key " + std::string(id)});
  }
  Tool({"--write-object", pemFile, "--type", "cert", "--id", std::string(id), "--label",
        "certificate " + std::string(id)});
}

std::vector<std::string> SoftHsmToken::Environment(const std::string& spyLog) const {
  if (spyLog.empty())
    return {std::string("ORX_PKCS11_MODULE=") + kSoftHsmModule, "SOFTHSM2_CONF=" + config_};
  // The spy itself leaks a little: not the program's to answer for, in a
  // sanitized build.
  const std::string suppressions = dir_.Write("lsan.supp", "leak:pkcs11-spy.so\n");
  const char* leakOptions = std::getenv("LSAN_OPTIONS");
  return {std::string("ORX_PKCS11_MODULE=") + kSpyModule, "SOFTHSM2_CONF=" + config_,
          std::string("PKCS11SPY=") + kSoftHsmModule, "PKCS11SPY_OUTPUT=" + spyLog,
          "LSAN_OPTIONS=" + (leakOptions && *leakOptions ? std::string(leakOptions) + ":" : "") +
              "suppressions=" + suppressions};
}

int SoftHsmToken::CallsIn(const std::string& spyLog, std::string_view function) {
  const std::string log = ReadFile(spyLog);
  const std::string call = ": " + std::string(function) + "\n";
  int count = 0;
  for (auto at = log.find(call); at != std::string::npos; at = log.find(call, at + 1)) ++count;
  return count;
}

}  // namespace orx::testing
