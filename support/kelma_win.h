#pragma once
// String toolkit. Each operation with two forms has one implementation over
// the code unit type: narrow = bytes, wide = UTF-16 code units. Positions are
// 1-based, 0 means none. The cutting operations never throw.
#include <string>
#include <string_view>

#include "support/error.h"

namespace orx {

class KelmaWinExc : public Error {
 public:
  using Error::Error;
};

int TextPos(std::string_view sub, std::string_view text);
int TextPos(std::u16string_view sub, std::u16string_view text);

// n selects the occurrence (1 = first, 0 = last); skip leading units are ignored.
std::string TextAfter(std::string_view delim, std::string_view text, int n = 1, int skip = 0,
                      bool caseSensitive = true);
std::u16string TextAfter(std::u16string_view delim, std::u16string_view text, int n = 1,
                         int skip = 0, bool caseSensitive = true);

int NthTextPos(std::string_view delim, std::string_view text, int n = 1, int skip = 0,
               bool caseSensitive = true);
int NthTextPos(std::u16string_view delim, std::u16string_view text, int n = 1, int skip = 0,
               bool caseSensitive = true);

std::string TextBefore(std::string_view delim, std::string_view text, int n = 1, int skip = 0,
                       bool caseSensitive = true);
std::u16string TextBefore(std::u16string_view delim, std::u16string_view text, int n = 1,
                          int skip = 0, bool caseSensitive = true);

// The 75 default word delimiters, used when a caller passes an empty set.
extern const std::u16string_view DefaultWordDelims;

int WordPosition(std::u16string_view text, std::u16string_view delims, int n);
std::u16string ExtractWord(std::u16string_view text, std::u16string_view delims, int n);

std::u16string TrimCharsLeft(std::u16string_view text, std::u16string_view chars);
std::u16string TrimCharsRight(std::u16string_view text, std::u16string_view chars);

// Replaces %NAME% by the environment variable NAME (exact name first, then
// without regard to letter case). Undefined names and lone % stay as written.
// When the result would exceed 32,767 UTF-16 units, the text comes back as given.
std::u16string ExpandEnvVars(std::u16string_view text);
// The same on UTF-8 text, for paths held as std::string.
std::string ExpandEnvVars(std::string_view utf8);

// Throws KelmaWinExc("StrTran:" + reason) on any internal failure.
std::u16string StrTran(std::u16string_view text, std::u16string_view oldText,
                       std::u16string_view newText, int startOccurrence, int maxCount);
std::string StrTran(std::string_view text, std::string_view oldText, std::string_view newText,
                    int startOccurrence, int maxCount);

std::string PadLeft(std::string_view text, char fill, int width);
std::string UrlEncode(std::string_view text, bool spaceAsPlus);

}  // namespace orx
