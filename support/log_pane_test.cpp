#include "support/log_pane.h"

#include <gtest/gtest.h>

#include <string>

namespace orx {
namespace {

TEST(StderrLogPaneViewTest, ShowsLinesAsThePaneDoesWithOtherControlsEscaped) {
  // A character across the point where the view cuts the line into slices.
  const std::string longLine = "\x1B" + std::string(64 * 1024 - 2, 'a') + "Ж\x07";
  const std::pair<std::string, std::string> cases[] = {
      {longLine, EscapeForTerminal(longLine) + "\n"},
      // A line break inside a message is a line break in the pane too; a
      // carriage return alone would overwrite what stands before it.
      {"indicate encoding !\nBytes: 0xD0\rx\n", "indicate encoding !\nBytes: 0xD0\\x0Dx\n\n"},
  };
  for (const auto& [line, shown] : cases) {
    ::testing::internal::CaptureStderr();
    StderrLogPaneView().OnLineAppended(line);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), shown);
  }
}

}  // namespace
}  // namespace orx
