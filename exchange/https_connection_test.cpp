#include "exchange/https_connection.h"

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

#include "support/text.h"
#include "testing/https_test_server.h"
#include "testing/test_support.h"

namespace orx {
namespace {

using testing::CertFormat;
using testing::ClientCertRequest;
using testing::HttpsTestReply;
using testing::HttpsTestServer;
using testing::DroppedReply;
using testing::Redirect;
using testing::Reply;

// A port on which nothing listens: bound once, then released.
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);
  if (!bound) throw std::runtime_error("cannot find a free port");
  return ntohs(address.sin_port);
}

std::string ThrownMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

class HttpsConnectionTest : public ::testing::Test {
 protected:
  // Trusts the server's CA and points the store at a scratch folder.
  void Use(HttpsTestServer& server) {
    trust_.reset();  // the old one puts back what it found, so it goes first
    trust_ = std::make_unique<testing::ScopedEnv>("SSL_CERT_FILE", server.caFile().c_str());
    connection_.CertStoreFolder = store_.path().string();
  }
  std::string Get(HttpsTestServer& server, std::string_view path,
                  std::string_view subject = "Form A", std::string_view host = "127.0.0.1") {
    return HttpsGet(connection_, "Custom ORX", subject, host, path, server.port());
  }

  testing::ScopedEnv noProxy_{"no_proxy", "127.0.0.1,localhost"};
  testing::ScratchDir store_;
  THttpsConnection connection_;
  std::unique_ptr<testing::ScopedEnv> trust_;
};

TEST_F(HttpsConnectionTest, ServerThatDoesNotAskNeverCausesTheStoreToBeOpened) {
  HttpsTestServer server({{"/sync/hello", {Reply("<hello/>")}}});
  Use(server);
  connection_.CertStoreFolder = store_ / "does-not-exist";
  EXPECT_EQ(Get(server, "/sync/hello", "no such subject"), "<hello/>");
  EXPECT_EQ(connection_.LastError(), 0u);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].clientCertSubject, "");
}

struct StoreFile {
  std::string name;
  std::string subject;
  CertFormat format;
  bool viaIntermediate = false;  // issued by an intermediate CA, the file holding its chain
};

struct ClientCertCase {
  std::string label;
  ClientCertRequest request;
  std::string tls;
  std::vector<StoreFile> store;
  std::string certSubject;
  std::string presented;  // subject the server must see
  bool storeFromEnvironment = false;
  friend void PrintTo(const ClientCertCase& c, std::ostream* os) { *os << c.label; }
};

class ClientCertTest : public HttpsConnectionTest,
                       public ::testing::WithParamInterface<ClientCertCase> {};

TEST_P(ClientCertTest, PresentsTheFirstMatchingCertificateWhenAsked) {
  const auto& c = GetParam();
  HttpsTestServer::Options options;
  options.script = {{"*", {Reply("ok")}}};
  options.clientCert = c.request;
  options.tlsVersion = c.tls;
  HttpsTestServer server(options);
  Use(server);
  const auto intermediate = server.pki().MakeIntermediateCa("/O=Test/CN=Departmental CA");
  for (const auto& file : c.store)
    server.pki().MakeClientCert(file.subject, file.format, store_.path() / file.name,
                                file.viaIntermediate ? &intermediate : nullptr);
  testing::ScopedEnv storeVariable("ORX_CERT_STORE", store_.path().c_str());
  if (c.storeFromEnvironment) connection_.CertStoreFolder.clear();
  EXPECT_EQ(Get(server, "/sync/hello", c.certSubject), "ok") << server.log();
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].clientCertSubject, c.presented);
}

