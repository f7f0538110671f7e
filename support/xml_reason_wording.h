#pragma once
// The operator reads libxml2's reasons (parser and schema validator) in the
// program's own Russian wording. Names, values, expected elements and line
// numbers that a reason carries are kept as libxml2 gave them.
#include <string>
#include <string_view>

namespace orx {

// The wording of one libxml2 reason (a parser or validator error message,
// line ends at its end or inside it allowed), on one line. A reason the
// program has no wording for comes back unchanged.
std::string XmlReasonWording(std::string_view reason);

}  // namespace orx
