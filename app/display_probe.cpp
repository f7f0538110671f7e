#include "app/display_probe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "support/unique_fd.h"

namespace orx {
namespace {

// A display on another machine (ssh forwarding, a thin client) may take a
// moment to accept, but the operator must not wait long for "no display".
constexpr int kConnectMilliseconds = 3000;

std::string_view Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Connects without blocking for longer than kConnectMilliseconds.
bool Answers(int family, const sockaddr* address, socklen_t length) {
  const UniqueFd socket(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return false;
  if (::connect(socket.get(), address, length) == 0) return true;
  if (errno != EINPROGRESS) return false;
  pollfd waiting{socket.get(), POLLOUT, 0};
  if (::poll(&waiting, 1, kConnectMilliseconds) != 1) return false;
  int error = 0;
  socklen_t size = sizeof error;
  return ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

// An abstract socket when abstract, else one in the file system.
bool LocalAnswers(std::string_view path, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  if (path.empty() || path.size() + offset >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() +
                                             (abstract ? 0 : 1));
  return Answers(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length);
}

bool TcpAnswers(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool answered = false;
  for (const addrinfo* a = found; a != nullptr && !answered; a = a->ai_next) {
    answered = Answers(a->ai_family, a->ai_addr, a->ai_addrlen);
  }
  ::freeaddrinfo(found);
  return answered;
}

// DISPLAY is [host]:number[.screen]; an empty host or "unix" is this
// machine's socket, as the X libraries read it.
bool XDisplayAnswers(std::string_view display) {
  const auto colon = display.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view host = display.substr(0, colon);
  if (const auto slash = host.rfind('/'); slash != std::string_view::npos) host.remove_prefix(slash + 1);
  std::string_view rest = display.substr(colon + 1);
  rest = rest.substr(0, rest.find('.'));
  if (rest.empty() || rest.size() > 5 || rest.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const int number = std::atoi(std::string(rest).c_str());
  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    return LocalAnswers(path, true) || LocalAnswers(path, false);
  }
  return TcpAnswers(std::string(host), 6000 + number);
}

bool WaylandAnswers(std::string_view display) {
  std::string path(display);
  if (path.front() != '/') {
    const std::string_view runtime = Env("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    path = std::string(runtime) + "/" + path;
  }
  return LocalAnswers(path, false);
}

}  // namespace

std::optional<std::string> MissingDisplay() {
  const std::string_view platform = Env("QT_QPA_PLATFORM");
  const bool x = platform.empty() || platform.starts_with("xcb");
  const bool wayland = platform.empty() || platform.starts_with("wayland");
  // A platform chosen by name that draws nowhere needs no display.
  if (!x && !wayland) return std::nullopt;

  const std::string_view xDisplay = x ? Env("DISPLAY") : "";
  const std::string_view waylandDisplay = wayland ? Env("WAYLAND_DISPLAY") : "";
  if (xDisplay.empty() && waylandDisplay.empty()) {
    if (x && wayland) return "DISPLAY и WAYLAND_DISPLAY не заданы";
    return std::string(x ? "DISPLAY" : "WAYLAND_DISPLAY") + " не задан";
  }
  if (!waylandDisplay.empty() && WaylandAnswers(waylandDisplay)) return std::nullopt;
  if (!xDisplay.empty() && XDisplayAnswers(xDisplay)) return std::nullopt;
  std::string unanswered;
  if (!xDisplay.empty()) unanswered = "DISPLAY=" + std::string(xDisplay);
  if (!waylandDisplay.empty()) {
    unanswered += (unanswered.empty() ? "" : ", ") + std::string("WAYLAND_DISPLAY=") +
                  std::string(waylandDisplay);
  }
  return "дисплей " + unanswered + " не отвечает";
}

}  // namespace orx
