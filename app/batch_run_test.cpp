// Runs the built program the way a script would and reads what it recorded.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <optional>
#include <ostream>
#include <regex>

#include "app/display_probe.h"
#include "app/message_locale.h"
#include "package/cipher.h"
#include "testing/event_log_reader.h"
#include "testing/gost_pki.h"
#include "testing/https_test_server.h"
#include "testing/nginx_front.h"
#include "testing/softhsm_token.h"
#include "testing/test_support.h"
#include "testing/zip_reader.h"

namespace orx {
namespace {

using ::orx::testing::ReadEventLog;
using ::orx::testing::ReadFile;
using ::orx::testing::RunProcess;
using ::orx::testing::ScopedEnv;
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

// Start-ups that must load neither the GUI toolkit nor the HTTPS stack.
// LD_DEBUG makes the loader name every library it opens on standard error.
struct StartCase {
  const char* name;
  std::vector<std::string> arguments;
  bool awayFromModules;  // run a copy of the program and its core library in a folder of their own
  int exitStatus;
  std::vector<std::string> outputTexts;  // each somewhere on standard output
  std::vector<std::string> errorTexts;   // each somewhere on standard error
  // Away from the modules: the server module put beside the copy, made from
  // the built one; none when nullptr.
  std::string (*serverModule)(std::string built) = nullptr;
};

std::string CutShort(std::string module) { return module.substr(0, 64 * 1024); }
std::string ForAnotherMachine(std::string module) {
  module[18] = static_cast<char>(module[18] ^ 0x40);  // e_machine, in the file's byte order
  return module;
}

void PrintTo(const StartCase& c, std::ostream* out) { *out << c.name; }

class StartWithoutToolkitTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartWithoutToolkitTest, ExitsAsExpectedAndLoadsNeitherQtNorLibcurl) {
  const StartCase& c = GetParam();
  ScratchDir dir;
  std::string program = ORX_EXECUTABLE;
  const std::filesystem::path built = std::filesystem::path(ORX_EXECUTABLE).parent_path();
  if (c.awayFromModules) {
    program = dir / "convertor-orx";
    std::filesystem::copy_file(ORX_EXECUTABLE, program);
    std::filesystem::copy_file(built / "libconvertor-orx-core.so", dir / "libconvertor-orx-core.so");
    if (c.serverModule) {
      dir.Write("convertor-orx-server.so",
                c.serverModule(ReadFile(built / "convertor-orx-server.so")));
    }
  }
  std::vector<std::string> arguments = c.arguments;
  for (std::string& argument : arguments) {
    if (argument == "DIR") argument = dir.path().string();
  }
  const auto result =
      RunProcess(program, arguments,
                 {"LD_DEBUG=libs", "DISPLAY=", "QT_QPA_PLATFORM=offscreen", "ORX_EVENT_LOG=" + (dir / "e"),
                  "TMPDIR=" + dir.path().string()});
  EXPECT_EQ(result.exitStatus, c.exitStatus) << result.standardError;
  for (const std::string& text : c.outputTexts) {
    EXPECT_NE(result.standardOutput.find(text), std::string::npos) << text;
  }
  for (const std::string& text : c.errorTexts) {
    EXPECT_NE(result.standardError.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(result.standardError.find("libQt6"), std::string::npos);
  EXPECT_EQ(result.standardError.find("libcurl"), std::string::npos);
  if (c.serverModule) {
    // Ended as a job that failed: its one record.
    const auto records = ReadEventLog(dir / "e");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].strings.at(0), "TFormMain.XmlToServer");
  }
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
                  {"convertor-orx-window.so", "convertor-orx-gui", "HIDE"}},
        StartCase{"no server module", {"a.xml,SERVER_ORX,k.cod,s.xsd,HIDE"}, true, 1, {},
                  {"ошибка: не загружен модуль обмена с сервером convertor-orx-server.so"}},
        // The loader would fault on these rather than refuse them.
        StartCase{"truncated server module", {"a.xml,SERVER_ORX,k.cod,s.xsd,HIDE"}, true, 1, {},
                  {"ошибка: не загружен модуль обмена с сервером convertor-orx-server.so",
                   "convertor-orx-server.so обрезан"}, CutShort},
        StartCase{"server module of another machine", {"a.xml,SERVER_ORX,k.cod,s.xsd,HIDE"}, true,
                  1, {}, {"собран для другой архитектуры"}, ForAnotherMachine}));

