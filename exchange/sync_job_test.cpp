#include "exchange/sync_job.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "exchange/https_connection.h"
#include "exchange/replies.h"
#include "package/cipher.h"
#include "support/event_log.h"
#include "support/files.h"
#include "testing/https_test_server.h"
#include "testing/job_fixture.h"

namespace orx {
namespace {

using testing::ClientCertRequest;
using testing::HttpsTestReply;
using testing::HttpsTestServer;
using testing::Rec;
using testing::RecordedRequest;
using testing::ScopedEnv;
using testing::TestPki;

using Lines = std::vector<std::string>;
using Records = std::vector<EventRecord>;

constexpr std::string_view kCaller = "TFormMain.XmlToServer";
const std::string kDone = "Синхронизация завершена";
const std::string kEmptyHello = "Сервер вернул пустую строку на hello";
// The key file's office key, with "&" and "=" that go out as they are.
const std::string kIdentification =
    "orxn=7&plcn=1&orxk=0123456789abcdef0123456789ABCDEF&k=v&pver=4.1.1.1";

const EventRecord kEndOfTransmission =
    Rec(EventType::Information, 2, 0x40000101, {"Конец передачи"});

EventRecord JobFailure(std::string message) {
  return Rec(EventType::Error, 2, 0x40000103, {std::string(kCaller), std::move(message)});
}

EventRecord SaveFault(std::string_view step, std::string detail) {
  return Rec(EventType::Error, 2, 0x40007500,
             {std::string(kCaller), std::string(step), std::move(detail)});
}

std::string FormDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The message of an "ошибка: " line as it was appended: the pane splits a
// message at its line breaks.
std::string FailureMessage(const Lines& lines, std::size_t from) {
  const std::string prefix = "ошибка: ";
  if (from >= lines.size() || lines[from].rfind(prefix, 0) != 0) return "(no failure line)";
  std::string message = lines[from].substr(prefix.size());
  for (std::size_t i = from + 1; i < lines.size(); ++i) message += "\r\n" + lines[i];
  return message;
}

// The code N of a "[ErrorCode N]..." text.
std::uint32_t ErrorCodeIn(std::string_view text) {
  const std::string_view head = "[ErrorCode ";
  const auto at = text.find(head);
  if (at == std::string_view::npos) return 0;
  return static_cast<std::uint32_t>(std::stoul(std::string(text.substr(at + head.size()))));
}

HttpsTestReply Answer(std::string body, int status = 200) {
  HttpsTestReply reply;
  reply.status = status;
  reply.body = std::move(body);
  return reply;
}

std::vector<HttpsTestReply> Reply(std::string body) { return {Answer(std::move(body))}; }

struct DialogueSetup {
  // The hello replies, given the port of the certificate-database server.
  std::function<std::vector<HttpsTestReply>(int cdbPort)> hello;
  std::vector<HttpsTestReply> version = Reply("<r><certificate/></r>");
  std::vector<HttpsTestReply> save = Reply("<r><status>0</status></r>");
  ClientCertRequest clientCert = ClientCertRequest::None;
  std::string dispatcherPath = "/";  // the path of the key file's address
  std::string dispatcherHost = "127.0.0.1";
};


std::vector<HttpsTestReply> HelloNaming(int cdbPort, std::string_view messages = {},
                                        std::string_view cdbHost = "127.0.0.1") {
  return Reply("<hello><exchangeProtocol version=\"2\"/>" + std::string(messages) + "<cdb host=\"" +
               std::string(cdbHost) + "\" port=\"" + std::to_string(cdbPort) +
               "\" path=\"/cdb/\"/></hello>");
}

// A dialogue whose hello reply lists the certificate-database server as host.
DialogueSetup CdbCalled(std::string host) {
  DialogueSetup setup;
  setup.hello = [host](int port) { return HelloNaming(port, {}, host); };
  return setup;
}

// A dialogue whose dispatcher answers "hello" with body.
DialogueSetup HelloAnswering(std::string body, int status = 200) {
  DialogueSetup setup;
  setup.hello = [body, status](int) { return std::vector<HttpsTestReply>{Answer(body, status)}; };
  return setup;
}

// A dispatcher that answers "hello" and a certificate-database server that
// answers "version" and "save", both trusted through one test CA and known
// by their IP address only; the office's key file points at the dispatcher.
class SyncJobTest : public testing::JobFixture {
 protected:
  SyncJobTest()
      : trust_("SSL_CERT_FILE", pki_->caFile().c_str()),
        store_("ORX_CERT_STORE", (dir_.path() / "certs").c_str()) {
    std::filesystem::create_directories(dir_.path() / "certs");
  }

