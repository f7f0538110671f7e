#pragma once
// The log pane: the lines a job writes for the operator. The window shows it;
// batch mode echoes each line to standard error. A view observes it.
#include <string>
#include <string_view>
#include <vector>

namespace orx {

class LogPaneView {
 public:
  virtual ~LogPaneView() = default;
  virtual void OnCleared() = 0;
  virtual void OnLineAppended(const std::string& line) = 0;
  // Lets the window repaint and take queued input while a job runs.
  virtual void ProcessPendingEvents() = 0;
};

class LogPane {
 public:
  void Clear();
  // A message holding CR LF becomes several lines, split at each break; one
  // without is kept as it is, not copied. The view is shown the pane's own
  // line and must not change the pane meanwhile.
  void Append(std::string message);
  void ProcessPendingEvents();

  const std::vector<std::string>& Lines() const { return lines_; }
  // The view is not owned; nullptr detaches it.
  void SetView(LogPaneView* view) { view_ = view; }

 private:
  std::vector<std::string> lines_;
  LogPaneView* view_ = nullptr;
};

// line as a terminal may show it: control characters (C0 but the tab, DEL,
// C1) and bytes that are not UTF-8 become \xNN, each byte of them.
std::string EscapeForTerminal(std::string_view line);

// Batch mode's view: every appended line to standard error as UTF-8, one per
// line, escaped for the terminal (EscapeForTerminal); a line break inside a
// line is written as one, as the window shows it.
class StderrLogPaneView final : public LogPaneView {
 public:
  void OnCleared() override {}
  void OnLineAppended(const std::string& line) override;
  void ProcessPendingEvents() override {}
};

}  // namespace orx