TEST(ProgramOptionsTest, WithoutDisplayTheWindowSaysWhatToDo) {
  const std::vector<std::string> none = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};
  // A display named but not answering would make the toolkit abort.
  const std::vector<std::string> deadX = {"DISPLAY=:9876", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};
  const std::vector<std::string> deadWayland = {"DISPLAY=", "WAYLAND_DISPLAY=/nonexistent/wayland-0",
                                                "QT_QPA_PLATFORM="};
  const std::pair<const char*, std::vector<std::string>> runs[] = {
      {"", none}, {"a.xml,out,k.cod,s.xsd", none}, {"", deadX}, {"a.xml,out,k.cod,s.xsd", deadWayland}};
  for (auto [arguments, environment] : runs) {
    environment.push_back("ORX_EVENT_LOG=/dev/null");
    const auto result = RunProcess(ORX_EXECUTABLE, {arguments}, environment);
    EXPECT_EQ(result.exitStatus, 2) << arguments << environment[0];
    EXPECT_EQ(std::count(result.standardError.begin(), result.standardError.end(), '\n'), 1)
        << result.standardError;
    EXPECT_NE(result.standardError.find("HIDE"), std::string::npos) << result.standardError;
    EXPECT_NE(result.standardError.find("--help"), std::string::npos) << result.standardError;
  }
}

// The probe connects to the display's socket; an answering one lets the
// window start, and a platform that draws nowhere needs none.
TEST(ProgramOptionsTest, DisplayProbeAsksTheDisplayItself) {
  ScratchDir dir;
  const std::string socketPath = dir / "wayland-0";
  const UniqueFd listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listening.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listening.get(), 4), 0);
  // An X server over TCP listens at 6000 + its number; the OS picks the port.
  const UniqueFd tcp(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof loopback;
  ASSERT_EQ(::bind(tcp.get(), reinterpret_cast<sockaddr*>(&loopback), length), 0);
  ASSERT_EQ(::listen(tcp.get(), 4), 0);
  ASSERT_EQ(::getsockname(tcp.get(), reinterpret_cast<sockaddr*>(&loopback), &length), 0);
  const std::string tcpDisplay = "127.0.0.1:" + std::to_string(ntohs(loopback.sin_port) - 6000) + ".0";
  struct Case {
    const char* display;
    const char* wayland;
    const char* platform;
    bool shown;
  } cases[] = {
      {"", socketPath.c_str(), "", true},
      {":9876", socketPath.c_str(), "", true},
      {"", "wayland-0", "", true},  // beside XDG_RUNTIME_DIR
      {":9876", socketPath.c_str(), "xcb", false},
      {"", dir.path().c_str(), "", false},  // not a socket
      {"", "", "offscreen", true},
      {tcpDisplay.c_str(), "", "", true},
      {"nonsense", "", "", false},
  };
  const ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().c_str());
  for (const Case& c : cases) {
    const ScopedEnv display("DISPLAY", c.display);
    const ScopedEnv wayland("WAYLAND_DISPLAY", c.wayland);
    const ScopedEnv platform("QT_QPA_PLATFORM", c.platform);
    EXPECT_EQ(!MissingDisplay().has_value(), c.shown) << c.display << " " << c.wayland << " " << c.platform;
  }
}