  const Lines& lines() const { return job_.log.Lines(); }
  const Records& records() const { return job_.events.records(); }

  void Start(const DialogueSetup& setup) {
    HttpsTestServer::Options cdb;
    cdb.pki = pki_;
    cdb.serverNames = {"127.0.0.1"};
    cdb.clientCert = setup.clientCert;
    cdb.script = {{"/cdb/version", setup.version}, {"/cdb/save", setup.save}};
    cdb_ = std::make_unique<HttpsTestServer>(cdb);

    HttpsTestServer::Options dispatcher;
    dispatcher.pki = pki_;
    dispatcher.serverNames = {"127.0.0.1"};
    dispatcher.clientCert = setup.clientCert;
    dispatcher.script = {{setup.dispatcherPath + "sync/hello",
                          setup.hello ? setup.hello(cdb_->port()) : HelloNaming(cdb_->port())}};
    dispatcher_ = std::make_unique<HttpsTestServer>(dispatcher);
    WriteKeyFile(setup.dispatcherHost, dispatcher_->port(), setup.dispatcherPath);
  }

  void WriteKeyFile(std::string_view host, int port, std::string_view path) {
    const std::string portText = std::to_string(port);
    std::string key =
        R"(<?xml version="1.0" encoding="UTF-8"?><DATAPACKET><ROWDATA><ROW PK_Code="FA" )"
        R"(orxn="7" NumLocale="1" orxk="0123456789abcdef0123456789ABCDEF&amp;k=v" sadr="https://)" +
        std::string(host) + ":" + portText + std::string(path) + "\" sport=\"" + portText +
        "\"/></ROWDATA></DATAPACKET>";
    EncryptCodStream(key, "");
    keyFile_ = dir_.Write("i.cod", key);
  }

  void GiveClientCertificate(std::string_view subject) {
    pki_->MakeClientCert(subject, testing::CertFormat::Pkcs12,
                         dir_.path() / "certs" / "office.p12");
  }

  JobOutcome Run() { return XmlToServer(job_.context, xml_, xsd_, keyFile_); }

  std::vector<RecordedRequest> Requests() const {
    std::vector<RecordedRequest> all;
    if (dispatcher_) all = dispatcher_->requests();
    if (cdb_) {
      for (RecordedRequest& request : cdb_->requests()) all.push_back(std::move(request));
    }
    return all;
  }

  std::shared_ptr<TestPki> pki_ = std::make_shared<TestPki>();
  ScopedEnv trust_;
  ScopedEnv store_;
  std::string xml_ = testing::SourceDir() + "/examples/certificates.xml";
  std::string xsd_ = testing::SourceDir() + "/examples/FA.xsd";
  std::string keyFile_;
  std::unique_ptr<HttpsTestServer> cdb_;
  std::unique_ptr<HttpsTestServer> dispatcher_;
};

TEST_F(SyncJobTest, FullDialogueWithAClientCertificate) {
  GiveClientCertificate("/O=Test/CN=Office 7 Form A");
  DialogueSetup setup;
  setup.hello = [](int port) { return HelloNaming(port, "<message>Добро пожаловать</message>"); };
  setup.clientCert = ClientCertRequest::Required;
  setup.dispatcherPath = "/cert/";
  Start(setup);

  EXPECT_EQ(Run(), JobOutcome::Succeeded);
  EXPECT_EQ(lines(), (Lines{"Добро пожаловать", kDone}));
  EXPECT_EQ(records(),
            (Records{Rec(EventType::AuditSuccess, 2, 0x40000101, {"Сертификаты ушли без ошибок"}),
                     kEndOfTransmission}));
  EXPECT_EQ(job_.view.pendingEventPoints, 2);

  const std::vector<RecordedRequest> requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/cert/sync/hello?" + kIdentification);
  EXPECT_EQ(requests[0].body, kIdentification);
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].target, "/cdb/version?" + kIdentification);
  EXPECT_EQ(requests[1].body, kIdentification);
  EXPECT_EQ(requests[2].method, "POST");
  EXPECT_EQ(requests[2].target, "/cdb/save");
  for (const RecordedRequest& request : requests) {
    EXPECT_EQ(request.clientCertSubject, "CN=Office 7 Form A,O=Test");
    EXPECT_EQ(request.Header("User-Agent"), "Custom ORX");
    EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
  }

