// Runs the built program the way a script would and reads what it recorded.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "package/cipher.h"
#include "testing/event_log_reader.h"
#include "testing/https_test_server.h"
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
  // The record's text, for the person at the terminal; no job wrote anything.
  EXPECT_EQ(result.standardError, c.message + c.parameterText + "\n");
  EXPECT_EQ(result.standardOutput, "");
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

// Start-ups that must not load the GUI toolkit. LD_DEBUG makes the loader
// name every library it opens on standard error.
struct StartCase {
  const char* name;
  std::vector<std::string> arguments;
  bool awayFromWindowModule;  // run a copy of the program in a folder of its own
  int exitStatus;
  std::vector<std::string> outputTexts;  // each somewhere on standard output
  std::vector<std::string> errorTexts;   // each somewhere on standard error
};

void PrintTo(const StartCase& c, std::ostream* out) { *out << c.name; }

class StartWithoutToolkitTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartWithoutToolkitTest, ExitsAsExpectedAndLoadsNoQt) {
  const StartCase& c = GetParam();
  ScratchDir dir;
  std::string program = ORX_EXECUTABLE;
  if (c.awayFromWindowModule) {
    program = dir / "convertor-orx";
    std::filesystem::copy_file(ORX_EXECUTABLE, program);
  }
  std::vector<std::string> arguments = c.arguments;
  for (std::string& argument : arguments) {
    if (argument == "DIR") argument = dir.path().string();
  }
  const auto result =
      RunProcess(program, arguments,
                 {"LD_DEBUG=libs", "DISPLAY=:0", "QT_QPA_PLATFORM=", "ORX_EVENT_LOG=" + (dir / "e"),
                  "TMPDIR=" + dir.path().string()});
  EXPECT_EQ(result.exitStatus, c.exitStatus) << result.standardError;
  for (const std::string& text : c.outputTexts) {
    EXPECT_NE(result.standardOutput.find(text), std::string::npos) << text;
  }
  for (const std::string& text : c.errorTexts) {
    EXPECT_NE(result.standardError.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(result.standardError.find("libQt6"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, StartWithoutToolkitTest,
    ::testing::Values(
        StartCase{"version", {"--version"}, false, 0, {"4.1.1.1\n"}, {}},
        StartCase{"help", {"--help"}, false, 0,
                  {"SERVER_ORX", "HIDE", "--check", "--inspect", "ORX_TRACE=1"}, {}},
        StartCase{"check tool", {"--check", "a.xml,", "DIR/none.cod,", "s.xsd"}, false, 1, {},
                  {"ошибка: "}},
        StartCase{"short help", {"-h"}, false, 0, {"SERVER_ORX", "HIDE"}, {}},
        StartCase{"batch", {"a.xml,DIR,DIR/none.cod,s.xsd,HIDE"}, false, 1, {}, {"ошибка: "}},
        StartCase{"no window module", {"a.xml,DIR,k.cod,s.xsd"}, true, 2, {},
                  {"convertor-orx-window.so", "HIDE"}}));

TEST(ProgramOptionsTest, WithoutDisplayTheWindowSaysWhatToDo) {
  for (const char* arguments : {"", "a.xml,out,k.cod,s.xsd"}) {
    const auto result =
        RunProcess(ORX_EXECUTABLE, {arguments},
                   {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "ORX_EVENT_LOG=/dev/null"});
    EXPECT_EQ(result.exitStatus, 2) << arguments;
    EXPECT_EQ(std::count(result.standardError.begin(), result.standardError.end(), '\n'), 1)
        << result.standardError;
    EXPECT_NE(result.standardError.find("HIDE"), std::string::npos) << result.standardError;
    EXPECT_NE(result.standardError.find("--help"), std::string::npos) << result.standardError;
  }
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

namespace orx {
namespace {

using ::orx::testing::ClientCertRequest;
using ::orx::testing::HttpsTestServer;
using ::orx::testing::Reply;
using ::orx::testing::TestPki;

std::string KeyFileFor(const ScratchDir& dir, int port) {
  const std::string portText = std::to_string(port);
  std::string xml =
      R"(<?xml version="1.0" encoding="UTF-8"?><DATAPACKET><ROWDATA><ROW PK_Code="FA" orxn="7" )"
      R"(NumLocale="1" orxk="0123456789ABCDEF0123456789ABCDEF" sadr="https://127.0.0.1:)" +
      portText + R"(/" sport=")" + portText + R"("/></ROWDATA></DATAPACKET>)";
  EncryptCodStream(xml, "");
  return dir.Write("i.cod", xml);
}

struct VerdictCase {
  const char* saveReply;
  int exitStatus;
  const char* lastLine;
};

void PrintTo(const VerdictCase& c, std::ostream* out) { *out << c.saveReply; }

class BatchServerRunTest : public ::testing::TestWithParam<VerdictCase> {};

// The whole dialogue through the built program, with a client certificate the
// servers require: the exit status follows the server's verdict.
TEST_P(BatchServerRunTest, ExitStatusFollowsTheVerdict) {
  const VerdictCase& c = GetParam();
  ScratchDir dir;
  auto pki = std::make_shared<TestPki>();
  pki->MakeClientCert("/O=Test/CN=Office 7 Form A", orx::testing::CertFormat::Pem,
                      dir.path() / "certs" / "office.pem");

  HttpsTestServer::Options cdbOptions;
  cdbOptions.pki = pki;
  cdbOptions.clientCert = ClientCertRequest::Required;
  cdbOptions.script = {{"/cdb/version", {Reply("<r><certificate/></r>")}},
                       {"/cdb/save", {Reply(c.saveReply)}}};
  HttpsTestServer cdb(cdbOptions);

  HttpsTestServer::Options dispatcherOptions;
  dispatcherOptions.pki = pki;
  dispatcherOptions.clientCert = ClientCertRequest::Required;
  dispatcherOptions.script = {
      {"/sync/hello",
       {Reply("<hello><exchangeProtocol version=\"2\"/><cdb host=\"127.0.0.1\" port=\"" +
              std::to_string(cdb.port()) + "\" path=\"/cdb/\"/></hello>")}}};
  HttpsTestServer dispatcher(dispatcherOptions);

  const std::string key = KeyFileFor(dir, dispatcher.port());
  const std::string log = dir / "events.jsonl";
  const std::string examples = orx::testing::SourceDir() + "/examples/";
  const auto result = RunProcess(
      ORX_EXECUTABLE,
      {examples + "certificates.xml,SERVER_ORX," + key + "," + examples + "FA.xsd,HIDE"},
      {"ORX_EVENT_LOG=" + log, "DISPLAY=", "WAYLAND_DISPLAY=", "SSL_CERT_FILE=" + pki->caFile(),
       "ORX_CERT_STORE=" + (dir / "certs"), "TMPDIR=" + dir.path().string(),
       "https_proxy=", "HTTPS_PROXY=", "all_proxy=", "ALL_PROXY="});
  EXPECT_EQ(result.exitStatus, c.exitStatus) << result.standardError;
  const std::string lastLine = "Синхронизация завершена\n";
  EXPECT_TRUE(result.standardError.ends_with(lastLine)) << result.standardError;
  EXPECT_NE(result.standardError.find(c.lastLine), std::string::npos) << result.standardError;
  const auto records = ReadEventLog(log);
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records.back().strings, std::vector<std::string>{"Конец передачи"});
  EXPECT_EQ(dispatcher.requests().size(), 1u);
  EXPECT_EQ(dispatcher.requests().at(0).clientCertSubject, "CN=Office 7 Form A,O=Test");
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, BatchServerRunTest,
    ::testing::Values(VerdictCase{"<r><status>0</status></r>", 0, ""},
                      VerdictCase{"<r><status>9</status><status-text>Отказ</status-text></r>", 1,
                                  ""},
                      VerdictCase{"не XML", 1, "есть критические ошибки"}));

TEST(BatchPackageRunTest, WritesThePackageFileAndExitsZero) {
  ScratchDir dir;
  const std::string examples = orx::testing::SourceDir() + "/examples/";
  const std::string log = dir / "events.jsonl";
  const std::string out = dir / "выход";
  std::filesystem::create_directory(out);
  const auto result = RunProcess(
      ORX_EXECUTABLE,
      {examples + "certificates.xml,", out + ",", examples + "FA_007_01_i.cod,",
       examples + "FA.xsd,", "HIDE"},
      {"ORX_EVENT_LOG=" + log, "DISPLAY=", "WAYLAND_DISPLAY=", "TMPDIR=" + dir.path().string()});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_EQ(result.standardError, "");
  EXPECT_TRUE(ReadEventLog(log).empty());
  int packages = 0;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name.starts_with("FA_007_01_") && name.ends_with("_x.zip.cod")) << name;
    // Its absolute path is the one line on standard output.
    EXPECT_EQ(result.standardOutput, entry.path().string() + "\n");
    ++packages;
  }
  EXPECT_EQ(packages, 1);
}

}  // namespace
}  // namespace orx
