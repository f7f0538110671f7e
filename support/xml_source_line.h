#pragma once
// The text of one line of an XML document's source, for parse-error messages.
#include <cstddef>
#include <string>
#include <string_view>

namespace orx {

// Line lineNumber (1-based, lines ended by LF, a CR before the LF dropped) of
// the document bytes, as UTF-8 and cut to its first maxChars characters. The
// encoding is told by a byte-order mark, the first bytes, or the declaration,
// as the parser tells it; bytes that do not decode become U+FFFD. Empty when
// the line does not exist. Never throws but for exhausted memory.
std::string XmlSourceLine(std::string_view bytes, int lineNumber, std::size_t maxChars);

}  // namespace orx