  // The body carries the source document as the package job packs it:
  // without its namespace declaration, form-encoded byte by byte.
  const std::string prefix = kIdentification + "&certBody=";
  const std::string& body = requests[2].body;
  ASSERT_EQ(body.rfind(prefix, 0), 0u);
  const std::string encoded = body.substr(prefix.size());
  EXPECT_EQ(encoded.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789%+"),
            std::string::npos);
  EXPECT_NE(encoded.find("%D0%9E%D0%9E%D0%9E"), std::string::npos);  // "ООО" as UTF-8 bytes
  std::string packed = testing::ReadFile(JoinPath(GetTempDir(), "SourceConvert.xml"));
  const std::string declaration = "xmlns=\"urn:orx-rf:certificates\"";  // the blank before stays
  ASSERT_NE(packed.find(declaration), std::string::npos);
  packed.erase(packed.find(declaration), declaration.size());
  EXPECT_EQ(FormDecode(encoded), packed);
  EXPECT_NE(packed.find("<dataPacket  version="), std::string::npos);
}

struct DialogueCase {
  std::string name;
  DialogueSetup setup;
  JobOutcome outcome;
  Lines lines;
  Records records;
  std::size_t requests;
  // What the window's status line is told: how far the job got, and the
  // verdict's status when one was read.
  JobStep reached = JobStep::Connecting;
  std::optional<std::int64_t> status = std::nullopt;
};

