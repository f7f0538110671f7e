// The command line is split into fields: any bytes must give five fields
// without crashing, and a field never keeps quotes or blanks at its ends.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/command_line.h"

namespace {

void CheckTrimmed(const std::string& field) {
  if (field.empty()) return;
  const auto edge = [](char c) { return c == '"' || c == '\'' || c == ' '; };
  if (edge(field.front()) || edge(field.back())) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const orx::CommandLineFields fields = orx::SplitParameterText(text);
  CheckTrimmed(fields.xmlPath);
  CheckTrimmed(fields.outputFolder);
  CheckTrimmed(fields.keyFilePath);
  CheckTrimmed(fields.xsdPath);
  return 0;
}