INSTANTIATE_TEST_SUITE_P(
    Store, ClientCertTest,
    ::testing::Values(
        ClientCertCase{"OptionalPem", ClientCertRequest::Optional, "",
                       {{"office7.pem", "/O=Test/CN=Office 7 Form A", CertFormat::Pem}},
                       "Form A", "CN=Office 7 Form A,O=Test"},
        ClientCertCase{"RequiredTls13LegacyPkcs12", ClientCertRequest::Required, "1.3",
                       {{"office7.p12", "/O=Test/CN=Office 7 Form A", CertFormat::Pkcs12Legacy}},
                       "Form A", "CN=Office 7 Form A,O=Test"},
        ClientCertCase{"RequiredTls12Pem", ClientCertRequest::Required, "1.2",
                       {{"office7.pem", "/O=Test/CN=Office 7 Form A", CertFormat::Pem}},
                       "form a", "CN=Office 7 Form A,O=Test"},
        ClientCertCase{"CyrillicIgnoringCase", ClientCertRequest::Required, "",
                       {{"ct1.pfx", "/O=Тест/CN=Офис 7 Форма СТ-1", CertFormat::Pkcs12}},
                       "форма ст-1", "CN=Офис 7 Форма СТ-1,O=Тест", true},
        ClientCertCase{"IntermediatePkcs12Tls13", ClientCertRequest::Required, "1.3",
                       {{"office7.p12", "/O=Test/CN=Office 7 Form A", CertFormat::Pkcs12, true}},
                       "Form A", "CN=Office 7 Form A,O=Test"},
        ClientCertCase{"IntermediatePemTls12", ClientCertRequest::Required, "1.2",
                       {{"office7.pem", "/O=Test/CN=Office 7 Form A", CertFormat::Pem, true}},
                       "Form A", "CN=Office 7 Form A,O=Test"},
        ClientCertCase{"FirstMatchByFileName", ClientCertRequest::Required, "",
                       {{"c.pem", "/O=Test/CN=Office 3 Form A", CertFormat::Pem},
                        {"a.pem", "/O=Test/CN=Office 1 CT-1", CertFormat::Pem},
                        {"b.p12", "/O=Test/CN=Office 2 Form A", CertFormat::Pkcs12}},
                       "Form A", "CN=Office 2 Form A,O=Test"}),
    [](const auto& info) { return info.param.label; });

struct NoMatchCase {
  std::string label;
  ClientCertRequest request;
  std::string tls;
  friend void PrintTo(const NoMatchCase& c, std::ostream* os) { *os << c.label; }
};

class NoMatchingCertTest : public HttpsConnectionTest,
                           public ::testing::WithParamInterface<NoMatchCase> {};

