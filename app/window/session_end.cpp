#include "app/window/session_end.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace orx {
namespace {

constexpr std::array<int, 3> kSignals{SIGTERM, SIGHUP, SIGINT};

// A handler may do next to nothing: it writes one byte that the window's
// thread reads in its event loop. The one piece of process-wide state a
// handler needs.
volatile std::sig_atomic_t writeEnd = -1;

extern "C" void OnSessionEndSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
  errno = saved;
}

}  // namespace

SessionEndSignals::SessionEndSignals() {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) return;
  readEnd_ = ends[0];
  writeEnd = ends[1];
  notifier_ = new QSocketNotifier(readEnd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &SessionEndSignals::Drain);

  struct sigaction action {};
  action.sa_handler = OnSessionEndSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &action, &previous_[i]);
  installed_ = true;
}

SessionEndSignals::~SessionEndSignals() {
  if (installed_) {
    for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  }
  if (readEnd_ >= 0) {
    delete notifier_;
    ::close(writeEnd);
    writeEnd = -1;
    ::close(readEnd_);
  }
}

void SessionEndSignals::Drain() {
  char bytes[16];
  bool received = false;
  while (::read(readEnd_, bytes, sizeof bytes) > 0) received = true;
  if (received) emit sessionEnds();
}

}  // namespace orx
