#include "support/kelma_win.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/text.h"

namespace orx {
namespace {

// Tables are written once in UTF-8 and run through both text forms.
template <class C>
std::basic_string<C> As(std::string_view text) {
  if constexpr (sizeof(C) == 1) {
    return std::string(text);
  } else {
    return Utf8ToUtf16(text);
  }
}
std::string Back(const std::string& text) { return text; }
std::string Back(const std::u16string& text) { return Utf16ToUtf8(text); }

template <class C>
class BothForms : public ::testing::Test {};
using Forms = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(BothForms, Forms);

enum class Cut { Pos, After, Nth, Before };

struct CutRow {
  Cut op;
  const char* delim;
  const char* text;
  int n;
  int skip;
  bool caseSensitive;
  const char* expected;  // a position for Pos and Nth
};

const CutRow kCutRows[] = {
    {Cut::Pos, "ab", "aab", 0, 0, true, "2"},
    {Cut::Pos, "", "abc", 0, 0, true, "0"},
    {Cut::Pos, "abcd", "abc", 0, 0, true, "0"},
    {Cut::Pos, "X", "aXx", 0, 0, true, "2"},
    {Cut::After, "//", "ab//cd:8443/e", 1, 0, true, "cd:8443/e"},
    {Cut::After, ",", "a,b,c", 0, 0, true, "c"},
    {Cut::After, ",", "a,b,c", 3, 0, true, ""},
    {Cut::After, ":", "x:", 1, 0, true, ""},
    {Cut::After, "aa", "aaa", 0, 0, true, "a"},
    {Cut::After, "aa", "aaaa", 2, 0, true, ""},
    {Cut::After, ",", "a,b,c", 1, 2, true, "c"},
    {Cut::After, ",", "a,b,c", 1, 9, true, ""},
    {Cut::After, ",", "a,b", -1, 0, true, ""},
    {Cut::After, "X", "aXbxc", 2, 0, false, "c"},
    {Cut::After, "x", "aXbXc", 1, 0, false, "bXc"},
    {Cut::After, "ж", "аЖбжв", 1, 0, true, "в"},
    {Cut::Nth, ",", "a,b,c", 2, 0, true, "4"},
    {Cut::Nth, ",", "a,b,c", 0, 0, true, "4"},
    {Cut::Nth, ",", "a,b,c", 3, 0, true, "0"},
    {Cut::Nth, "::", "a::b::c", 0, 0, true, "5"},
    {Cut::Nth, ":::", "a::b", 0, 0, true, "0"},
    {Cut::Nth, ",", "a,b", 1, 3, true, "0"},
    {Cut::Nth, ",", "a,b,c", 1, 2, true, "4"},
    {Cut::Nth, "x", "aXbxc", 2, 0, false, "4"},
    {Cut::Nth, "x", "aXbxc", 2, 0, true, "0"},
    {Cut::Before, "\\", "C:\\a\\b.xml", 0, 0, true, "C:\\a"},
    {Cut::Before, ":", "host:443", 1, 0, true, "host"},
    {Cut::Before, ":", ":443", 1, 0, true, ""},
    {Cut::Before, ",", "a,b,c", 1, 2, true, "a,b"},
    {Cut::Before, "X", "aBxC", 1, 0, false, "aB"},
};

template <class C>
std::string RunCut(const CutRow& row) {
  const auto delim = As<C>(row.delim);
  const auto text = As<C>(row.text);
  switch (row.op) {
    case Cut::Pos:
      return std::to_string(TextPos(delim, text));
    case Cut::After:
      return Back(TextAfter(delim, text, row.n, row.skip, row.caseSensitive));
    case Cut::Nth:
      return std::to_string(NthTextPos(delim, text, row.n, row.skip, row.caseSensitive));
    case Cut::Before:
      return Back(TextBefore(delim, text, row.n, row.skip, row.caseSensitive));
  }
  return {};
}

TYPED_TEST(BothForms, CuttingOperationsFollowTheTable) {
  for (const CutRow& row : kCutRows) {
    // Positions count bytes in one form and UTF-16 units in the other, so
    // non-ASCII rows in the table have texts as results.
    EXPECT_EQ(RunCut<TypeParam>(row), row.expected)
        << "op " << static_cast<int>(row.op) << " delim '" << row.delim << "' text '"
        << row.text << "' n " << row.n << " skip " << row.skip;
  }
}

TEST(Kelma, CaseInsensitiveWideSearchFoldsCyrillicAndKeepsLetterCase) {
  EXPECT_EQ(TextAfter(u"Ж", u"аЖбжв", 2, 0, false), u"в");
  EXPECT_EQ(NthTextPos(u"ё", u"ЁаЁ", 0, 0, false), 3);
  EXPECT_EQ(TextBefore(u"é", u"CafÉs", 1, 0, false), u"Caf");
  // The narrow form folds UTF-8 letters in place, so byte positions still hold.
  EXPECT_EQ(TextAfter("Ж", "аЖбжв", 2, 0, false), "в");
}

struct StrTranRow {
  const char* text;
  const char* oldText;
  const char* newText;
  int start;
  int maxCount;
  const char* expected;
};

const StrTranRow kStrTranRows[] = {
    {"/sync//hello", "//", "/", 1, -1, "/sync/hello"},
    {"a////b", "//", "/", 1, -1, "a//b"},
    {"a///b", "//", "/", 1, -1, "a//b"},
    {"//", "//", "/", 1, -1, "/"},
    {"///", "//", "/", 1, -1, "/"},
    {"////", "//", "/", 1, -1, "/"},
    {"abb", "ab", "a", 1, -1, "a"},
    {"//", "//", "/", 2, -1, "/"},
    {"x-y-z", "-", "+", 2, -1, "x-y+z"},
    {"x-y-z", "-", "+", 1, 1, "x+y-z"},
    {"x-y-z", "-", "+", 1, 0, "x+y+z"},
    {"x-y-z", "-", "+", 3, -1, "x-y-z"},
    {"x-y", "-", "-", 1, -1, "x-y"},
    {"x-y", "-", "+", 0, -1, "x-y"},
    {"x-y", "", "+", 1, -1, "x-y"},
    {"aXa", "a", "", 1, -1, "X"},
    {"a", "a", "", 1, -1, ""},
    {"aaa", "a", "aa", 1, -1, "aaaaaa"},
    {"путь//к", "//", "/", 1, -1, "путь/к"},
};

TYPED_TEST(BothForms, StrTranFollowsTheTable) {
  for (const StrTranRow& row : kStrTranRows) {
    EXPECT_EQ(Back(StrTran(As<TypeParam>(row.text), As<TypeParam>(row.oldText),
                           As<TypeParam>(row.newText), row.start, row.maxCount)),
              row.expected)
        << row.text << " / " << row.oldText << " -> " << row.newText << " from " << row.start
        << " max " << row.maxCount;
  }
}

TYPED_TEST(BothForms, ExpandEnvVarsReplacesDefinedNamesOnly) {
  ASSERT_EQ(setenv("ORX_KW_HOME", "/home/оператор", 1), 0);
  ASSERT_EQ(setenv("ORX_KW_Case", "exact", 1), 0);
  ASSERT_EQ(setenv("ORX_KW_CASE", "upper", 1), 0);
  unsetenv("ORX_KW_UNDEFINED");
  const struct {
    const char* text;
    const char* expected;
  } rows[] = {
      {"%ORX_KW_HOME%/a.xml", "/home/оператор/a.xml"},
      {"%orx_kw_home%/a.xml", "/home/оператор/a.xml"},
      {"%ORX_KW_Case%", "exact"},
      {"%ORX_KW_CASE%", "upper"},
      {"%ORX_KW_UNDEFINED%/more", "%ORX_KW_UNDEFINED%/more"},
      {"a%ORX_KW_UNDEFINED%b%ORX_KW_HOME%", "a%ORX_KW_UNDEFINED%b/home/оператор"},
      {"%ORX_KW_HOME%%ORX_KW_HOME%", "/home/оператор/home/оператор"},
      {"100% sure", "100% sure"},
      {"%%", "%%"},
      {"%ORX_KW_HOME", "%ORX_KW_HOME"},
      {"%ORX_KW_HOME=x%", "%ORX_KW_HOME=x%"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Back(ExpandEnvVars(As<TypeParam>(row.text))), row.expected) << row.text;
  }
  unsetenv("ORX_KW_HOME");
  unsetenv("ORX_KW_Case");
  unsetenv("ORX_KW_CASE");
}

TYPED_TEST(BothForms, ExpandEnvVarsLeavesTextAloneWhenTheResultWouldBeTooLong) {
  // 10,000 Cyrillic letters: 20,000 bytes but 10,000 UTF-16 units.
  std::string value;
  for (int i = 0; i < 10000; ++i) value += "ж";
  ASSERT_EQ(setenv("ORX_KW_LONG", value.c_str(), 1), 0);
  const auto three = As<TypeParam>("%ORX_KW_LONG%%ORX_KW_LONG%%ORX_KW_LONG%");
  EXPECT_EQ(Back(ExpandEnvVars(three)), value + value + value);
  const auto four = As<TypeParam>("%ORX_KW_LONG%%ORX_KW_LONG%%ORX_KW_LONG%%ORX_KW_LONG%");
  EXPECT_EQ(ExpandEnvVars(four), four);
  unsetenv("ORX_KW_LONG");
}

TEST(Kelma, WordsFollowTheTable) {
  const struct {
    const char* text;
    const char* delims;
    int n;
    const char* word;
    int position;
  } rows[] = {
      {"a.xml,,out", ",", 2, "out", 8},
      {",a", ",", 1, "a", 2},
      {"a,b", ",", 0, "b", 3},
      {"a,b", ",", 3, "", 0},
      {",,,", ",", 0, "", 0},
      {",,,", ",", 1, "", 0},
      {"a , b", ",", 1, "a ", 1},
      {"a , b", ",", 2, " b", 4},
      {"a,b", ",", -1, "", 0},
      {"  ab cd", "", 2, "cd", 6},
      {"№5\tдом;кв", "", 2, "дом", 4},
      {"x№y", "", 0, "y", 3},
      {"a;b,c", ";,", 3, "c", 5},
  };
  for (const auto& row : rows) {
    const std::u16string text = Utf8ToUtf16(row.text);
    const std::u16string delims = Utf8ToUtf16(row.delims);
    EXPECT_EQ(Utf16ToUtf8(ExtractWord(text, delims, row.n)), row.word) << row.text << " " << row.n;
    EXPECT_EQ(WordPosition(text, delims, row.n), row.position) << row.text << " " << row.n;
  }
}

TEST(Kelma, TrimCharsRemoveOnlyTheirOwnEnd) {
  const std::u16string_view quotes = u"\"' ";
  const struct {
    const char16_t* text;
    const char16_t* chars;
    const char16_t* left;
    const char16_t* right;
  } rows[] = {
      {u" \"C:\\a b.xml\" ", quotes.data(), u"C:\\a b.xml\" ", u" \"C:\\a b.xml"},
      {u"'\" '", quotes.data(), u"", u""},
      {u"abc", u"", u"abc", u"abc"},
      {u"ж№жaж", u"ж№", u"aж", u"ж№жa"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(TrimCharsLeft(row.text, row.chars), row.left);
    EXPECT_EQ(TrimCharsRight(row.text, row.chars), row.right);
  }
  EXPECT_EQ(TrimCharsRight(TrimCharsLeft(u" 'a b' ", quotes), quotes), u"a b");
}

TEST(Kelma, PadLeftFollowsTheTable) {
  const struct {
    const char* text;
    int width;
    const char* expected;
  } rows[] = {
      {"7", 3, "007"}, {"123", 3, "123"}, {"1234", 3, "234"}, {"", 2, "00"},
      {"5", 0, ""},    {"5", -2, ""},     {"", -1, ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(PadLeft(row.text, '0', row.width), row.expected) << row.text << " " << row.width;
  }
}

TEST(Kelma, UrlEncodeFollowsTheTable) {
  const struct {
    std::string text;
    bool spaceAsPlus;
    const char* expected;
  } rows[] = {
      {"a b", true, "a+b"},
      {"a b", false, "a%20b"},
      {"x=1&y", true, "x%3D1%26y"},
      {"-._~", true, "%2D%2E%5F%7E"},
      {"\xD0\xB6", true, "%D0%B6"},
      {std::string("\0\xFF+", 3), true, "%00%FF%2B"},
      {"AZaz09", false, "AZaz09"},
      {"", true, ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(UrlEncode(row.text, row.spaceAsPlus), row.expected) << row.text;
  }
}

}  // namespace
}  // namespace orx