TEST_F(SyncJobTest, ReportsEveryWayTheDialogueEnds) {
  const std::string refusal =
      R"(<dataPacket name="authfailed"><message>Ключ отозван</message></dataPacket>)";
  const std::string verdict =
      "<r><status>1</status><status-text>T</status-text><certificates>"
      "<certificate id=\"1\" status-text=\"S\"><error>E</error></certificate></certificates></r>";
  const std::string rejected = "<r><status>2</status></r>";
  const std::string reported = "submit certs (Скрипт сообщает об ошибке):";
  const EventRecord emptyHello =
      Rec(EventType::Error, 7, 0x40000103, {std::string(kCaller), kEmptyHello});
  const std::string wrongVersion = "Версия протокола 3,а нужно только вторая";
  auto saveAnswering = [](std::string body) {
    DialogueSetup setup;
    setup.save = Reply(std::move(body));
    return setup;
  };
  DialogueSetup noCertificate;
  noCertificate.version = Reply("<r><status>0</status></r>");

  const DialogueCase cases[] = {
      {"empty hello", HelloAnswering(""), JobOutcome::Failed, {kEmptyHello, kDone},
       {emptyHello, kEndOfTransmission}, 1},
      {"hello not UTF-8", HelloAnswering("<a>\xD0"), JobOutcome::Failed, {kEmptyHello, kDone},
       {emptyHello, kEndOfTransmission}, 1},
      {"hello refused", HelloAnswering(refusal), JobOutcome::Failed, {"Ключ отозван", kDone},
       {Rec(EventType::AuditFailure, 2, 0x40000101, {"ошибочный ответ на hello: " + refusal}),
        kEndOfTransmission},
       1},
      {"protocol version 3", HelloAnswering(R"(<h><exchangeProtocol version="3"/></h>)"),
       JobOutcome::Failed, {kDone, "ошибка: " + wrongVersion},
       {Rec(EventType::Error, 2, 0x40006502,
            {std::string(kCaller), "\"hello\"", "exchangeProtocol version=\"2\"", "3"}),
        kEndOfTransmission, JobFailure(wrongVersion)},
       1},
      {"no suitable server", noCertificate, JobOutcome::Failed,
       {"Отсутствует подходящий адрес (url)", kDone, "ошибка: Не найден подходящий адрес (url)"},
       {kEndOfTransmission, JobFailure("Не найден подходящий адрес (url)")}, 2},
      // Credentials in the listed host would reach the server after "@".
      {"server listed with credentials", CdbCalled("evil.invalid@127.0.0.1"), JobOutcome::Failed,
       {"Отсутствует подходящий адрес (url)", kDone, "ошибка: Не найден подходящий адрес (url)"},
       {kEndOfTransmission, JobFailure("Не найден подходящий адрес (url)")}, 1},
      {"server listed by a name that does not resolve", CdbCalled("nonexistent.invalid"),
       JobOutcome::Failed,
       {"Отсутствует подходящий адрес (url)", kDone, "ошибка: Не найден подходящий адрес (url)"},
       {SaveFault("/version (Syn.ConnectToHttpsServer)", ErrorCodeMessage(6)), kEndOfTransmission,
        JobFailure("Не найден подходящий адрес (url)")},
       1},
      {"errors the job accepts", saveAnswering(verdict), JobOutcome::Succeeded,
       {"Есть сообщение об ошибке", "T", "    Бланк 1  S", "        E", kDone},
       {SaveFault(reported, verdict), kEndOfTransmission}, 3, JobStep::Sending, 1},
      {"rejected verdict", saveAnswering(rejected), JobOutcome::Failed,
       {"Есть сообщение об ошибке", "есть критические ошибки", kDone},
       {SaveFault(reported, rejected), SaveFault("submit cert (сбой)", rejected),
        kEndOfTransmission},
       3, JobStep::Sending, 2},
      {"unreadable verdict", saveAnswering("<r>"), JobOutcome::Failed,
       {"есть критические ошибки", kDone},
       {SaveFault("submit cert (сбой)", "<r>"), kEndOfTransmission}, 3, JobStep::Sending},
  };
  // A certificate in the store that no server here asks for.
  GiveClientCertificate("/O=Test/CN=Office 7 Form A");
  for (const DialogueCase& c : cases) {
    SCOPED_TRACE(c.name);
    job_.events.clear();
    Start(c.setup);
    EXPECT_EQ(Run(), c.outcome);
    EXPECT_EQ(lines(), c.lines);
    EXPECT_EQ(records(), c.records);
    EXPECT_EQ(job_.context.report.reached, c.reached);
    EXPECT_EQ(job_.context.report.serverStatus, c.status);
    EXPECT_EQ(job_.context.report.failure.empty(), c.outcome == JobOutcome::Succeeded);
    const std::vector<RecordedRequest> requests = Requests();
    ASSERT_EQ(requests.size(), c.requests);
    EXPECT_EQ(requests[0].target, "/sync/hello?" + kIdentification);
    for (const RecordedRequest& request : requests) EXPECT_EQ(request.clientCertSubject, "");
  }
}