TEST_P(NoMatchingCertTest, FailsClearlyEvenTowardsAServerThatOnlyAsks) {
  HttpsTestServer::Options options;
  options.script = {{"*", {Reply("ok")}}};
  options.clientCert = GetParam().request;
  options.tlsVersion = GetParam().tls;
  HttpsTestServer server(options);
  Use(server);
  server.pki().MakeClientCert("/O=Test/CN=Office 7 CT-1", CertFormat::Pem, store_.path() / "a.pem");
  const std::string message = ThrownMessage([&] { Get(server, "/sync/hello", "Form A"); });
  EXPECT_EQ(
      message.rfind("SendHttpsRequest: [ErrorCode 58]Не удалось предъявить клиентский сертификат (", 0),
      0u)
      << message;
  EXPECT_NE(message.find("\"Form A\""), std::string::npos) << message;
  EXPECT_NE(message.find(store_.path().string()), std::string::npos) << message;
  EXPECT_EQ(connection_.LastError(), 58u);
  EXPECT_TRUE(server.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(Servers, NoMatchingCertTest,
                         ::testing::Values(NoMatchCase{"Optional", ClientCertRequest::Optional, ""},
                                           NoMatchCase{"RequiredTls12", ClientCertRequest::Required, "1.2"},
                                           NoMatchCase{"RequiredTls13", ClientCertRequest::Required, "1.3"}),
                         [](const auto& info) { return info.param.label; });

TEST_F(HttpsConnectionTest, ARefusedCertificateIsNamed) {
  for (const std::string tls : {"1.2", "1.3"}) {
    SCOPED_TRACE(tls);
    HttpsTestServer::Options options;
    options.script = {{"*", {Reply("ok")}}};
    options.clientCert = ClientCertRequest::Required;
    options.tlsVersion = tls;
    HttpsTestServer server(options);
    Use(server);
    // Issued by an intermediate that the file does not hold.
    const auto intermediate = server.pki().MakeIntermediateCa("/O=Test/CN=Departmental CA");
    server.pki().MakeClientCert("/O=Test/CN=Office 7 Form A", CertFormat::Pem,
                                store_.path() / "a.pem", &intermediate, false);
    const std::string message = ThrownMessage([&] { Get(server, "/sync/hello", "Form A"); });
    EXPECT_EQ(message.rfind("SendHttpsRequest: [ErrorCode ", 0), 0u) << message;
    // TLS 1.3 servers may drop the connection before their alert is read.
    const std::string refused = tls == "1.2" ? " (сервер отверг сертификат клиента "
                                             : " клиента ";
    EXPECT_NE(message.find("]" + ErrorCodeText(connection_.LastError()) + " ("), std::string::npos)
        << message;
    EXPECT_NE(message.find(refused + "\"CN=Office 7 Form A,O=Test\" (" + (store_ / "a.pem") + ")"),
              std::string::npos)
        << message;
    EXPECT_TRUE(server.requests().empty());
  }
}

TEST_F(HttpsConnectionTest, ServerCertificateIsAlwaysVerified) {
  HttpsTestServer::Options options;
  options.script = {{"*", {Reply("ok")}}};
  options.pki = std::make_shared<testing::TestPki>();
  HttpsTestServer server(options);
  options.serverNames = {"other.example"};
  options.clientCert = ClientCertRequest::Required;
  HttpsTestServer otherName(options);
  options.pki->MakeClientCert("/O=Test/CN=Office 7 Form A", CertFormat::Pem,
                              store_.path() / "a.pem");
  {
    testing::ScopedEnv noTrust("SSL_CERT_FILE", nullptr);
    const std::string message = ThrownMessage([&] { Get(server, "/"); });
    EXPECT_EQ(
        message.rfind("SendHttpsRequest: [ErrorCode 60]Сертификат сервера не прошёл проверку (", 0), 0u)
        << message;
  }
  Use(server);
  const std::string message = ThrownMessage([&] { Get(otherName, "/"); });
  EXPECT_EQ(message.rfind("SendHttpsRequest: [ErrorCode 60]", 0), 0u) << message;
  // The wrong name is found before the client certificate goes out.
  const auto handshakes = otherName.handshakes(1);
  ASSERT_EQ(handshakes.size(), 1u);
  EXPECT_EQ(handshakes[0].clientCertSubject, "");
  EXPECT_EQ(Get(server, "/", "", "localhost"), "ok");  // the same CA, a name it holds
}

// The client certificate goes only to the server, inside the tunnel; the
// proxy's own certificate is checked against the proxy's name, with the
// roots SSL_CERT_FILE names.
TEST_F(HttpsConnectionTest, AnHttpsProxySeesNoClientCertificate) {
  HttpsTestServer::Options options;
  options.pki = std::make_shared<testing::TestPki>();
  options.script = {{"*", {Reply("ok")}}};
  options.clientCert = ClientCertRequest::Required;
  options.serverNames = {"127.0.0.1"};
  HttpsTestServer server(options);
  options.clientCert = ClientCertRequest::Optional;
  options.connectProxy = true;
  options.serverNames = {"localhost"};
  HttpsTestServer proxy(options);
  options.serverNames = {"other.example"};
  HttpsTestServer misnamedProxy(options);
  options.pki->MakeClientCert("/O=Test/CN=Office 7 Form A", CertFormat::Pem,
                              store_.path() / "a.pem");
  Use(server);
  testing::ScopedEnv everythingProxied("no_proxy", nullptr);
  {
    const std::string address = "https://localhost:" + std::to_string(proxy.port());
    testing::ScopedEnv viaProxy("https_proxy", address.c_str());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Get(server, "/sync/hello"), "ok") << proxy.log();
  }
  const std::string target = "127.0.0.1:" + std::to_string(server.port());
  const auto tunnels = proxy.requests();
  ASSERT_EQ(tunnels.size(), 3u);
  for (const auto& tunnel : tunnels) {
    EXPECT_EQ(tunnel.method, "CONNECT");
    EXPECT_EQ(tunnel.target, target);
    EXPECT_EQ(tunnel.clientCertSubject, "");
  }
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& request : requests) {
    EXPECT_EQ(request.clientCertSubject, "CN=Office 7 Form A,O=Test");
  }

  const std::string address = "https://localhost:" + std::to_string(misnamedProxy.port());
  testing::ScopedEnv viaProxy("https_proxy", address.c_str());
  const std::string message = ThrownMessage([&] { Get(server, "/sync/hello"); });
  EXPECT_EQ(message.rfind("SendHttpsRequest: [ErrorCode 60]", 0), 0u) << message;
  EXPECT_TRUE(misnamedProxy.requests().empty());
  EXPECT_EQ(server.requests().size(), 3u);
}

