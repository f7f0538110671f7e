#include "exchange/server_choice.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/error.h"
#include "testing/https_test_server.h"
#include "testing/job_fixture.h"

namespace orx {
namespace {

using testing::Rec;

constexpr std::string_view kCaller = "TFormMain.XmlToServer";
// An office key with "&" and "=" goes out as it is.
const std::string kIdentification = "orxn=7&plcn=1&orxk=k&e=y&pver=4.1.1.1";

std::string Hello(std::string_view version, std::string_view children) {
  return "<hello><exchangeProtocol version=\"" + std::string(version) + "\"/>" +
         std::string(children) + "</hello>";
}

std::string Cdb(std::string_view host, std::string_view port, std::string_view path) {
  return "<cdb host=\"" + std::string(host) + "\" port=\"" + std::string(port) + "\" path=\"" +
         std::string(path) + "\"/>";
}

TEST(NormaliseServerPathTest, KeepsTheTextFromTheFirstSlashWithoutOneTrailingSlash) {
  const std::pair<std::string, std::string> cases[] = {
      {"/cdb/", "/cdb"}, {"/a/b", "/a/b"}, {"x/cdb", "/cdb"}, {"cdb", "cdb"},
      {"/", ""}, {"", ""}, {"bad/", ""}, {"/a//", "/a/"},
  };
  for (const auto& [path, normalised] : cases) {
    EXPECT_EQ(NormaliseServerPath(path), normalised) << path;
  }
}

struct Refusal {
  std::string reply;
  std::vector<EventRecord> records;
  std::vector<std::string> lines;
  std::string message;
};

TEST(FindSuitableUrlTest, RefusesRepliesThatNameNoUsableServer) {
  const std::string quoted = "\"hello\"";
  const std::string requirement = "exchangeProtocol version=\"2\"";
  const std::string caller(kCaller);
  const std::string notXml = "<html><body>Internal Server Error";
  // Shown only once the protocol has been accepted.
  const std::string message = "<message>Привет</message>";
  // None of these gets as far as a request, and none is worth a record:
  // absent attributes, host names the connection refuses, ports that are not
  // ports (4294967739 would be port 443 if it were cut to 32 bits).
  const std::string unusable = "<cdb host=\"127.0.0.1\" path=\"\"/><cdb port=\"1\" path=\"\"/>"
                               "<cdb host=\"127.0.0.1\" port=\"1\"/>" +
                               Cdb("a:b", "443", "/p") + Cdb("a/b", "443", "/p") +
                               Cdb("127.0.0.1", "70000", "/p") + Cdb("127.0.0.1", "-1", "/p") +
                               Cdb("127.0.0.1", "4294967739", "/p") + Cdb("127.0.0.1", "x", "/p");
  const std::vector<std::string> noAddress = {"Привет", "Отсутствует подходящий адрес (url)"};
  const Refusal cases[] = {
      {notXml,
       {Rec(EventType::Error, 2, 0x40007500, {caller, quoted + ". Невнятный ответ сервера: ", notXml})},
       {}, "Дефектный ответ на hello"},
      {"<hello>" + message + "</hello>",
       {Rec(EventType::Error, 2, 0x40006500, {caller, quoted, "exchangeProtocol"})}, {},
       "Узел exchangeProtocol не найден"},
      {"<hello><exchangeProtocol/>" + message + "</hello>",
       {Rec(EventType::Error, 2, 0x40006501, {caller, quoted, requirement})}, {},
       "Отсутствует версия протокола"},
      {Hello("two", message), {Rec(EventType::Error, 2, 0x40006501, {caller, quoted, requirement})},
       {}, "Отсутствует версия протокола"},
      {Hello("3", message),
       {Rec(EventType::Error, 2, 0x40006502, {caller, quoted, requirement, "3"})}, {},
       "Версия протокола 3,а нужно только вторая"},
      {Hello(" -02 ", message),
       {Rec(EventType::Error, 2, 0x40006502, {caller, quoted, requirement, "-2"})}, {},
       "Версия протокола -2,а нужно только вторая"},
      {Hello("+2", message), {}, noAddress, "Не найден подходящий адрес (url)"},
      {Hello("2", message + unusable), {}, noAddress, "Не найден подходящий адрес (url)"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.reply);
    THttpsConnection connection;
    MemoryEventSink events;
    LogPane log;
    try {
      FindSuitableUrl(connection, kIdentification, kCaller, &log, events, c.reply);
      ADD_FAILURE() << "no failure";
    } catch (const Error& failure) {
      EXPECT_EQ(failure.what(), c.message);
    }
    EXPECT_EQ(events.records(), c.records);
    EXPECT_EQ(log.Lines(), c.lines);
    // Without a log pane the outcome is the same, only unseen.
    EXPECT_THROW(FindSuitableUrl(connection, kIdentification, kCaller, nullptr, events, c.reply),
                 Error);
  }
}

orx::testing::HttpsTestReply Answer(std::string body) {
  orx::testing::HttpsTestReply reply;
  reply.body = std::move(body);
  return reply;
}

TEST(FindSuitableUrlTest, TriesTheListedServersInOrderUntilOneAccepts) {
  using orx::testing::HttpsTestServer;
  const std::string authFailed =
      R"(<dataPacket name="authfailed"><message>Доступ закрыт</message></dataPacket>)";
  HttpsTestServer::Options options;
  options.serverNames = {"127.0.0.1"};  // "localhost" then fails verification
  options.script = {
      {"/denied/version", {Answer(authFailed)}},
      {"/version", {Answer("<r><status>0</status></r>")}},
      {"/broken/version", {Answer("<r>")}},
      {"/cdb/version", {Answer("<r><certificate/></r>")}},
      {"/later/version", {Answer("<r><certificate/></r>")}},
  };
  HttpsTestServer server(options);
  orx::testing::ScopedEnv trust("SSL_CERT_FILE", server.caFile().c_str());
  const std::string port = std::to_string(server.port());

  const std::string hello =
      Hello("2", "<message>Первое</message><message>Второе</message>" +
                     Cdb("localhost", port, "/unreachable/") + Cdb("127.0.0.1", port, "/denied") +
                     Cdb("127.0.0.1", port, "/") + Cdb("127.0.0.1", port, "/broken") +
                     Cdb("127.0.0.1", port, "x/cdb/") + Cdb("127.0.0.1", port, "/later"));
  THttpsConnection connection;
  connection.SetRequestData(kIdentification);
  MemoryEventSink events;
  LogPane log;
  EXPECT_EQ(FindSuitableUrl(connection, kIdentification, kCaller, &log, events, hello), "/cdb");

  EXPECT_EQ(connection.ServerName(), "127.0.0.1");
  EXPECT_EQ(connection.Port, server.port());
  EXPECT_EQ(connection.ObjectName, "/cdb/version?" + kIdentification);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Первое", "Второе", "Доступ закрыт"}));

  const auto& records = events.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].eventId, 0x40007500u);
  EXPECT_EQ(records[0].type, EventType::Error);
  ASSERT_EQ(records[0].strings.size(), 3u);
  EXPECT_EQ(records[0].strings[0], kCaller);
  EXPECT_EQ(records[0].strings[1], "/version (Syn.SendHttpsRequest)");
  EXPECT_EQ(records[0].strings[2].rfind("[ErrorCode ", 0), 0u) << records[0].strings[2];
  EXPECT_EQ(records[1], Rec(EventType::AuditFailure, 2, 0x40000101,
                            {std::string(kCaller) + " /version: " + authFailed}));

