#include "support/log_pane.h"

#include <algorithm>
#include <cstdio>
#include <utility>

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
  // A slice at a time, so that a huge line is never copied whole. A cut
  // before continuation bytes moves back to their lead byte, so no character
  // is split and each slice escapes as the whole line would.
  constexpr std::size_t kSlice = 64 * 1024;
  const auto continues = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; };
  std::string_view rest = raw;
  while (!rest.empty()) {
    std::size_t cut = std::min(rest.size(), kSlice);
    std::size_t lead = cut;
    while (lead < rest.size() && lead + 3 > cut && continues(rest[lead])) --lead;
    if (lead < rest.size() && !continues(rest[lead])) cut = lead;
    const std::string shown = EscapeForTerminal(rest.substr(0, cut));
    std::fwrite(shown.data(), 1, shown.size(), stderr);
    rest.remove_prefix(cut);
  }
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace orx