TEST_F(HttpsConnectionTest, GetCarriesTheBodyAndTheHeaders) {
  HttpsTestServer server({{"*", {Reply("ok")}}});
  Use(server);
  connection_.SetRequestData("orxn=7&plcn=1&orxk=a=b&c");
  const struct {
    std::string path;
    std::string target;
  } cases[] = {{"//sync//hello?x=1", "/sync/hello?x=1"}, {"", "/"}, {"/a b#c", "/a%20b%23c"}};
  for (const auto& c : cases) EXPECT_EQ(Get(server, c.path), "ok") << c.path;

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), std::size(cases));
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const auto& r = requests[i];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, cases[i].target);
    EXPECT_EQ(r.body, "orxn=7&plcn=1&orxk=a=b&c");
    EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.Header("User-Agent"), "Custom ORX");
    EXPECT_EQ(r.Header("Host"), "127.0.0.1:" + std::to_string(server.port()));
  }
}

// A large body goes at once, and a slow line has time for it: the server
// takes it in for longer than a request may take without a body.
TEST_F(HttpsConnectionTest, PostSendsALargeBodyAtOnce) {
  HttpsTestReply saved = Reply("saved");
  saved.readBytesPerSecond = 512 * 1024;
  HttpsTestServer server({{"/cdb/save", {saved}}});
  Use(server);
  std::string body(1536 * 1024, 'x');
  body[0] = '\xD0';
  connection_.RequestLimits.whole = std::chrono::seconds(1);
  connection_.RequestLimits.perBodyChunk = std::chrono::milliseconds(50);  // 4.8 s for the body
  // The body waits in the system's buffers while the server reads; moving
  // from there to the server is moving too.
  connection_.RequestLimits.stall = std::chrono::seconds(1);
  connection_.SetServerName("localhost");
  connection_.Port = server.port();
  connection_.ObjectName = "/cdb/save";
  ASSERT_TRUE(connection_.ConnectToHttpsServer("POST"));
  connection_.SetRequestData(body);  // taken at the send
  ASSERT_TRUE(connection_.SendHttpsRequest()) << connection_.LastErrorDetail();
  EXPECT_EQ(connection_.ReadResponseUtf8(), "saved");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].body, body);
  EXPECT_FALSE(requests[0].Header("Expect"));
}

TEST_F(HttpsConnectionTest, ResponseBodiesOfAnyStatusAreDecodedWhole) {
  std::string large;
  for (int i = 0; large.size() < 70000; ++i) large += "строка " + std::to_string(i) + "\n";
  const struct {
    std::string path;
    HttpsTestReply reply;
    std::u16string expected;
  } cases[] = {
      {"/large", Reply(large), Utf8ToUtf16(large)},
      {"/error", Reply("<h1>Ошибка</h1>", 500), u"<h1>Ошибка</h1>"},
      {"/cut", Reply("abc\xD0"), u""},
      {"/overlong", Reply("a\xC0\xAF"), u""},
      {"/four-byte", Reply("a\xF0\x9F\x98\x80z"), u"a\U0001F600z"},
      {"/moved", Redirect("/large"), Utf8ToUtf16(large)},
  };
  testing::HttpsTestScript script;
  for (const auto& c : cases) script[c.path] = {c.reply};
  HttpsTestServer server(script);
  Use(server);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    connection_.SetServerName("127.0.0.1");
    connection_.Port = server.port();
    connection_.ObjectName = c.path;
    ASSERT_TRUE(connection_.ConnectToHttpsServer("GET"));
    ASSERT_TRUE(connection_.SendHttpsRequest()) << connection_.LastErrorDetail();
    EXPECT_EQ(connection_.ReadResponse(), c.expected);
    EXPECT_EQ(connection_.ReadResponseUtf8(), "");  // handed over already
  }
}

