#include "support/text.h"

#include <charconv>

namespace orx {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Decodes one code point at text[i]; advances i. Returns nullopt on a
// malformed sequence (i then advances past the first byte only).
std::optional<char32_t> DecodeOne(std::string_view text, std::size_t& i) {
  const std::size_t length = Utf8SequenceLength(text.substr(i));
  if (length == 0) {
    ++i;
    return std::nullopt;
  }
  const auto lead = static_cast<unsigned char>(text[i]);
  // The lead byte keeps 7, 5, 4 or 3 bits of the code point.
  char32_t code = length == 1 ? lead : lead & (0xFFu >> (length + 1));
  for (std::size_t k = 1; k < length; ++k) {
    code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  }
  i += length;
  return code;
}

void AppendUtf16(std::u16string& out, char32_t code) {
  if (code < 0x10000) {
    out.push_back(static_cast<char16_t>(code));
  } else {
    code -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
  }
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  // The second byte's range shuts out overlong forms, surrogates and code
  // points above U+10FFFF.
  unsigned char low = 0x80, high = 0xBF;
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
    if (!IsContinuation(text[i])) return 0;
  }
  return length;
}

std::size_t Utf8Boundary(std::string_view text, std::size_t at) {
  if (at >= text.size()) return text.size();
  std::size_t lead = at;
  while (lead > 0 && at - lead < 3 && IsContinuation(text[lead])) --lead;
  return IsContinuation(text[lead]) ? at : lead;
}

std::string_view TrimWhiteSpace(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const std::size_t begin = text.find_first_not_of(kSpace);
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(kSpace) - begin + 1);
}

std::optional<std::int64_t> ParseDecimal(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative || (!text.empty() && text.front() == '+')) text.remove_prefix(1);
  // from_chars would take a sign of its own.
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  // Read as unsigned so that the most negative value still fits.
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  constexpr auto kMaxPositive = static_cast<std::uint64_t>(INT64_MAX);
  if (magnitude > kMaxPositive + (negative ? 1 : 0)) return std::nullopt;
  if (!negative) return static_cast<std::int64_t>(magnitude);
  return magnitude == kMaxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
}

char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 0x20;
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;  // Latin-1, but not the multiplication sign
  if (c < 0x0400 || c > 0x04FF) return c;
  if (c <= 0x040F) return c + 0x50;  // Ѐ..Џ
  if (c <= 0x042F) return c + 0x20;  // А..Я
  // From Ѡ on, most capitals sit at even code points just before their small letter.
  if ((c >= 0x0460 && c <= 0x0481) || (c >= 0x048A && c <= 0x04BF) || c >= 0x04D0)
    return (c % 2 == 0) ? c + 1 : c;
  if (c == 0x04C0) return 0x04CF;
  if (c >= 0x04C1 && c <= 0x04CE) return (c % 2 == 1) ? c + 1 : c;
  return c;
}

std::u16string FoldCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = FoldCase(c);
  return out;
}

std::string FoldCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t start = i;
    const auto code = DecodeOne(utf8, i);
    if (code && *code < 0x500) {
      AppendUtf8(out, FoldCase(static_cast<char16_t>(*code)));
    } else {
      out.append(utf8.substr(start, i - start));
    }
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) AppendUtf16(out, DecodeOne(utf8, i).value_or(kReplacement));
  return out;
}

bool IsWellFormedUtf8(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    if (!DecodeOne(utf8, i)) return false;
  }
  return true;
}

std::optional<std::u16string> DecodeUtf8Strict(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto code = DecodeOne(utf8, i);
    if (!code) return std::nullopt;
    AppendUtf16(out, *code);
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 2);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t code = utf16[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = kReplacement;
    }
    AppendUtf8(out, code);
  }
  return out;
}

}  // namespace orx