// What the program prints on standard output is its answer: output that
// cannot be written (a full device, a closed stream) is a failure, not a
// success with the answer lost.
TEST(ProgramOptionsTest, StandardOutputThatCannotBeWrittenIsAFailure) {
  ScratchDir dir;
  const std::string examples = orx::testing::SourceDir() + "/examples/";
  const std::string job = examples + "certificates.xml," + dir.path().string() + "," + examples +
                          "FA_007_01_i.cod," + examples + "FA.xsd,HIDE";
  const std::string check = examples + "certificates.xml," + examples + "FA_007_01_i.cod," +
                            examples + "FA.xsd";
  const struct {
    std::vector<std::string> arguments;
    const char* redirection;
    int exitStatus;
    const char* reason;
  } cases[] = {
      {{"--help"}, ">/dev/full", 2, "No space left on device"},
      {{"--version"}, ">&-", 2, "Bad file descriptor"},
      {{"--check", check}, ">/dev/full", 1, "No space left on device"},
      {{job}, ">/dev/full", 1, "No space left on device"},
      {{job}, ">&-", 1, "Bad file descriptor"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {"-c", std::string("exec \"$0\" \"$@\" ") + c.redirection,
                                          ORX_EXECUTABLE};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const auto result = RunProcess("/bin/sh", arguments,
                                   {"ORX_EVENT_LOG=" + (dir / "events.jsonl"), "DISPLAY=",
                                    "WAYLAND_DISPLAY=", "TMPDIR=" + dir.path().string()});
    EXPECT_EQ(result.exitStatus, c.exitStatus) << c.arguments[0] << c.redirection;
    EXPECT_NE(result.standardError.find(std::string("не удалось записать в стандартный вывод: ") +
                                        c.reason),
              std::string::npos)
        << result.standardError;
  }
}

bool RussianLocaleInstalled() {
  const locale_t russian = ::newlocale(LC_ALL_MASK, "ru_RU.UTF-8", nullptr);
  if (russian == nullptr) return false;
  ::freelocale(russian);
  return true;
}

// The C library's reason follows the user's language, in UTF-8 whatever
// LC_CTYPE says.
TEST(BatchRunTest, FailedJobExitsOneWithoutDisplayAndEchoesItsLines) {
  const struct {
    std::vector<std::string> locale;
    std::string reason;
  } cases[] = {
      {{"LC_ALL=", "LANG=C.UTF-8", "LC_MESSAGES="}, "No such file or directory"},
      {{"LC_ALL=", "LANG=ru_RU.UTF-8", "LC_MESSAGES="}, "Нет такого файла или каталога"},
      {{"LC_ALL=", "LANG=", "LC_MESSAGES=ru_RU.UTF-8"}, "Нет такого файла или каталога"},
  };
  for (const auto& c : cases) {
    if (c.reason.starts_with("Нет") && !RussianLocaleInstalled()) continue;
    ScratchDir dir;
    const std::string log = dir / "events.jsonl";
    const std::string missingKey = dir / "нет.cod";
    std::vector<std::string> environment = {"ORX_EVENT_LOG=" + log, "DISPLAY=", "WAYLAND_DISPLAY=",
                                            "QT_QPA_PLATFORM=", "TMPDIR=" + dir.path().string()};
    environment.insert(environment.end(), c.locale.begin(), c.locale.end());
    const auto result = RunProcess(
        ORX_EXECUTABLE, {"a.xml," + dir.path().string() + "," + missingKey + ",s.xsd,HIDE"},
        environment);
    EXPECT_EQ(result.exitStatus, 1);
    // The job's one log-pane line goes to standard error.
    EXPECT_EQ(result.standardError,
              "ошибка: Cannot open file \"" + missingKey + "\". " + c.reason + "\n");
    const auto records = ReadEventLog(log);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].strings.at(0), "TFormMain.LoadParamsFromICod");
    EXPECT_EQ(records[1].strings.at(0), "TFormMain.XmlToCod");
    EXPECT_EQ(records[0].strings.at(1), records[1].strings.at(1));
  }
}

// The window's toolkit sets every locale category from the environment;
// numbers must still read as they are written (libxml2 compares xs:double
// values read with the C library).
TEST(BatchRunTest, NumbersStayLocaleIndependentAfterTheToolkitSetsTheLocale) {
  if (!RussianLocaleInstalled()) GTEST_SKIP() << "no ru_RU.UTF-8 locale";
  const ::orx::testing::ScopedEnv russian("LC_ALL", "ru_RU.UTF-8");
  ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr);
  FollowUsersLanguage();
  const double read = std::strtod("1.5", nullptr);
  const std::string strerrorText = std::strerror(ENOENT);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(read, 1.5);
  EXPECT_EQ(strerrorText, "Нет такого файла или каталога");
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

// The hello reply that names the certificate-database server at cdbPort.
std::string HelloNaming(int cdbPort) {
  return "<hello><exchangeProtocol version=\"2\"/><cdb host=\"127.0.0.1\" port=\"" +
         std::to_string(cdbPort) + "\" path=\"/cdb/\"/></hello>";
}

// A dispatcher and a certificate-database server of one authority that carry
// the whole dialogue, both asking for a client certificate as told.
struct ServerPair {
  ServerPair(std::shared_ptr<TestPki> pki, ClientCertRequest clientCert, std::string saveReply)
      : cdb(Options(pki, clientCert, {{"/cdb/version", {Reply("<r><certificate/></r>")}},
                                      {"/cdb/save", {Reply(std::move(saveReply))}}})),
        hello(HelloNaming(cdb.port())),
        dispatcher(Options(pki, clientCert, {{"/sync/hello", {Reply(hello)}}})) {}

  static HttpsTestServer::Options Options(std::shared_ptr<TestPki> pki,
                                          ClientCertRequest clientCert,
                                          ::orx::testing::HttpsTestScript script) {
    HttpsTestServer::Options options;
    options.pki = std::move(pki);
    options.clientCert = clientCert;
    options.script = std::move(script);
    return options;
  }

  HttpsTestServer cdb;
  std::string hello;
  HttpsTestServer dispatcher;
};