// Replies just under the size limit end as small ones do, and cost less than
// three times the limit.
TEST_F(SyncJobTest, RepliesNearTheSizeLimitCostLessThanThreeTimesIt) {
  const std::size_t limit = THttpsConnection::Limits().replyBytes;
  // head, piece repeated to just under the limit, tail; and what the reply's
  // record holds.
  auto nearLimit = [limit](const std::string& head, const std::string& piece,
                           const std::string& tail) {
    const std::size_t times = (limit - 4096 - head.size() - tail.size()) / piece.size();
    HttpsTestReply reply;
    reply.pieces = {{head, 1}, {piece, times}, {tail, 1}};
    std::string start = head;
    while (start.size() < kRecordedReplyBytes) start += piece;
    start.resize(kRecordedReplyBytes);
    const std::size_t size = head.size() + times * piece.size() + tail.size();
    return std::pair{reply, start + "… (всего " + std::to_string(size) + " байт)"};
  };
  const auto [refusal, refusalRecord] =
      nearLimit(R"(<dataPacket name="authfailed"><message>)", "x", "</message></dataPacket>");
  const std::size_t messageSize = refusal.pieces[1].second;
  const auto [verdict, unusedRecord] =
      nearLimit("<r><status>0</status><certificates>", R"(<certificate id="1" status-text="S"/>)",
                "</certificates></r>");
  // One dialogue, run twice: the first hello is refused, the second leads on
  // to the verdict, an acceptance that lists as many certificates as fit.
  DialogueSetup setup;
  setup.hello = [&refusal](int port) {
    std::vector<HttpsTestReply> replies = HelloNaming(port);
    replies.insert(replies.begin(), refusal);
    return replies;
  };
  setup.save = {verdict};
  const struct {
    std::string name;
    JobOutcome outcome;
    Lines lines;  // "x…" stands for the message of messageSize "x"
    Records records;
  } runs[] = {
      {"refused hello with a huge message", JobOutcome::Failed, {"x…", kDone},
       {Rec(EventType::AuditFailure, 2, 0x40000101, {"ошибочный ответ на hello: " + refusalRecord}),
        kEndOfTransmission}},
      {"acceptance naming a million certificates", JobOutcome::Succeeded, {kDone},
       {Rec(EventType::AuditSuccess, 2, 0x40000101, {"Сертификаты ушли без ошибок"}),
        kEndOfTransmission}},
  };
  rusage usage{};
  ASSERT_EQ(::getrusage(RUSAGE_SELF, &usage), 0);
  [[maybe_unused]] const auto before = static_cast<std::size_t>(usage.ru_maxrss) * 1024;
  Start(setup);
  for (const auto& run : runs) {
    SCOPED_TRACE(run.name);
    job_.events.clear();
    EXPECT_EQ(Run(), run.outcome);
    Lines shown;
    for (const std::string& line : lines()) {
      const bool message = line.size() == messageSize && line.find_first_not_of('x') == line.npos;
      shown.push_back(message ? "x…" : line);
    }
    EXPECT_EQ(shown, run.lines);
    EXPECT_EQ(records(), run.records);
  }
  // (AddressSanitizer keeps freed memory and adds its own, so it cannot tell.)
#ifndef __SANITIZE_ADDRESS__
  ASSERT_EQ(::getrusage(RUSAGE_SELF, &usage), 0);
  EXPECT_LT(static_cast<std::size_t>(usage.ru_maxrss) * 1024 - before, 3 * limit);
#endif
}

