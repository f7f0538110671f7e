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

namespace {

// The length of the well-formed UTF-8 sequence at the start of text, 0 when
// it is not one.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  else return 0;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

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
  const std::string line = EscapeForTerminal(raw);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace orx
