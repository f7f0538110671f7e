#pragma once
// Conversions between the two text forms: UTF-8 (narrow, used inside the
// program) and UTF-16 code units (wide, where a wide form is part of an
// operation's contract).
#include <optional>
#include <string>
#include <string_view>

namespace orx {

// Appends one code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t code);

// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// Strict decoding: nullopt when the bytes are not well-formed UTF-8
// (overlong forms, surrogates and code points above U+10FFFF included).
std::optional<std::u16string> DecodeUtf8Strict(std::string_view utf8);
// Whether DecodeUtf8Strict would succeed, without making the decoded copy.
bool IsWellFormedUtf8(std::string_view utf8);

}  // namespace orx
