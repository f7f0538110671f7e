#include "app/command_line.h"

#include "support/kelma_win.h"
#include "support/text.h"

namespace orx {
namespace {

std::u16string OrdinaryTrim(std::u16string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && text[begin] <= u' ') ++begin;
  while (end > begin && text[end - 1] <= u' ') --end;
  return std::u16string(text.substr(begin, end - begin));
}

std::string Field(std::u16string_view text, int n) {
  constexpr std::u16string_view kQuotes = u"\"' ";
  const std::u16string word = ExtractWord(text, u",", n);
  return Utf16ToUtf8(TrimCharsRight(TrimCharsLeft(OrdinaryTrim(word), kQuotes), kQuotes));
}

}  // namespace

std::string ParameterTextFromArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

bool IsHelpOption(std::string_view argument) { return argument == "--help" || argument == "-h"; }

CommandLineFields SplitParameterText(std::string_view parameterText) {
  const std::u16string text = Utf8ToUtf16(parameterText);
  CommandLineFields fields;
  fields.xmlPath = Field(text, 1);
  fields.outputFolder = Field(text, 2);
  fields.keyFilePath = Field(text, 3);
  fields.xsdPath = Field(text, 4);
  fields.batchMode = Field(text, 5) == "HIDE";
  return fields;
}

std::vector<std::string> SplitFields(std::string_view parameterText, int count) {
  const std::u16string text = Utf8ToUtf16(parameterText);
  std::vector<std::string> fields;
  for (int n = 1; n <= count; ++n) fields.push_back(Field(text, n));
  return fields;
}

}  // namespace orx
