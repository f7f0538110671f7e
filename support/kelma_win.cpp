#include "support/kelma_win.h"

#include <bitset>
#include <climits>
#include <exception>
#include <iterator>
#include <new>

#include "support/text.h"

namespace orx {
namespace {

template <class C>
using View = std::basic_string_view<C>;
template <class C>
using Str = std::basic_string<C>;

constexpr std::size_t kNone = std::string_view::npos;

// 1-based position of a 0-based index; texts beyond INT_MAX units have no
// representable position there.
int ToPosition(std::size_t index) {
  return index < static_cast<std::size_t>(INT_MAX) ? static_cast<int>(index) + 1 : 0;
}

std::size_t SkipCount(int skip) { return skip > 0 ? static_cast<std::size_t>(skip) : 0; }

// Index of the n-th (n >= 1) or last (n = 0) occurrence of delim at or after
// `from`, counting occurrences left to right without overlap; kNone if none.
template <class C>
std::size_t FindNth(View<C> delim, View<C> text, int n, std::size_t from, bool caseSensitive) {
  if (n < 0 || delim.empty() || delim.size() > text.size() || from >= text.size()) return kNone;
  Str<C> lowDelim;
  Str<C> lowText;
  if (!caseSensitive) {
    lowDelim = FoldCase(delim);
    lowText = FoldCase(text);
    delim = lowDelim;
    text = lowText;
  }
  std::size_t last = kNone;
  int count = 0;
  for (std::size_t at = text.find(delim, from); at != kNone;
       at = text.find(delim, at + delim.size())) {
    last = at;
    if (++count == n) return at;
  }
  return n == 0 ? last : kNone;
}

template <class C>
int TextPosT(View<C> sub, View<C> text) {
  if (text.empty() || sub.empty() || sub.size() > text.size()) return 0;
  const std::size_t at = text.find(sub);
  return at == kNone ? 0 : ToPosition(at);
}

template <class C>
int NthTextPosT(View<C> delim, View<C> text, int n, int skip, bool caseSensitive) {
  try {
    const std::size_t at = FindNth(delim, text, n, SkipCount(skip), caseSensitive);
    return at == kNone ? 0 : ToPosition(at);
  } catch (const std::exception&) {
    return 0;
  }
}

template <class C>
Str<C> TextAfterT(View<C> delim, View<C> text, int n, int skip, bool caseSensitive) {
  try {
    const std::size_t at = FindNth(delim, text, n, SkipCount(skip), caseSensitive);
    return at == kNone ? Str<C>() : Str<C>(text.substr(at + delim.size()));
  } catch (const std::exception&) {
    return {};
  }
}

template <class C>
Str<C> TextBeforeT(View<C> delim, View<C> text, int n, int skip, bool caseSensitive) {
  try {
    const std::size_t at = FindNth(delim, text, n, SkipCount(skip), caseSensitive);
    return at == kNone ? Str<C>() : Str<C>(text.substr(0, at));
  } catch (const std::exception&) {
    return {};
  }
}

// One left-to-right pass: occurrences are searched only in the part of the
// text not yet replaced, so inserted text is never searched again. The one
// exception is kept on purpose: when no further occurrence exists but the
// whole result equals oldText, the result is replaced whole ("///" -> "/").
template <class C>
Str<C> StrTranT(View<C> text, View<C> oldText, View<C> newText, int startOccurrence,
                int maxCount) {
  try {
    if (startOccurrence <= 0 || oldText.empty() || oldText == newText) return Str<C>(text);
    Str<C> done;  // replaced prefix, ending with the last inserted newText
    std::size_t rest = 0;  // start of the part of text not yet searched
    int count = 0;
    int occurrence = startOccurrence;
    while (!(done.empty() && rest == text.size())) {
      const std::size_t at = FindNth(oldText, text, occurrence, rest, true);
      if (at == kNone) {
        const View<C> tail = text.substr(rest);
        if (done.size() + tail.size() == oldText.size() && oldText.starts_with(done) &&
            oldText.ends_with(tail)) {
          return Str<C>(newText);
        }
        break;
      }
      done.append(text.substr(rest, at - rest)).append(newText);
      rest = at + oldText.size();
      occurrence = 1;
      if (maxCount >= 1 && ++count == maxCount) break;
    }
    done.append(text.substr(rest));
    return done;
  } catch (const std::exception& failure) {
    throw KelmaWinExc(std::string("StrTran:") + failure.what());
  }
}

constexpr char16_t kDefaultWordDelims[] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007, 0x0008, 0x0009, 0x000A,
    0x000B, 0x000C, 0x000D, 0x000E, 0x000F, 0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015,
    0x0016, 0x0017, 0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F, 0x0020,
    0x007E, 0x007F, 0x00A0, 0x00A6, 0x00AC, 0x00AD, 0x00B0, 0x00B1, 0x00B6, 0x002C, 0x002E,
    0x003B, 0x003A, 0x0021, 0x003F, 0x002F, 0x005C, 0x003C, 0x003E, 0x0028, 0x0029, 0x005E,
    0x0022, 0x0023, 0x0026, 0x002B, 0x002D, 0x002A, 0x0025, 0x0024, 0x005B, 0x005D, 0x003D,
    0x007B, 0x007D, 0x007C, 0x2116, 0x005F, 0x044F, 0x0409, 0x040C, 0x0027};
static_assert(std::size(kDefaultWordDelims) == 75);

// Membership test for a delimiter set: a table for the first 256 code units,
// a scan for the rest (few sets hold any).
class CharSet {
 public:
  explicit CharSet(std::u16string_view chars) {
    for (const char16_t c : chars) {
      if (c < low_.size()) {
        low_.set(c);
      } else {
        high_ = chars;
      }
    }
  }
  bool Contains(char16_t c) const {
    return c < low_.size() ? low_.test(c) : high_.find(c) != std::u16string_view::npos;
  }