TEST_F(HttpsConnectionTest, TransferFailuresAreFailuresOfTheSend) {
  using std::chrono_literals::operator""s;
  const THttpsConnection::Limits limits;
  HttpsTestReply oversized;
  oversized.fillBytes = limits.replyBytes + 1;
  HttpsTestReply endless;
  endless.endless = true;
  HttpsTestReply trickle = Reply(std::string(100, 'x'));
  trickle.trickleSeconds = 0.1;  // 10 bytes a second
  HttpsTestReply late = Reply("late");
  late.stallSeconds = 3;
  HttpsTestReply slowReader = Reply("read");
  slowReader.readBytesPerSecond = 512 * 1024;
  HttpsTestServer server({{"/drop", {DroppedReply(std::string(50000, 'a'), 20000)}},
                          {"/to-http", {Redirect("http://127.0.0.1/")}},
                          {"/oversized", {oversized}},
                          {"/endless", {endless}},
                          {"/trickle", {trickle}},
                          {"/late", {late}},
                          {"/slow-reader", {slowReader}}});
  Use(server);
  const testing::LoopbackListener silent;  // takes connections, never answers
  const std::string tooLarge =
      " (ответ сервера больше " + std::to_string(limits.replyBytes) + " байт)";
  const std::string timedOut = "SendHttpsRequest: [ErrorCode 28]Истекло время ожидания (";
  const std::string upload(1536 * 1024, 'u');
  const struct {
    std::string path;
    int port;
    std::string prefix;
    std::string detail;  // what the message must end with
    THttpsConnection::Limits limits = {};
    std::string body = "q";
  } cases[] = {
      {"/drop", server.port(),
       "SendHttpsRequest: [ErrorCode 18]Ответ сервера пришёл не полностью (", ""},
      {"/to-http", server.port(),
       "SendHttpsRequest: [ErrorCode 1]Адрес ведёт по протоколу, который программа не "
       "поддерживает (",
       ""},
      {"/", ClosedPort(), "SendHttpsRequest: [ErrorCode 7]Не удалось подключиться к серверу (", ""},
      {"/oversized", server.port(), "SendHttpsRequest: [ErrorCode 63]Ответ сервера слишком велик (",
       tooLarge},
      {"/endless", server.port(), "SendHttpsRequest: [ErrorCode 63]", tooLarge},
      {"/", silent.port(), timedOut, " (нет соединения с сервером за 1 с)", {.connect = 1s}},
      {"/late", server.port(), timedOut, " (за 1 с не передано ни байта)", {.stall = 1s}},
      {"/late", server.port(), timedOut,
       " (запрос не завершился за 1 с — 1 с и 1 с на каждые 16 КиБ тела запроса)",
       {.whole = 1s}},
      {"/trickle", server.port(), timedOut, " (ответ шёл медленнее 64 байт/с в течение 2 с)",
       {.slowReplyWindow = 2s}},
      // Without an allowance for its body, a slow upload runs out of time.
      {"/slow-reader", server.port(), timedOut,
       " (запрос не завершился за 1 с — 1 с и 0 с на каждые 16 КиБ тела запроса)",
       {.whole = 1s, .perBodyChunk = 0s}, upload},
  };
  for (const auto& c : cases) {
    connection_.RequestLimits = c.limits;
    connection_.SetRequestData(c.body);
    const std::string message = ThrownMessage([&] {
      HttpsGet(connection_, "Custom ORX", "", "127.0.0.1", c.path, c.port);
    });
    EXPECT_EQ(message.rfind(c.prefix, 0), 0u) << message;
    EXPECT_TRUE(message.ends_with(c.detail)) << message;
    EXPECT_EQ(connection_.ReadResponse(), u"");
  }
  // Whatever the server sends, the reply costs less than three times the limit.
  // (AddressSanitizer keeps freed memory and adds its own, so it cannot tell.)
#ifndef __SANITIZE_ADDRESS__
  rusage usage{};
  ASSERT_EQ(::getrusage(RUSAGE_SELF, &usage), 0);
  EXPECT_LT(static_cast<std::size_t>(usage.ru_maxrss) * 1024, 3 * limits.replyBytes);
#endif
}