// The server job through the built program, as a script runs it, with the
// key file naming dispatcherPort, the servers trusted through caFile and the
// client certificate store in dir/certs; `environment` adds to or replaces
// those entries.
::orx::testing::ProcessResult RunServerJob(const ScratchDir& dir, int dispatcherPort,
                                           const std::string& caFile,
                                           const std::vector<std::string>& environment,
                                           std::string xsd = {}) {
  const std::string key = KeyFileFor(dir, dispatcherPort);
  const std::string examples = orx::testing::SourceDir() + "/examples/";
  if (xsd.empty()) xsd = examples + "FA.xsd";
  std::vector<std::string> entries{
      "ORX_EVENT_LOG=" + (dir / "events.jsonl"), "DISPLAY=", "WAYLAND_DISPLAY=",
      "SSL_CERT_FILE=" + caFile, "ORX_CERT_STORE=" + (dir / "certs"),
      "TMPDIR=" + dir.path().string(), "https_proxy=", "HTTPS_PROXY=", "all_proxy=", "ALL_PROXY="};
  entries.insert(entries.end(), environment.begin(), environment.end());
  return RunProcess(
      ORX_EXECUTABLE,
      {examples + "certificates.xml,SERVER_ORX," + key + "," + xsd + ",HIDE"}, entries);
}

struct VerdictCase {
  std::string saveReply;
  int exitStatus;
  std::string lastLine;
  bool trace = false;  // run with ORX_TRACE=1
  // The servers behind nginx, their replies chunked; the client certificate
  // is issued by an intermediate CA and checked by nginx.
  std::optional<orx::testing::NginxFront::Options> nginx = std::nullopt;
  // The example schema in two files instead (WriteSchemaInParts).
  std::optional<::orx::testing::SchemaParts> parts = std::nullopt;
};

void PrintTo(const VerdictCase& c, std::ostream* out) {
  *out << c.saveReply.substr(0, 60) << (c.nginx ? " through nginx" : "")
       << (c.parts ? ", schema in parts" : "");
}

class BatchServerRunTest : public ::testing::TestWithParam<VerdictCase> {};

// The whole dialogue through the built program, with a client certificate the
// servers require: the exit status follows the server's verdict.
TEST_P(BatchServerRunTest, ExitStatusFollowsTheVerdict) {
  const VerdictCase& c = GetParam();
  ScratchDir dir;
  auto pki = std::make_shared<TestPki>();
  std::optional<orx::testing::NginxFront> front;
  if (c.nginx) front.emplace(*pki, *c.nginx);
  const auto intermediate = pki->MakeIntermediateCa("/O=Test/CN=Departmental CA");
  pki->MakeClientCert("/O=Test/CN=Office 7 Form A", orx::testing::CertFormat::Pem,
                      dir.path() / "certs" / "office.pem", front ? &intermediate : nullptr);
  const auto answer = [&c](std::string body) {
    orx::testing::HttpsTestReply reply = Reply(std::move(body));
    reply.chunked = c.nginx.has_value();
    return reply;
  };

  HttpsTestServer::Options cdbOptions;
  cdbOptions.pki = pki;
  cdbOptions.clientCert = front ? ClientCertRequest::None : ClientCertRequest::Required;
  cdbOptions.script = {{"/cdb/version", {answer("<r><certificate/></r>")}},
                       {"/cdb/save", {answer(c.saveReply)}}};
  HttpsTestServer cdb(cdbOptions);

  HttpsTestServer::Options dispatcherOptions = cdbOptions;
  dispatcherOptions.script = {
      {"/sync/hello", {answer(HelloNaming(front ? front->port() : cdb.port()))}}};
  HttpsTestServer dispatcher(dispatcherOptions);
  const std::string hello = dispatcherOptions.script["/sync/hello"].front().body;
  if (front) front->Start({{"/sync/", dispatcher.port()}, {"/cdb/", cdb.port()}});

  const std::string log = dir / "events.jsonl";
  const std::string xsd =
      c.parts ? ::orx::testing::WriteSchemaInParts(dir.path(), *c.parts) : std::string();
  const auto result = RunServerJob(dir, front ? front->port() : dispatcher.port(), pki->caFile(),
                                   {std::string("ORX_TRACE=") + (c.trace ? "1" : "")}, xsd);
  EXPECT_EQ(result.exitStatus, c.exitStatus) << result.standardError << (front ? front->log() : "");
  if (c.trace) {
    // Each request and reply, the office key hidden, before the log-pane lines.
    const std::string query = "?orxn=7&plcn=1&orxk=***&pver=4.1.1.1 (64 bytes)\n";
    const std::string dispatcherUrl = "https://127.0.0.1:" + std::to_string(dispatcher.port());
    const std::string cdbUrl = "https://127.0.0.1:" + std::to_string(cdb.port());
    const std::string head = "> GET " + dispatcherUrl + "/sync/hello" + query + "< 200 (" +
                             std::to_string(hello.size()) + " bytes)\n> GET " + cdbUrl +
                             "/cdb/version" + query + "< 200 (21 bytes)\n> POST " + cdbUrl +
                             "/cdb/save (";
    const std::string tail = " bytes)\n< 200 (" + std::to_string(c.saveReply.size()) +
                             " bytes)\nСинхронизация завершена\n";
    EXPECT_TRUE(result.standardError.starts_with(head)) << result.standardError;
    EXPECT_TRUE(result.standardError.ends_with(tail)) << result.standardError;
    EXPECT_EQ(result.standardError.find("0123456789ABCDEF"), std::string::npos);
  } else {
    EXPECT_EQ(result.standardError.find("> "), std::string::npos) << result.standardError;
  }
  const std::string lastLine = "Синхронизация завершена\n";
  EXPECT_TRUE(result.standardError.ends_with(lastLine)) << result.standardError;
  EXPECT_NE(result.standardError.find(c.lastLine), std::string::npos) << result.standardError;
  const auto records = ReadEventLog(log);
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records.back().strings, std::vector<std::string>{"Конец передачи"});
  auto requests = dispatcher.requests();
  const auto cdbRequests = cdb.requests();
  requests.insert(requests.end(), cdbRequests.begin(), cdbRequests.end());
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& request : requests) {
    if (!front) {
      EXPECT_EQ(request.clientCertSubject, "CN=Office 7 Form A,O=Test");
      continue;
    }
    // What nginx saw: HTTP/1.1 although it offered HTTP/2, and the TLS
    // version it allowed.
    EXPECT_EQ(request.Header("X-Client-Subject"), "CN=Office 7 Form A,O=Test");
    EXPECT_EQ(request.Header("X-Http-Version"), "HTTP/1.1");
    if (!c.nginx->tlsVersion.empty()) {
      EXPECT_EQ(request.Header("X-Tls-Protocol"), "TLSv" + c.nginx->tlsVersion);
    }
  }
}

