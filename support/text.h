#pragma once
// Conversions between the two text forms: UTF-8 (narrow, used inside the
// program) and UTF-16 code units (wide, where a wide form is part of an
// operation's contract).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orx {

// The length (1 to 4) of the well-formed UTF-8 sequence that text starts
// with; 0 when it starts with none (empty text, a stray or missing
// continuation byte, an overlong form, a surrogate or a code point above
// U+10FFFF). Every reader of UTF-8 in the program goes by this.
std::size_t Utf8SequenceLength(std::string_view text);
// at, moved back to the lead byte of the sequence it falls inside (over at
// most three continuation bytes), so that text.substr(0, result) does not
// end partway through a character. At or past the end: text.size().
std::size_t Utf8Boundary(std::string_view text, std::size_t at);

// Appends one code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t code);

// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// Strict decoding: nullopt when the bytes are not well-formed UTF-8
// (overlong forms, surrogates and code points above U+10FFFF included).
[[nodiscard]] std::optional<std::u16string> DecodeUtf8Strict(std::string_view utf8);
// Whether DecodeUtf8Strict would succeed, without making the decoded copy.
bool IsWellFormedUtf8(std::string_view utf8);

// The one reading of a whole number: decimal digits with an optional sign
// and nothing else. nullopt otherwise, for a value outside 64 bits too.
[[nodiscard]] std::optional<std::int64_t> ParseDecimal(std::string_view text);
// text without the blanks, tabs, CRs and LFs at either end.
std::string_view TrimWhiteSpace(std::string_view text);

// The one letter-case fold of the program: simple lower-case mapping of Latin
// (ASCII, Latin-1) and Cyrillic (U+0400..U+04FF) letters; every other unit
// stays. A unit maps to one unit, and a UTF-8 letter to one of the same byte
// length, so positions found in a folded copy hold for the original.
char16_t FoldCase(char16_t unit);
std::u16string FoldCase(std::u16string_view text);
// Malformed UTF-8 bytes stay as they are.
std::string FoldCase(std::string_view utf8);

}  // namespace orx
