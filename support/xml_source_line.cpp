#include "support/xml_source_line.h"

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <string>

#include "support/c_handle.h"
#include "support/text.h"

namespace orx {
namespace {

struct Encoding {
  std::string name;     // iconv name; empty for UTF-8
  std::size_t unit = 1;  // code unit size: 2 and 4 for the wide forms
  std::size_t skip = 0;  // byte-order mark
};

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

using namespace std::string_view_literals;

std::string DeclaredEncoding(std::string_view bytes) {
  if (!StartsWith(bytes, "<?xml")) return {};
  const std::string_view decl = bytes.substr(0, bytes.find("?>"));
  std::size_t pos = decl.find("encoding");
  if (pos == std::string_view::npos) return {};
  pos = decl.find_first_not_of(" \t\r\n", pos + 8);
  if (pos == std::string_view::npos || decl[pos] != '=') return {};
  pos = decl.find_first_not_of(" \t\r\n", pos + 1);
  if (pos == std::string_view::npos || (decl[pos] != '"' && decl[pos] != '\'')) return {};
  const std::size_t end = decl.find(decl[pos], pos + 1);
  if (end == std::string_view::npos) return {};
  return std::string(decl.substr(pos + 1, end - pos - 1));
}

bool IsUtf8Name(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper.empty() || upper == "UTF-8" || upper == "UTF8" || upper == "US-ASCII" ||
         upper == "ASCII";
}

Encoding DetectEncoding(std::string_view bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF"sv)) return {"", 1, 3};
  if (StartsWith(bytes, "\xFF\xFE\0\0"sv)) return {"UTF-32LE", 4, 4};
  if (StartsWith(bytes, "\0\0\xFE\xFF"sv)) return {"UTF-32BE", 4, 4};
  if (StartsWith(bytes, "\xFF\xFE"sv)) return {"UTF-16LE", 2, 2};
  if (StartsWith(bytes, "\xFE\xFF"sv)) return {"UTF-16BE", 2, 2};
  if (StartsWith(bytes, "<\0\0\0"sv)) return {"UTF-32LE", 4, 0};
  if (StartsWith(bytes, "\0\0\0<"sv)) return {"UTF-32BE", 4, 0};
  if (StartsWith(bytes, "<\0"sv)) return {"UTF-16LE", 2, 0};
  if (StartsWith(bytes, "\0<"sv)) return {"UTF-16BE", 2, 0};
  std::string declared = DeclaredEncoding(bytes);
  if (IsUtf8Name(declared)) declared.clear();
  return {declared, 1, 0};
}

// Appends the UTF-8 form to out; undecodable units become U+FFFD. False when
// iconv does not know the encoding.
bool ConvertToUtf8(std::string_view in, const Encoding& encoding, std::string& out) {
  iconv_t raw = iconv_open("UTF-8", encoding.name.c_str());
  if (raw == reinterpret_cast<iconv_t>(-1)) return false;
  const CHandle<void, iconv_close> cd(raw);
  char* input = const_cast<char*>(in.data());
  std::size_t inputLeft = in.size();
  char buffer[4096];
  while (inputLeft > 0) {
    char* output = buffer;
    std::size_t outputLeft = sizeof buffer;
    const std::size_t rc = iconv(cd.get(), &input, &inputLeft, &output, &outputLeft);
    out.append(buffer, static_cast<std::size_t>(output - buffer));
    if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    if (errno != EILSEQ) break;  // a sequence cut short at the end
    out += "\xEF\xBF\xBD";
    const std::size_t step = encoding.unit < inputLeft ? encoding.unit : inputLeft;
    input += step;
    inputLeft -= step;
  }
  return true;
}

std::string_view LineOf(std::string_view text, int lineNumber) {
  if (lineNumber < 1) return {};
  std::size_t start = 0;
  for (int line = 1; line < lineNumber; ++line) {
    const std::size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) return {};
    start = lf + 1;
  }
  std::string_view line = text.substr(start);
  line = line.substr(0, line.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// The first maxChars code points, invalid sequences replaced.
std::string FirstChars(std::string_view utf8, std::size_t maxChars) {
  // A code point takes at most 4 bytes and an invalid byte becomes one
  // character, so this prefix holds every character that can be kept.
  const std::u16string wide = Utf8ToUtf16(utf8.substr(0, maxChars * 4));
  std::size_t units = 0;
  for (std::size_t chars = 0; units < wide.size() && chars < maxChars; ++chars) {
    const char16_t unit = wide[units];
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && units + 1 < wide.size();
    units += pair ? 2 : 1;
  }
  return Utf16ToUtf8(std::u16string_view(wide).substr(0, units));
}

}  // namespace

std::string XmlSourceLine(std::string_view bytes, int lineNumber, std::size_t maxChars) {
  const Encoding encoding = DetectEncoding(bytes);
  bytes.remove_prefix(encoding.skip);
  if (encoding.unit > 1) {
    std::string utf8;
    if (!ConvertToUtf8(bytes, encoding, utf8)) return {};
    return FirstChars(LineOf(utf8, lineNumber), maxChars);
  }
  const std::string_view line = LineOf(bytes, lineNumber);
  if (encoding.name.empty()) return FirstChars(line, maxChars);
  std::string utf8;
  if (!ConvertToUtf8(line.substr(0, maxChars * 4), encoding, utf8)) {
    return FirstChars(line, maxChars);
  }
  return FirstChars(utf8, maxChars);
}

}  // namespace orx