// A verdict listing count certificates, each with an error when status is 1.
std::string Verdict(int status, int count) {
  std::string reply = "<r><status>" + std::to_string(status) +
                      "</status><status-text>Есть замечания</status-text><certificates>";
  for (int i = 0; i < count; ++i) {
    reply += "<certificate id=\"" + std::to_string(i) + "\" status-text=\"принят\">" +
             (status == 1 ? "<error>Поле 7 пусто</error>" : "") + "</certificate>";
  }
  return reply + "</certificates></r>";
}

orx::testing::NginxFront::Options Nginx(std::string tlsVersion) {
  orx::testing::NginxFront::Options options;
  options.tlsVersion = std::move(tlsVersion);
  options.clientCert = ClientCertRequest::Required;
  return options;
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, BatchServerRunTest,
    ::testing::Values(VerdictCase{"<r><status>0</status></r>", 0, "", true},
                      VerdictCase{"<r><status>9</status><status-text>Отказ</status-text></r>", 1,
                                  ""},
                      VerdictCase{"не XML", 1, "есть критические ошибки"},
                      // The verdicts of 100,000 and 75,000 certificates offices meet.
                      VerdictCase{Verdict(0, 100000), 0, "", false, Nginx("1.3")},
                      VerdictCase{Verdict(1, 75000), 0, "    Бланк 74999  принят\n        Поле 7 пусто\n",
                                  false, Nginx("1.2")},
                      // The module reads the parts of a schema as the program does.
                      VerdictCase{"<r><status>0</status></r>", 0, "", false, std::nullopt,
                                  ::orx::testing::SchemaParts::Included},
                      VerdictCase{"<r><status>1</status></r>", 0, "", false, std::nullopt,
                                  ::orx::testing::SchemaParts::Imported}));

struct TokenCase {
  const char* what;
  bool rsaKey;
  const char* pin;           // the first line of the PIN file
  mode_t pinFileMode;
  int exitStatus;
  const char* presented;     // the subject the servers saw; empty: no request at all
  const char* message;       // what standard error holds
  int logins;                // C_Login calls the token saw
  bool gostCertificate = false;  // the matching certificate is a GOST one, alone on the token
};

void PrintTo(const TokenCase& c, std::ostream* out) { *out << c.what; }

class BatchTokenRunTest : public ::testing::TestWithParam<TokenCase> {};

