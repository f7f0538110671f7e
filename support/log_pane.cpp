#include "support/log_pane.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "support/text.h"

namespace orx {

void LogPane::Clear() {
  lines_.clear();
  if (view_) view_->OnCleared();
}

void LogPane::Append(std::string message) {
  constexpr std::string_view kBreak = "\r\n";
  std::string_view rest = message;
  for (;;) {
    const auto at = rest.find(kBreak);
    if (at == std::string_view::npos && rest.size() == message.size()) {
      lines_.push_back(std::move(message));
    } else {
      lines_.emplace_back(rest.substr(0, at));
    }
    if (view_) view_->OnLineAppended(lines_.back());
    if (at == std::string_view::npos) break;
    rest.remove_prefix(at + kBreak.size());
  }
}

void LogPane::ProcessPendingEvents() {
  if (view_) view_->ProcessPendingEvents();
}

std::string EscapeForTerminal(std::string_view line) {
  std::string shown;
  shown.reserve(line.size());
  while (!line.empty()) {
    const std::size_t length = Utf8SequenceLength(line);
    const auto first = static_cast<unsigned char>(line[0]);
    // C0 controls but the tab, DEL, the C1 controls (U+0080 to U+009F) and
    // bytes that are not UTF-8 could move the cursor, recolour or retitle
    // the terminal, or swallow what follows.
    const bool control = length == 1 ? (first < 0x20 && first != '\t') || first == 0x7F
                                     : length == 2 && first == 0xC2 &&
                                           static_cast<unsigned char>(line[1]) < 0xA0;
    if (length == 0 || control) {
      const std::size_t count = length == 0 ? 1 : length;
      for (std::size_t i = 0; i < count; ++i) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(line[i]));
        shown += escaped;
      }
      line.remove_prefix(count);
    } else {
      shown.append(line.substr(0, length));
      line.remove_prefix(length);
    }
  }
  return shown;
}

void StderrLogPaneView::OnLineAppended(const std::string& raw) {
  // A slice at a time, so that a huge line is never copied whole. No slice
  // ends inside a character, so each escapes as the whole line would. A line
  // break inside the line stays one, as the window shows it.
  constexpr std::size_t kSlice = 64 * 1024;
  std::string_view rest = raw;
  while (!rest.empty()) {
    const std::size_t cut = std::min(Utf8Boundary(rest, kSlice), rest.find('\n'));
    const std::string shown = EscapeForTerminal(rest.substr(0, cut));
    std::fwrite(shown.data(), 1, shown.size(), stderr);
    if (cut < rest.size() && rest[cut] == '\n') {
      std::fputc('\n', stderr);
      rest.remove_prefix(cut + 1);
    } else {
      rest.remove_prefix(cut);
    }
  }
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace orx
