// Runs the built program the way a script would and reads what it recorded.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <ostream>

#include "testing/event_log_reader.h"
#include "testing/test_support.h"

namespace orx {
namespace {

using ::orx::testing::ReadEventLog;
using ::orx::testing::RunProcess;
using ::orx::testing::ScratchDir;

struct MissingFieldCase {
  std::vector<std::string> arguments;
  std::string parameterText;
  std::string message;
};

void PrintTo(const MissingFieldCase& c, std::ostream* out) { *out << '"' << c.parameterText << '"'; }

class MissingFieldTest : public ::testing::TestWithParam<MissingFieldCase> {};

TEST_P(MissingFieldTest, ExitsTwoWithOneRecordAndRunsNoJob) {
  const MissingFieldCase& c = GetParam();
  ScratchDir dir;
  const std::string log = dir / "events.jsonl";
  const auto result = RunProcess(ORX_EXECUTABLE, c.arguments,
                                 {"ORX_EVENT_LOG=" + log, "DISPLAY=", "WAYLAND_DISPLAY=",
                                  "QT_QPA_PLATFORM=", "TMPDIR=" + dir.path().string()});
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.standardError, "");  // no job wrote to the log pane
  const auto records = ReadEventLog(log);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].source, "ОРХ РФ");
  EXPECT_EQ(records[0].type, EventType::Error);
  EXPECT_EQ(records[0].category, 7);
  EXPECT_EQ(records[0].eventId, 0x40000103u);
  EXPECT_EQ(records[0].strings,
            (std::vector<std::string>{"TFormMain.TntFormCreate", c.message + c.parameterText}));
  // No job ran: nothing was prepared in the temporary folder.
  EXPECT_FALSE(std::filesystem::exists(dir.path() / ("convertor-orx-" + std::to_string(getuid()))));
}

INSTANTIATE_TEST_SUITE_P(
    Checks, MissingFieldTest,
    ::testing::Values(
        MissingFieldCase{{"a.xml, ,k.cod,s.xsd,HIDE"}, "a.xml, ,k.cod,s.xsd,HIDE",
                         "В параметрах не указан выходной каталог: "},
        MissingFieldCase{{"' ',out,k.cod,s.xsd,HIDE"}, "' ',out,k.cod,s.xsd,HIDE",
                         "В параметрах не указан входной файл: "},
        MissingFieldCase{{"a.xml,", "out,", "\"\",", "s.xsd,", "HIDE"},
                         "a.xml, out, \"\", s.xsd, HIDE", "В параметрах не указан i.cod: "},
        MissingFieldCase{{"a.xml,out,k.cod,'',HIDE"}, "a.xml,out,k.cod,'',HIDE",
                         "В параметрах не указан *.xsd: "},
        // The first failing check wins.
        MissingFieldCase{{" , , , ,HIDE"}, " , , , ,HIDE",
                         "В параметрах не указан входной файл: "}));

TEST(ProgramOptionsTest, VersionAndHelp) {
  const auto version = RunProcess(ORX_EXECUTABLE, {"--version"}, {"DISPLAY="});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.standardOutput, "4.1.1.1\n");

  const auto help = RunProcess(ORX_EXECUTABLE, {"--help"}, {"DISPLAY="});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.standardOutput.find("SERVER_ORX"), std::string::npos);
  EXPECT_NE(help.standardOutput.find("HIDE"), std::string::npos);
}

TEST(BatchRunTest, FailedJobExitsOneWithoutDisplayAndEchoesItsLines) {
  ScratchDir dir;
  const std::string log = dir / "events.jsonl";
  const std::string missingKey = dir / "нет.cod";
  const auto result = RunProcess(
      ORX_EXECUTABLE, {"a.xml," + dir.path().string() + "," + missingKey + ",s.xsd,HIDE"},
      {"ORX_EVENT_LOG=" + log, "DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=",
       "TMPDIR=" + dir.path().string()});
  EXPECT_EQ(result.exitStatus, 1);
  // The job's one log-pane line goes to standard error.
  EXPECT_EQ(result.standardError.rfind("ошибка: Cannot open file \"" + missingKey + "\".", 0), 0u)
      << result.standardError;
  const auto records = ReadEventLog(log);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].strings.at(0), "TFormMain.LoadParamsFromICod");
  EXPECT_EQ(records[1].strings.at(0), "TFormMain.XmlToCod");
  EXPECT_EQ(records[0].strings.at(1), records[1].strings.at(1));
}

}  // namespace
}  // namespace orx