// A key on a token, found by its certificate's subject among the token's
// certificates, with the PIN from the file ORX_TOKEN_PIN_FILE names: logged
// in to once, and never again after a refusal.
TEST_P(BatchTokenRunTest, FindsTheKeyBySubjectAndLogsInOnce) {
  const TokenCase& c = GetParam();
  if (const auto missing = orx::testing::SoftHsmToken::MissingTools(); !missing.empty())
    GTEST_SKIP() << missing;
  if (const auto missing = orx::testing::GostPki::MissingTools();
      c.gostCertificate && !missing.empty())
    GTEST_SKIP() << missing;
  ScratchDir dir;
  auto pki = std::make_shared<TestPki>();
  orx::testing::SoftHsmToken token("Office Token", "1234");
  pki->MakeClientCert("/O=Test/CN=Office 7 CT-1", orx::testing::CertFormat::Pem, dir / "ct1.pem");
  token.Put(dir / "ct1.pem", "01");
  if (c.gostCertificate) {
    orx::testing::GostPki gost;
    gost.MakeClientCert("/O=Test/CN=Office 7 Form A", orx::testing::GostPki::Format::Pem,
                        dir / "fa.pem");
    token.Put(dir / "fa.pem", "02", false);
  } else {
    pki->MakeClientCert("/O=Test/CN=Office 7 Form A", orx::testing::CertFormat::Pem,
                        dir / "fa.pem", nullptr, true, c.rsaKey);
    token.Put(dir / "fa.pem", "02");
  }
  const std::string pinFile = dir.Write("pin", std::string(c.pin) + "\n");
  ASSERT_EQ(::chmod(pinFile.c_str(), c.pinFileMode), 0);
  std::filesystem::create_directory(dir.path() / "certs");  // a folder with nothing in it
  ServerPair servers(pki, ClientCertRequest::Required, "<r><status>0</status></r>");

  std::vector<std::string> environment = token.Environment(dir / "spy.log");
  environment.push_back("ORX_TOKEN_PIN_FILE=" + pinFile);
  const auto result = RunServerJob(dir, servers.dispatcher.port(), pki->caFile(), environment);
  EXPECT_EQ(result.exitStatus, c.exitStatus) << result.standardError;
  EXPECT_NE(result.standardError.find(c.message), std::string::npos) << result.standardError;
  // Only the log-pane lines: nothing of the token library's own.
  EXPECT_TRUE(result.standardError.ends_with("\n") &&
              result.standardError.find("PKCS#11") == std::string::npos)
      << result.standardError;
  EXPECT_EQ(orx::testing::SoftHsmToken::CallsIn(dir / "spy.log", "C_Login"), c.logins);
  const auto requests = servers.dispatcher.requests();
  if (*c.presented) {
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].clientCertSubject, c.presented);
    EXPECT_EQ(servers.cdb.requests().size(), 2u);
  } else {
    EXPECT_TRUE(requests.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, BatchTokenRunTest,
    ::testing::Values(
        TokenCase{"RSA key", true, "1234", 0600, 0, "CN=Office 7 Form A,O=Test",
                  "Синхронизация завершена", 1},
        TokenCase{"P-256 key", false, "1234", 0600, 0, "CN=Office 7 Form A,O=Test",
                  "Синхронизация завершена", 1},
        TokenCase{"wrong PIN", false, "9999", 0600, 1, "",
                  "(токен \"Office Token\" не принял PIN-код: попыток осталось мало)", 1},
        TokenCase{"PIN file others may read", false, "1234", 0644, 1, "",
                  "доступен другим пользователям", 0},
        TokenCase{"GOST certificate", false, "1234", 0600, 1, "",
                  "ключи ГОСТ на токенах не поддерживаются", 0, true}));

struct GostCase {
  const char* name;
  orx::testing::GostPki::Format format;
  bool withoutEngine = false;  // the program finds no engine "gost"
  // The job goes to the HTTPS test server itself, which speaks no GOST but
  // asks for a client certificate.
  bool plainServer = false;
  const char* message = "";    // what standard error holds
};

void PrintTo(const GostCase& c, std::ostream* out) { *out << c.name; }

class BatchGostRunTest : public ::testing::TestWithParam<GostCase> {};

// A GOST R 34.10-2012 identity from the certificate folder, over GOST TLS 1.2
// with a server that requires it, through the whole dialogue; without the
// engine, a message that names the package to install.
TEST_P(BatchGostRunTest, CarriesTheDialogueOverGostTls) {
  const GostCase& c = GetParam();
  if (const auto missing = orx::testing::GostPki::MissingTools(); !missing.empty())
    GTEST_SKIP() << missing;
  ScratchDir dir;
  orx::testing::GostPki gost;
  const bool pem = c.format == orx::testing::GostPki::Format::Pem;
  gost.MakeClientCert("/O=Test/CN=Office 7 Form A", c.format,
                      dir.path() / "certs" / (pem ? "office.pem" : "office.p12"));
  auto pki = std::make_shared<TestPki>();
  orx::testing::NginxFront::Options gostTls;
  gostTls.tlsVersion = "1.2";
  gostTls.clientCert = ClientCertRequest::Required;
  gostTls.gost = &gost;
  orx::testing::NginxFront front(*pki, gostTls);
  HttpsTestServer::Options options;
  options.pki = pki;
  options.script = {{"/sync/hello", {Reply(HelloNaming(front.port()))}},
                    {"/cdb/version", {Reply("<r><certificate/></r>")}},
                    {"/cdb/save", {Reply("<r><status>0</status></r>")}}};
  if (c.plainServer) options.clientCert = ClientCertRequest::Required;
  HttpsTestServer backend(options);
  front.Start({{"/", backend.port()}});
  const int port = front.port();

  std::vector<std::string> environment;
  if (c.withoutEngine) {
    std::filesystem::create_directory(dir.path() / "no-engines");
    environment.push_back("OPENSSL_ENGINES=" + (dir / "no-engines"));
  }
  const auto result = c.plainServer
                          ? RunServerJob(dir, backend.port(), backend.caFile(), environment)
                          : RunServerJob(dir, port, gost.caFile(), environment);
  const auto requests = backend.requests();
  if (c.withoutEngine) {
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find(c.message), std::string::npos) << result.standardError;
    EXPECT_TRUE(requests.empty());
    return;
  }
  EXPECT_EQ(result.exitStatus, 0) << result.standardError << front.log();
  ASSERT_EQ(requests.size(), 3u) << front.log();
  for (const auto& request : requests)
    EXPECT_EQ(request.Header("X-Client-Subject"), "CN=Office 7 Form A,O=Test") << request.target;
}

