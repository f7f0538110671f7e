#include "support/log_pane.h"

#include <cstdio>

namespace orx {

void LogPane::Clear() {
  lines_.clear();
  if (view_) view_->OnCleared();
}

void LogPane::Append(std::string_view message) {
  constexpr std::string_view kBreak = "\r\n";
  for (;;) {
    const auto at = message.find(kBreak);
    const std::string line(message.substr(0, at));
    lines_.push_back(line);
    if (view_) view_->OnLineAppended(line);
    if (at == std::string_view::npos) break;
    message.remove_prefix(at + kBreak.size());
  }
}

void LogPane::ProcessPendingEvents() {
  if (view_) view_->ProcessPendingEvents();
}

void StderrLogPaneView::OnLineAppended(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace orx
