// The cutting operations of the string toolkit never throw and never read out
// of bounds, whatever the delimiter, counts and skip.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/kelma_win.h"
#include "support/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int n = static_cast<int>(data[0] % 6) - 1;         // -1 .. 4
  const int skip = static_cast<int>(data[1] % 12) - 1;     // -1 .. 10
  const bool caseSensitive = (data[2] & 1) != 0;
  const std::size_t delimLength = data[3] % 4;
  const std::string rest(reinterpret_cast<const char*>(data + 4), size - 4);
  const std::string delim = rest.substr(0, delimLength);
  const std::string text = rest.substr(std::min(delimLength, rest.size()));

  const std::string after = orx::TextAfter(delim, text, n, skip, caseSensitive);
  const std::string before = orx::TextBefore(delim, text, n, skip, caseSensitive);
  const int position = orx::NthTextPos(delim, text, n, skip, caseSensitive);
  if (after.size() > text.size() || before.size() > text.size()) __builtin_trap();
  if (position < 0 || static_cast<std::size_t>(position) > text.size()) __builtin_trap();
  if (orx::TextPos(delim, text) < 0) __builtin_trap();
  if (!before.empty() && text.compare(0, before.size(), before) != 0) __builtin_trap();

  const std::u16string wide = orx::Utf8ToUtf16(text);
  const std::u16string wideDelim = orx::Utf8ToUtf16(delim);
  (void)orx::TextAfter(wideDelim, wide, n, skip, caseSensitive);
  (void)orx::TextBefore(wideDelim, wide, n, skip, caseSensitive);
  const std::u16string word = orx::ExtractWord(wide, wideDelim, n);
  if (word.size() > wide.size()) __builtin_trap();
  (void)orx::WordPosition(wide, wideDelim, n);
  (void)orx::TrimCharsLeft(wide, wideDelim);
  (void)orx::TrimCharsRight(wide, wideDelim);
  (void)orx::StrTran(text, delim, "/", n, skip);
  (void)orx::PadLeft(text, '0', skip);
  (void)orx::UrlEncode(text, caseSensitive);
  (void)orx::DecodeUtf8Strict(text);
  return 0;
}