INSTANTIATE_TEST_SUITE_P(
    Identities, BatchGostRunTest,
    ::testing::Values(GostCase{"PEM", orx::testing::GostPki::Format::Pem},
                      GostCase{"PKCS#12", orx::testing::GostPki::Format::Pkcs12},
                      GostCase{"PKCS#12 in GOST encryption",
                               orx::testing::GostPki::Format::Pkcs12Gost},
                      GostCase{"GOST server without the engine",
                               orx::testing::GostPki::Format::Pem, true, false,
                               "если сервер работает по ГОСТ TLS, нужен пакет "
                               "libengine-gost-openssl)"},
                      GostCase{"GOST identity without the engine",
                               orx::testing::GostPki::Format::Pkcs12Gost, true, true,
                               "(нужен пакет libengine-gost-openssl): "}));

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

// A certificate file of many certificates numbered RU-FA-<series>nnnnnn,
// large enough that two jobs started together overlap; with a stray element
// at the end it fails the schema.
std::string ManyCertificates(char series, bool valid) {
  const std::string example = ::orx::testing::ReadFile(orx::testing::SourceDir() +
                                                       "/examples/certificates.xml");
  const auto begin = example.find("  <certificate ");
  const auto end = example.find("</certificate>", begin) + std::string_view("</certificate>\n").size();
  const std::string one = example.substr(begin, end - begin);
  const auto number = one.find("RU-FA-") + 6;
  std::string xml = example.substr(0, begin);
  for (int i = 0; i < 300; ++i) {
    std::string certificate = one;
    certificate.replace(number, 7, series + std::to_string(100000 + i));
    xml += certificate;
  }
  return xml + (valid ? "" : "  <bogus/>\n") + "</dataPacket>\n";
}

// The one entry of the package file in folder, deciphered with the office key
// of examples/FA_007_01_i.cod; empty when there is no package file.
std::string PackedDocument(const std::filesystem::path& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string bytes = ::orx::testing::ReadFile(entry.path());
    DecryptCodStream(bytes, "5B0E7D21C94A3F68E1D07B92A4C65F3E");
    return ::orx::testing::ReadSingleEntryZip(bytes).content;
  }
  return {};
}

// Jobs of one user at the same time (same TMPDIR) each pack exactly their
// own input: a package never holds the other job's certificates, and a
// document that failed its schema check never reaches a package.
TEST(BatchPackageRunTest, ConcurrentJobsPackOnlyTheirOwnInput) {
  ScratchDir dir;
  const std::string examples = orx::testing::SourceDir() + "/examples/";
  const std::string inputs[] = {dir.Write("a.xml", ManyCertificates('1', true)),
                                dir.Write("b.xml", ManyCertificates('2', true)),
                                dir.Write("c.xml", ManyCertificates('2', false))};
  const auto run = [&](const std::string& xml, const std::string& out) {
    std::filesystem::remove_all(out);
    std::filesystem::create_directory(out);
    return RunProcess(ORX_EXECUTABLE,
                      {xml + "," + out + "," + examples + "FA_007_01_i.cod," + examples + "FA.xsd,HIDE"},
                      {"ORX_EVENT_LOG=" + (dir / "events.jsonl"), "DISPLAY=", "WAYLAND_DISPLAY=",
                       "TMPDIR=" + dir.path().string()});
  };
  for (int round = 0; round < 6; ++round) {
    const bool secondValid = round % 2 == 0;
    auto first = std::async(std::launch::async, run, inputs[0], dir / "out1");
    auto second = std::async(std::launch::async, run, inputs[secondValid ? 1 : 2], dir / "out2");
    const auto firstResult = first.get();
    const auto secondResult = second.get();
    EXPECT_EQ(firstResult.exitStatus, 0) << round << firstResult.standardError;
    EXPECT_EQ(secondResult.exitStatus, secondValid ? 0 : 1) << round << secondResult.standardError;
    const std::string packed = PackedDocument(dir / "out1");
    EXPECT_NE(packed.find("RU-FA-1100299"), std::string::npos) << round;
    EXPECT_EQ(packed.find("RU-FA-2"), std::string::npos) << round;
    const std::string other = PackedDocument(dir / "out2");
    EXPECT_EQ(other.empty(), !secondValid) << round;
    if (secondValid) {
      EXPECT_NE(other.find("RU-FA-2100299"), std::string::npos) << round;
      EXPECT_EQ(other.find("RU-FA-1"), std::string::npos) << round;
    }
  }
  // Each job's own folder went with it; the last source document stays.
  const auto temp = dir.path() / ("convertor-orx-" + std::to_string(getuid()));
  for (const auto& entry : std::filesystem::directory_iterator(temp)) {
    EXPECT_EQ(entry.path().filename(), "SourceConvert.xml");
  }
}

