#include "support/text.h"

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/kelma_win.h"

namespace orx {
namespace {

struct WellFormedRow {
  std::string utf8;
  std::u16string utf16;
};

const WellFormedRow kWellFormed[] = {
    {"", u""},
    {"a/b.xml", u"a/b.xml"},
    {std::string("\0x", 2), std::u16string(u"\0x", 2)},
    {"\xD0\x96\xD1\x8F", u"\u0416\u044F"},                     // two-byte
    {"\xE2\x84\x96\xE2\x82\xAC", u"\u2116\u20AC"},             // three-byte
    {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},                     // U+1F600
    {"\xF0\x90\x80\x80", u"\xD800\xDC00"},                     // U+10000
    {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},                     // U+10FFFF
    {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80", u"\u007F\u0080\u07FF\u0800"},  // boundaries
};

TEST(Text, WellFormedTextConvertsBothWays) {
  for (const auto& row : kWellFormed) {
    EXPECT_EQ(Utf8ToUtf16(row.utf8), row.utf16) << row.utf8;
    EXPECT_EQ(DecodeUtf8Strict(row.utf8), row.utf16) << row.utf8;
    EXPECT_EQ(Utf16ToUtf8(row.utf16), row.utf8) << row.utf8;
  }
}

struct MalformedRow {
  const char* what;
  std::string utf8;
  std::u16string lenient;  // what the replacing decoder gives
};

const MalformedRow kMalformed[] = {
    {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
    {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
    {"overlong four-byte", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"high surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
    {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"five-byte lead", "\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"lone continuation", "\x80z", u"\uFFFDz"},
    {"truncated at the end", "ab\xE2\x82", u"ab\uFFFD\uFFFD"},
    {"truncated four-byte", "\xF0\x9F\x98", u"\uFFFD\uFFFD\uFFFD"},
    // The byte that breaks a sequence is not swallowed with it.
    {"interrupted", "\xE2\x82/x", u"\uFFFD\uFFFD/x"},
    {"interrupted by a lead", "\xC3\xD0\x96", u"\uFFFD\u0416"},
};

TEST(Text, MalformedUtf8IsRejectedOrReplaced) {
  for (const auto& row : kMalformed) {
    EXPECT_EQ(DecodeUtf8Strict(row.utf8), std::nullopt) << row.what;
    EXPECT_EQ(Utf8ToUtf16(row.utf8), row.lenient) << row.what;
  }
}

TEST(Text, UnpairedSurrogatesBecomeReplacementCharacters) {
  const struct {
    std::u16string utf16;
    const char* utf8;
  } rows[] = {
      {u"a\xD800", "a\xEF\xBF\xBD"},
      {u"\xDC00z", "\xEF\xBF\xBDz"},
      {u"\xD800\xD800\xDC00", "\xEF\xBF\xBD\xF0\x90\x80\x80"},
      {u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& row : rows) EXPECT_EQ(Utf16ToUtf8(row.utf16), row.utf8);
}

TEST(Text, ParseDecimalTakesSignedDigitsOnly) {
  // Trimmed first, as the readers of document values do.
  const std::pair<std::string, std::optional<std::int64_t>> cases[] = {
      {"2", 2},         {" -1 ", -1},        {"+7", 7},       {"\t0042\r\n", 42},
      {"9223372036854775807", INT64_MAX},    {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt}, {"-9223372036854775809", std::nullopt},
      {"", std::nullopt},    {"  ", std::nullopt}, {"-", std::nullopt},  {"+-5", std::nullopt},
      {"1 2", std::nullopt}, {"0x10", std::nullopt}, {"2.0", std::nullopt}, {"\v1", std::nullopt},
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(ParseDecimal(TrimWhiteSpace(text)), value) << text;
  }
}

// Every comparison without regard to letter case folds through FoldCase;
// the file masks and the string toolkit are held to the table here too.
TEST(Text, FoldCaseLowersLatinAndCyrillicLettersOnly) {
  const struct {
    std::string text;
    std::string folded;
  } rows[] = {
      {"ABC xyz 019", "abc xyz 019"},
      {"ÀÉÎÕÜÞ", "àéîõüþ"},
      {"×÷ßÿ", "×÷ßÿ"},  // signs and letters without a one-letter capital
      {"ЁЂЏ АЯ", "ёђџ ая"},
      {"ҐЄІЇЎ", "ґєіїў"},
      {"ѢѲѴ", "ѣѳѵ"},
      {"ӀӁӍ", "ӏӂӎ"},
      {"ӐӘӨ", "ӑәө"},
      {"ґ№€Ԁ", "ґ№€Ԁ"},
      {"\xD0\xD0\x96", "\xD0\xD0\xB6"},  // a broken sequence stays as it is
  };
  for (const auto& row : rows) {
    EXPECT_EQ(FoldCase(row.text), row.folded) << row.text;
    EXPECT_EQ(FoldCase(Utf8ToUtf16(row.text)), Utf8ToUtf16(row.folded)) << row.text;
    EXPECT_TRUE(MatchesMask(row.text, row.folded)) << row.text;
    EXPECT_EQ(NthTextPos(row.folded, row.text, 1, 0, false), 1) << row.text;
    const std::u16string wide = Utf8ToUtf16(row.text);
    EXPECT_EQ(NthTextPos(wide, Utf8ToUtf16(row.folded), 1, 0, false), 1) << row.text;
  }
}

}  // namespace
}  // namespace orx
