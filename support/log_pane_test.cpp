#include "support/log_pane.h"

#include <gtest/gtest.h>

#include <string>

namespace orx {
namespace {

TEST(StderrLogPaneViewTest, EscapesALongLineAsItWouldAsAWhole) {
  // A character across the point where the view cuts the line into slices.
  const std::string line = "\x1B" + std::string(64 * 1024 - 2, 'a') + "Ж\x07";
  ::testing::internal::CaptureStderr();
  StderrLogPaneView().OnLineAppended(line);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), EscapeForTerminal(line) + "\n");
}

}  // namespace
}  // namespace orx