struct StderrCase {
  const char* what;
  std::string certificates;  // the certificate file, or its path ("/..."); the example when empty
  std::string keyText;       // enciphered into the key file; the example key file when empty
  std::vector<std::string> runner;  // runs the program under this command
  std::string standardError;
};

void PrintTo(const StderrCase& c, std::ostream* out) { *out << c.what; }

class BatchStderrTest : public ::testing::TestWithParam<StderrCase> {};

// A failing job puts exactly its log-pane lines on standard error: no library
// diagnostics, control characters escaped, one line per pane line. The event
// log is a FIFO nobody reads, which must not hold the job up.
TEST_P(BatchStderrTest, OnlyTheLogPaneLinesEscaped) {
  const StderrCase& c = GetParam();
  ScratchDir dir;
  const std::string examples = orx::testing::SourceDir() + "/examples/";
  const std::string xml = c.certificates.empty()          ? examples + "certificates.xml"
                          : c.certificates.starts_with("/") ? c.certificates
                                                            : dir.Write("certificates.xml", c.certificates);
  std::string key = examples + "FA_007_01_i.cod";
  if (!c.keyText.empty()) {
    std::string enciphered = c.keyText;
    EncryptCodStream(enciphered, "");
    key = dir.Write("i.cod", enciphered);
  }
  ASSERT_EQ(::mkfifo((dir / "events").c_str(), 0600), 0);
  std::vector<std::string> arguments(c.runner.begin(), c.runner.end());
  arguments.push_back(ORX_EXECUTABLE);
  arguments.push_back(xml + "," + dir.path().string() + "," + key + "," + examples + "FA.xsd,HIDE");
  const std::string program = arguments.front();
  arguments.erase(arguments.begin());
  const auto result =
      RunProcess(program, arguments,
                 {"ORX_EVENT_LOG=" + (dir / "events"), "DISPLAY=", "WAYLAND_DISPLAY=",
                  "TMPDIR=" + dir.path().string()});
  EXPECT_EQ(result.exitStatus, 1);
  // The scratch folder and a job's own folder named as in the cases.
  std::string shown = std::regex_replace(result.standardError, std::regex("/job-[0-9]+-[A-Za-z0-9]{6}/"),
                                         "/job-*/");
  for (std::size_t at; (at = shown.find(dir.path().string())) != std::string::npos;) {
    shown.replace(at, dir.path().string().size(), "DIR");
  }
  EXPECT_EQ(shown, c.standardError);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, BatchStderrTest,
    ::testing::Values(
        StderrCase{"byte the declared encoding lacks",
                   "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<dataPacket><c>\x98</c></dataPacket>\n",
                   "", {"/usr/bin/env"},
                   "ошибка: Текст не соответствует объявленной кодировке (байты 0x98 0x3C 0x2F 0x63)\n"
                   "Line: 2\n<dataPacket><c>\xEF\xBF\xBD</c></dataPacket>\n"},
        // The temporary copy outgrows the limit part-way, as on a full disk.
        StderrCase{"file-size limit while stamping", ManyCertificates('1', true), "",
                   {"/usr/bin/prlimit", "--fsize=65536"},
                   "ошибка: Stream write error, file \"DIR/convertor-orx-" + std::to_string(getuid()) +
                       "/job-*/SourceConvert.xml\". File too large\n"},
        // Read to its first zero byte, not until memory runs out.
        StderrCase{"endless zeros as the certificate file", "/dev/zero", "", {"/usr/bin/env"},
                   "ошибка: Документ пуст\nLine: 1\n\n"},
        // Named in plain words; what the bytes hold never reaches the terminal.
        StderrCase{"garbage from a wrong key file", "", "\x1B]0;title\x07\x1B[2J\x9B\xC2\x9B ok", {"/usr/bin/env"},
                   "ошибка: Файл \"DIR/i.cod\" не является ключевым файлом i.cod этой программы "
                   "или повреждён\n"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace orx