  std::vector<std::string> targets;
  for (const auto& request : server.requests()) {
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.body, kIdentification);
    targets.push_back(request.target);
  }
  const std::string query = "/version?" + kIdentification;
  EXPECT_EQ(targets, (std::vector<std::string>{"/denied" + query, query, "/broken" + query,
                                               "/cdb" + query}));
}

// Servers that take the connection and never answer hold the job for no
// longer than the search's limit in all, however many are listed.
TEST(FindSuitableUrlTest, TheSearchEndsWithinItsLimit) {
  using namespace std::chrono_literals;
  std::vector<testing::LoopbackListener> silent(8);
  std::string servers;
  for (const auto& listener : silent) {
    servers += Cdb("127.0.0.1", std::to_string(listener.port()), "/cdb");
  }
  THttpsConnection connection;
  connection.RequestLimits.connect = 1s;
  connection.RequestLimits.serverSearch = 2500ms;
  MemoryEventSink events;
  LogPane log;
  const auto start = std::chrono::steady_clock::now();
  const std::string search = "поиск подходящего сервера не завершился за 2500 мс";
  try {
    FindSuitableUrl(connection, kIdentification, kCaller, &log, events, Hello("2", servers));
    ADD_FAILURE() << "no failure";
  } catch (const Error& failure) {
    EXPECT_EQ(failure.what(), "Не найден подходящий адрес (url) (" + search + ")");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms);
  EXPECT_FALSE(connection.OuterDeadline);  // later requests have their own limits only
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"Отсутствует подходящий адрес (url)"});
  // Each server tried is recorded with the limit that ended its wait: the
  // connection's own, and the search's for the last.
  const auto& records = events.records();
  ASSERT_GE(records.size(), 2u);
  ASSERT_LT(records.size(), silent.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    ASSERT_EQ(records[i].strings.size(), 3u);
    EXPECT_EQ(records[i].strings[1], "/version (Syn.SendHttpsRequest)");
    const std::string limit = i + 1 < records.size() ? "нет соединения с сервером за 1 с" : search;
    EXPECT_EQ(records[i].strings[2], ErrorCodeMessage(28) + " (" + limit + ")");
  }
}

}  // namespace
}  // namespace orx
