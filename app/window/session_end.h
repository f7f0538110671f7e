#pragma once
// SIGTERM, SIGHUP and SIGINT, which end the programs of a session that logs
// out (and a terminal's Ctrl+C), delivered as a Qt signal on the window's
// thread, so that the window can keep its state before the process ends.
#include <QObject>
#include <array>
#include <csignal>

class QSocketNotifier;

namespace orx {

class SessionEndSignals final : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; only one instance may exist at a time. Without a
  // pipe for them the signals keep their previous handlers.
  SessionEndSignals();
  // Puts the previous handlers back.
  ~SessionEndSignals() override;
  SessionEndSignals(const SessionEndSignals&) = delete;
  SessionEndSignals& operator=(const SessionEndSignals&) = delete;

 signals:
  void sessionEnds();

 private:
  void Drain();

  int readEnd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  std::array<struct sigaction, 3> previous_{};
  bool installed_ = false;
};

}  // namespace orx