TEST_F(HttpsConnectionTest, RefusedNamesAndPortsAreNotSent) {
  const struct {
    std::string host;
    int port;
    std::string message;
  } cases[] = {
      {"certsrv:443", 443, "[Set ServerName]: found symbol \":\""},
      {"certsrv/cdb", 443, "[Set ServerName]: found symbol \"/\""},
      {"https://certsrv", 443, "[Set ServerName]: found symbol \"/\""},
      {"certsrv", 70000, "Range check error"},
      {"certsrv", -1, "Range check error"},
      // Nothing that a URL reads as more than a host.
      {"evil.invalid@127.0.0.1", 443, "[Set ServerName]: found symbol \"@\""},
      {"127.0.0.1#x", 443, "[Set ServerName]: found symbol \"#\""},
      {"127.0.0.1?x", 443, "[Set ServerName]: found symbol \"?\""},
      {"[a]", 443, "[Set ServerName]: found symbol \"[\""},
      {"a\\b", 443, "[Set ServerName]: found symbol \"\\\""},
      {"a b", 443, "[Set ServerName]: found symbol \" \""},
      {"a\nb", 443, "[Set ServerName]: found symbol \"\\x0A\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ThrownMessage([&] {
                HttpsGet(connection_, "Custom ORX", "", c.host, "/sync/hello", c.port);
              }),
              c.message);
  }
  EXPECT_THROW(connection_.SetServerName("a:b"), EpnHttpsException);
  EXPECT_EQ(ThrownMessage([&] { connection_.SetServerName("\xD0\xBF\xFF.example"); })
                .rfind("[Set ServerName]: имя узла \"", 0),
            0u);
  // A name in another script is sent in its ASCII form, which a URL takes.
  connection_.SetServerName("пример.localhost");
  EXPECT_EQ(connection_.ServerName(), "xn--e1afmkfd.localhost");
  connection_.Port = 443;
  EXPECT_TRUE(connection_.ConnectToHttpsServer("GET")) << connection_.LastError();

  const struct {
    std::string host;
    std::uint32_t code;
    std::string text;
  } unusable[] = {{"", 3, "Неверный адрес сервера"},
                  {"nonexistent.invalid", 6, "Не удалось найти сервер по имени"}};
  for (const auto& c : unusable) {
    const std::string message =
        ThrownMessage([&] { HttpsGet(connection_, "Custom ORX", "", c.host, "/", 443); });
    EXPECT_EQ(message.rfind("ConnectToHttpsServer: [ErrorCode " + std::to_string(c.code) + "]" +
                                c.text,
                            0),
              0u)
        << message;
    EXPECT_EQ(connection_.LastError(), c.code);
  }
}

TEST(ErrorCodeText, OwnWordingThenLibcurlThenCLibraryElseEmpty) {
  struct Case {
    std::uint32_t code;
    std::string expected;
  } cases[] = {
      {0, ""},
      {2, "Не удалось начать запрос"},  // libcurl's, not ENOENT's
      {9, "Access denied to remote resource"},  // libcurl's, no wording of ours
      {50, "No CSI structure available"},  // retired in libcurl: C library's ENOCSI
      {111, "Connection refused"},         // beyond libcurl's codes
      {12002, ""},
      {0xFFFFFFFFu, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorCodeText(c.code), c.expected) << c.code;
}

}  // namespace
}  // namespace orx
