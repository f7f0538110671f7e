#include "testing/test_support.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace orx::testing {
namespace {

// No test reaches the tokens of the machine it runs on (a developer's own
// card): every test process, and every program it starts, searches the
// tokens of a SoftHSM whose token folder is empty, unless a test makes a
// token of its own (testing/softhsm_token.h).
class NoTokensOfThisMachine {
 public:
  NoTokensOfThisMachine() {
    std::error_code ignored;
    folder_ = std::filesystem::temp_directory_path(ignored) /
              ("orx-test-no-tokens-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_ / "tokens", ignored);
    const std::string config = (folder_ / "softhsm2.conf").string();
    std::ofstream(config) << "directories.tokendir = " << (folder_ / "tokens").string()
                          << "\nobjectstore.backend = file\n";
    ::setenv("ORX_PKCS11_MODULE", kSoftHsmModule, 1);
    ::setenv("SOFTHSM2_CONF", config.c_str(), 1);
  }
  ~NoTokensOfThisMachine() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  NoTokensOfThisMachine(const NoTokensOfThisMachine&) = delete;
  NoTokensOfThisMachine& operator=(const NoTokensOfThisMachine&) = delete;

 private:
  std::filesystem::path folder_;
};

const NoTokensOfThisMachine noTokensOfThisMachine;

}  // namespace

ScratchDir::ScratchDir() {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("orx-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::Write(std::string_view name, std::string_view bytes) const {
  const auto file = path_ / name;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return file.string();
}

LoopbackListener::LoopbackListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (!fd_.valid() || ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd_.get(), 64) != 0 ||
      ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

ScopedEnv::ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) saved_ = old;
  if (value) {
    ::setenv(name_.c_str(), value, 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (saved_) {
    ::setenv(name_.c_str(), saved_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const auto candidate = std::filesystem::path(folder.empty() ? "." : folder) / program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  throw std::runtime_error(program + " not found on PATH");
}

std::string SourceDir() { return ORX_SOURCE_DIR; }

std::string WriteSchemaInParts(const std::filesystem::path& folder, SchemaParts parts) {
  std::string main = ReadFile(SourceDir() + "/examples/FA.xsd");
  const std::size_t typesAt = main.find("  <xs:simpleType name=\"Text\">");
  const std::size_t end = main.find("</xs:schema>");
  if (typesAt == std::string::npos || end == std::string::npos) {
    throw std::runtime_error("examples/FA.xsd no longer has the expected layout");
  }
  const std::string types = main.substr(typesAt, end - typesAt);
  main.erase(typesAt, end - typesAt);
  const std::string firstChild = "  <xs:element name=\"dataPacket\">";
  std::string part = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" targetNamespace=\"";
  if (parts == SchemaParts::Included) {
    main.insert(main.find(firstChild), "  <xs:include schemaLocation=\"FA-types.xsd\"/>\n\n");
    part += "urn:orx-rf:certificates\">\n" + types + "</xs:schema>\n";
  } else {
    main.insert(main.find(firstChild),
                "  <xs:import namespace=\"urn:orx-rf:common\" schemaLocation=\"common.xsd\"/>\n\n");
    main.insert(main.find("targetNamespace="), "xmlns:cm=\"urn:orx-rf:common\"\n           ");
    for (const char* name : {"Text", "PositiveAmount", "Version", "DottedDate"}) {
      for (const std::string attribute : {"type=\"", "base=\""}) {
        const std::string use = attribute + name + "\"";
        for (std::size_t at = main.find(use); at != std::string::npos; at = main.find(use, at)) {
          main.insert(at + attribute.size(), "cm:");
        }
      }
    }
    part += "urn:orx-rf:common\">\n" + types + "</xs:schema>\n";
  }
  const std::filesystem::path place = folder / "схемы ORX";
  std::filesystem::create_directories(place);
  std::ofstream(place / (parts == SchemaParts::Included ? "FA-types.xsd" : "common.xsd")) << part;
  std::ofstream(place / "FA.xsd") << main;
  return (place / "FA.xsd").string();
}

std::string BinaryDir() {
  if (const char* dir = std::getenv("ORX_BINARY_DIR")) return dir;
  return std::filesystem::current_path().string();
}

Pipe::Pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  end[0] = UniqueFd(fds[0]);
  end[1] = UniqueFd(fds[1]);
}

namespace {

// Starts program with the file actions given; the environment is this
// process's with `environment` replacing or adding entries.
pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment, posix_spawn_file_actions_t& actions) {
  std::vector<std::string> argvStore{program};
  argvStore.insert(argvStore.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : argvStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
  for (const auto& entry : environment) {
    const auto name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(envStore, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
    envStore.push_back(entry);
  }
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program);
  return pid;
}

}  // namespace

int StartProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment, const std::string& logFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  return Spawn(program, arguments, environment, actions);
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, int timeoutSeconds) {
  Pipe out;
  Pipe err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.end[1].get(), 1);
  posix_spawn_file_actions_adddup2(&actions, err.end[1].get(), 2);
  const pid_t pid = Spawn(program, arguments, environment, actions);
  (void)out.end[1].Close();  // the child holds its own copies
  (void)err.end[1].Close();

  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  pollfd fds[2] = {{out.end[0].get(), POLLIN, 0}, {err.end[0].get(), POLLIN, 0}};
  std::string* sinks[2] = {&result.standardOutput, &result.standardError};
  int open = 2;
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    if (::poll(fds, 2, 200) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  if (open > 0) ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace orx::testing