// Failures whose text comes from the transport: the record and the line must
// carry the same text, and the closing steps must stand where they belong.
TEST_F(SyncJobTest, HelloThatCannotBeSentEndsTheDialogue) {
  struct Case {
    std::string name;
    DialogueSetup setup;
    std::string certificate;  // in the store; empty for none
    std::string message;      // how the failure's message begins
  };
  const auto dispatcherAt = [](std::string host) {
    DialogueSetup setup;
    setup.dispatcherHost = std::move(host);
    return setup;
  };
  DialogueSetup certificateNeeded;
  certificateNeeded.clientCert = ClientCertRequest::Required;
  const std::string send = "SendHttpsRequest: [ErrorCode ";
  const Case cases[] = {
      // localhost is not a name in the server's certificate.
      {"server certificate for another name", dispatcherAt("localhost"), "", send},
      {"client certificate of another kind", certificateNeeded, "/O=Test/CN=Office 7 CT1", send},
      {"no client certificate at all", certificateNeeded, "", send},
      {"error page for hello", HelloAnswering("<html>", 500), "", ""},
      {"credentials in the key file's host", dispatcherAt("evil.invalid@127.0.0.1"), "",
       "[Set ServerName]: found symbol \"@\""},
      {"fragment in the key file's host", dispatcherAt("127.0.0.1#x"), "",
       "[Set ServerName]: found symbol \"#\""},
      {"key file's host does not resolve", dispatcherAt("nonexistent.invalid"), "",
       "ConnectToHttpsServer: [ErrorCode 6]" + ErrorCodeText(6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir_.path() / "certs");
    std::filesystem::create_directories(dir_.path() / "certs");
    if (!c.certificate.empty()) GiveClientCertificate(c.certificate);
    job_.events.clear();
    Start(c.setup);
    EXPECT_EQ(Run(), JobOutcome::Failed);
    ASSERT_GE(lines().size(), 2u);
    EXPECT_EQ(lines()[0], kDone);
    const std::string message = FailureMessage(lines(), 1);
    EXPECT_EQ(records(), (Records{kEndOfTransmission, JobFailure(message)}));
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
    if (c.message.starts_with("[") || c.message.starts_with("Connect")) {
      EXPECT_TRUE(dispatcher_->requests().empty());
    }
    EXPECT_TRUE(cdb_->requests().empty());
  }
}

TEST_F(SyncJobTest, SaveThatCannotBeSentIsReportedWithTheSystemText) {
  DialogueSetup setup;
  // The connection breaks in the middle of the reply.
  HttpsTestReply broken = Answer(std::string(4096, 'x'));
  broken.dropAfterBytes = 10;
  setup.save = {broken};
  Start(setup);
  EXPECT_EQ(Run(), JobOutcome::Failed);

  ASSERT_EQ(records().size(), 2u);
  const EventRecord& fault = records()[0];
  ASSERT_EQ(fault.strings.size(), 3u);
  const std::uint32_t code = ErrorCodeIn(fault.strings[2]);
  EXPECT_NE(code, 0u) << fault.strings[2];
  EXPECT_EQ(fault, SaveFault("/save (Syn.SendHttpsRequest)", ErrorCodeMessage(code)));
  EXPECT_EQ(records()[1], kEndOfTransmission);
  EXPECT_EQ(lines(), (Lines{"ошибка: " + ErrorCodeText(code), kDone}));
}

TEST_F(SyncJobTest, PreparationFailuresSendNothing) {
  Start(DialogueSetup());
  struct Case {
    std::string name;
    std::string xml;
    std::string keyFile;
    std::string ownRecordCaller;  // the first string of the failing step's own record
  };
  const std::string invalid = dir_.Write(
      "invalid.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><dataPacket><bogus/></dataPacket>");
  const Case cases[] = {
      {"key file missing", xml_, dir_ / "missing.cod", "TFormMain.LoadParamsFromICod"},
      {"XML missing", dir_ / "missing.xml", keyFile_, "TFormMain.GetFullSourceName"},
      {"document against the schema", invalid, keyFile_, "xml не прошел проверку"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    job_.events.clear();
    EXPECT_EQ(XmlToServer(job_.context, c.xml, xsd_, c.keyFile), JobOutcome::Failed);
    const Records& got = records();
    ASSERT_FALSE(got.empty());
    ASSERT_FALSE(got[0].strings.empty());
    EXPECT_EQ(got[0].strings[0], c.ownRecordCaller);
    ASSERT_FALSE(lines().empty());
    if (c.ownRecordCaller == "xml не прошел проверку") {
      // The validation reports itself; the job adds nothing.
      EXPECT_EQ(got.size(), 1u);
    } else {
      const std::string message = got[0].strings.at(1);
      EXPECT_EQ(got, (Records{got[0], JobFailure(message)}));
      EXPECT_EQ(FailureMessage(lines(), 0), message);
    }
    EXPECT_NE(lines().back(), kDone);
  }
  EXPECT_TRUE(Requests().empty());
}

// The operator's Cancel, taken at each step: nothing goes to the server
// before the "save" request; once that is under way the job says the server
// may have the certificates, and records so.
TEST_F(SyncJobTest, CancelStopsTheJobWhereItIs) {
  const std::string notSent = "Отменено оператором, сертификаты не отправлены";
  const std::string maybeSent = "Отправка прервана оператором: сервер мог уже получить сертификаты";
  const EventRecord cancelled = Rec(EventType::Information, 2, 0x40000103,
                                    {std::string(kCaller), notSent});
  struct Case {
    std::string name;
    JobStep at;            // the runner takes the Cancel at this step
    int passing;           // after letting this many blocking calls of it pass
    bool whenEventsPending;  // or the window, when the job lets its events through
    Lines lines;
    Records records;
  };
  const Case cases[] = {
      {"while the document is checked", JobStep::Validation, 0, false, {notSent}, {cancelled}},
      {"while hello goes out", JobStep::Connecting, 0, false, {kDone, notSent},
       {kEndOfTransmission, cancelled}},
      // hello's name lookup and transfer pass: no fault of the server is recorded.
      {"while version goes out", JobStep::Connecting, 2, false, {kDone, notSent},
       {kEndOfTransmission, cancelled}},
      {"just before save", JobStep::None, 0, true, {kDone, notSent},
       {kEndOfTransmission, cancelled}},
      {"while save goes out", JobStep::Sending, 0, false, {kDone, maybeSent},
       {kEndOfTransmission,
        Rec(EventType::Error, 2, 0x40000103, {std::string(kCaller), maybeSent})}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobProgress progress;
    testing::CancelAtStep runner(progress, c.at, c.passing);
    job_.context.progress = &progress;
    job_.context.blockingCalls = &runner;
    if (c.whenEventsPending) job_.view.onPendingEvents = [&progress] { progress.RequestCancel(); };
    job_.events.clear();
    Start(DialogueSetup());
    EXPECT_EQ(Run(), JobOutcome::Cancelled);
    EXPECT_EQ(lines(), c.lines);
    EXPECT_EQ(records(), c.records);
    EXPECT_TRUE(job_.context.report.cancelled);
    if (c.at != JobStep::Sending) {
      for (const RecordedRequest& request : Requests()) EXPECT_NE(request.method, "POST");
    }
    job_.view.onPendingEvents = nullptr;
  }
}

TEST_F(SyncJobTest, AJobStartedWhileWaitingDoesNotRunInsideThisOne) {
  Start(DialogueSetup());
  std::vector<JobOutcome> nested;
  job_.view.onPendingEvents = [&] { nested.push_back(Run()); };
  EXPECT_EQ(Run(), JobOutcome::Succeeded);
  EXPECT_EQ(nested, (std::vector<JobOutcome>{JobOutcome::Failed, JobOutcome::Failed}));
  EXPECT_EQ(lines(), (Lines{kDone}));
  EXPECT_EQ(Requests().size(), 3u);

  // Once it has ended, the next job runs as usual.
  job_.view.onPendingEvents = nullptr;
  EXPECT_EQ(Run(), JobOutcome::Succeeded);
}

// The trace shows the URL as sent, where the key is escaped: no form of it
// may show.
TEST(HideOfficeKey, NoFormOfTheKeyShows) {
  const std::pair<std::string, std::string> cases[] = {
      {"> GET https://h:1/sync/hello?orxn=7&plcn=1&orxk=0123456789ABCDEF0123456789ABCDEF&pver=4.1.1.1 (64 bytes)",
       "> GET https://h:1/sync/hello?orxn=7&plcn=1&orxk=***&pver=4.1.1.1 (64 bytes)"},
      {"> GET https://h:1/sync/hello?orxn=7&orxk=a%20b%22c%23%3C%3E%5E%60%7B%7C%7D%D0%AF&pver=4.1.1.1 (64 bytes)",
       "> GET https://h:1/sync/hello?orxn=7&orxk=***&pver=4.1.1.1 (64 bytes)"},
      {"> GET https://h:1/v?orxk=ab&pver=cd&k=v&pver=4.1.1.1 (9 bytes)",
       "> GET https://h:1/v?orxk=***&pver=4.1.1.1 (9 bytes)"},
      {"> GET https://h:1/v?orxk=secret (9 bytes)", "> GET https://h:1/v?orxk=*** (9 bytes)"},
      {"< 200 (21 bytes)", "< 200 (21 bytes)"},
  };
  for (const auto& [line, shown] : cases) EXPECT_EQ(HideOfficeKey(line), shown) << line;
}

}  // namespace
}  // namespace orx
