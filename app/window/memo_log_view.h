#pragma once
// Shows the log pane in the window's multi-line field and lets the window
// repaint and take input while a job runs.
#include "support/log_pane.h"

class QPlainTextEdit;

namespace orx {

class MemoLogView final : public LogPaneView {
 public:
  // memo is not owned and must outlive the view.
  explicit MemoLogView(QPlainTextEdit& memo) : memo_(memo) {}

  void OnCleared() override;
  void OnLineAppended(const std::string& line) override;
  void ProcessPendingEvents() override;

 private:
  QPlainTextEdit& memo_;
};

}  // namespace orx