 private:
  std::bitset<256> low_;
  std::u16string_view high_;
};

// Index of the start of the n-th word (n = 0: the last word), or kNone.
std::size_t WordStart(std::u16string_view text, const CharSet& delims, int n) {
  std::size_t last = kNone;
  int count = 0;
  bool inWord = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (delims.Contains(text[i])) {
      inWord = false;
    } else if (!inWord) {
      inWord = true;
      last = i;
      if (++count == n) return i;
    }
  }
  return n == 0 ? last : kNone;
}

std::u16string_view DelimsOrDefault(std::u16string_view delims) {
  return delims.empty() ? DefaultWordDelims : delims;
}

}  // namespace

const std::u16string_view DefaultWordDelims(kDefaultWordDelims, std::size(kDefaultWordDelims));

int TextPos(std::string_view sub, std::string_view text) { return TextPosT(sub, text); }
int TextPos(std::u16string_view sub, std::u16string_view text) { return TextPosT(sub, text); }

std::string TextAfter(std::string_view delim, std::string_view text, int n, int skip,
                      bool caseSensitive) {
  return TextAfterT(delim, text, n, skip, caseSensitive);
}
std::u16string TextAfter(std::u16string_view delim, std::u16string_view text, int n, int skip,
                         bool caseSensitive) {
  return TextAfterT(delim, text, n, skip, caseSensitive);
}

int NthTextPos(std::string_view delim, std::string_view text, int n, int skip,
               bool caseSensitive) {
  return NthTextPosT(delim, text, n, skip, caseSensitive);
}
int NthTextPos(std::u16string_view delim, std::u16string_view text, int n, int skip,
               bool caseSensitive) {
  return NthTextPosT(delim, text, n, skip, caseSensitive);
}

std::string TextBefore(std::string_view delim, std::string_view text, int n, int skip,
                       bool caseSensitive) {
  return TextBeforeT(delim, text, n, skip, caseSensitive);
}
std::u16string TextBefore(std::u16string_view delim, std::u16string_view text, int n, int skip,
                          bool caseSensitive) {
  return TextBeforeT(delim, text, n, skip, caseSensitive);
}

int WordPosition(std::u16string_view text, std::u16string_view delims, int n) {
  if (text.empty() || n < 0) return 0;
  const std::size_t at = WordStart(text, CharSet(DelimsOrDefault(delims)), n);
  return at == kNone ? 0 : ToPosition(at);
}

std::u16string ExtractWord(std::u16string_view text, std::u16string_view delims, int n) {
  if (text.empty() || n < 0) return {};
  try {
    const CharSet set(DelimsOrDefault(delims));
    const std::size_t start = WordStart(text, set, n);
    if (start == kNone) return {};
    std::size_t end = start;
    while (end < text.size() && !set.Contains(text[end])) ++end;
    return std::u16string(text.substr(start, end - start));
  } catch (const std::exception&) {
    return {};
  }
}

std::u16string TrimCharsLeft(std::u16string_view text, std::u16string_view chars) {
  const CharSet set(chars);
  std::size_t begin = 0;
  while (begin < text.size() && set.Contains(text[begin])) ++begin;
  return std::u16string(text.substr(begin));
}

std::u16string TrimCharsRight(std::u16string_view text, std::u16string_view chars) {
  const CharSet set(chars);
  std::size_t end = text.size();
  while (end > 0 && set.Contains(text[end - 1])) --end;
  return std::u16string(text.substr(0, end));
}

std::u16string StrTran(std::u16string_view text, std::u16string_view oldText,
                       std::u16string_view newText, int startOccurrence, int maxCount) {
  return StrTranT(text, oldText, newText, startOccurrence, maxCount);
}
std::string StrTran(std::string_view text, std::string_view oldText, std::string_view newText,
                    int startOccurrence, int maxCount) {
  return StrTranT(text, oldText, newText, startOccurrence, maxCount);
}

std::string PadLeft(std::string_view text, char fill, int width) {
  try {
    const std::size_t size = width > 0 ? static_cast<std::size_t>(width) : 0;
    // A longer value keeps its last digits rather than being refused.
    if (text.size() > size) return std::string(text.substr(text.size() - size));
    std::string out(size - text.size(), fill);
    out.append(text);
    return out;
  } catch (const std::exception&) {
    return {};
  }
}

std::string UrlEncode(std::string_view text, bool spaceAsPlus) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9')) {
      out.push_back(c);
    } else if (byte == ' ' && spaceAsPlus) {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    }
  }
  return out;
}

}  // namespace orx
