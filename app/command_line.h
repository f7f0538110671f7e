#pragma once
// The command line: five comma-separated fields after the program name.
//   input XML, output folder or "SERVER_ORX", key file, schema, "HIDE"
#include <string>
#include <string_view>
#include <vector>

namespace orx {

struct CommandLineFields {
  std::string xmlPath;       // field 1
  std::string outputFolder;  // field 2, or "SERVER_ORX"
  std::string keyFilePath;   // field 3
  std::string xsdPath;       // field 4
  bool batchMode = false;    // field 5 is exactly "HIDE"
  bool toServer() const { return outputFolder == "SERVER_ORX"; }
};

// The arguments after the program name joined by single blanks (UTF-8).
std::string ParameterTextFromArguments(int argc, const char* const* argv);

// "--help" or its short form "-h".
bool IsHelpOption(std::string_view argument);

// Splits at commas (runs of commas count as one), then trims each field: the
// ordinary trim (code <= 32), then quotes, apostrophes and blanks at both ends.
CommandLineFields SplitParameterText(std::string_view parameterText);

// Fields 1 to count of a parameter text, split and trimmed the same way.
std::vector<std::string> SplitFields(std::string_view parameterText, int count);

}  // namespace orx
