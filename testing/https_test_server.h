#pragma once
// A loopback HTTPS server for network tests, with certificates made at test
// time by a throwaway certificate authority (openssl command-line tool).
//
//   orx::testing::HttpsTestServer server({{"/sync/hello", {orx::testing::Reply("<a/>")}}});
//   orx::testing::ScopedEnv trust("SSL_CERT_FILE", server.caFile().c_str());
//   ... connect to 127.0.0.1 or localhost at server.port() ...
//   auto requests = server.requests();  // what the client sent, in order
//
// The server runs testing/https_test_server.py in its own process, which is
// killed when the object goes. Every failure to set up throws
// std::runtime_error (a test then fails with that text).
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "testing/test_support.h"

namespace orx::testing {

enum class CertFormat {
  Pem,           // certificate and unencrypted key in one file
  Pkcs12,        // empty password, OpenSSL 3 default encryption
  Pkcs12Legacy,  // empty password, the RC2/3DES encryption of older tools
};

// A certificate authority whose files live in a scratch folder of its own.
// Key generation uses EC P-256 keys, so making certificates is quick.
class TestPki {
 public:
  TestPki();
  TestPki(const TestPki&) = delete;
  TestPki& operator=(const TestPki&) = delete;

  // The CA certificate (PEM): what SSL_CERT_FILE names to trust the servers.
  const std::string& caFile() const { return caFile_; }
  const std::filesystem::path& folder() const { return dir_.path(); }

  struct ServerCert {
    std::string certFile;
    std::string keyFile;
  };
  using Issuer = ServerCert;
  // An intermediate CA signed by the root, for client certificates that the
  // servers (which trust only the root) accept only with their chain.
  Issuer MakeIntermediateCa(std::string_view subject);
  // A server certificate signed by the CA, valid for the names given
  // (IP addresses and DNS names, as subject alternative names).
  ServerCert MakeServerCert(const std::vector<std::string>& names);

  // A client certificate signed by the CA, written to `file` (folders made
  // as needed). `subject` is in openssl's -subj form, e.g.
  // "/O=Test/CN=Office 7 Form A", which prints as "CN=Office 7 Form A,O=Test";
  // UTF-8 text (Cyrillic) is allowed.
  // With an issuer, the certificate is signed by it, and the file holds the
  // issuer's certificate too when withChain is set.
  // An RSA key instead of P-256 with rsaKey set.
  void MakeClientCert(std::string_view subject, CertFormat format,
                      const std::filesystem::path& file, const Issuer* issuer = nullptr,
                      bool withChain = true, bool rsaKey = false);

 private:
  ScratchDir dir_;
  std::string caFile_;
  std::string caKey_;
  int serial_ = 0;
};

// One scripted reply. Each request to a path takes the next reply of that
// path's list; the last one repeats. Unscripted paths get 404 "not found".
struct HttpsTestReply {
  int status = 200;  // 302 by default when redirect is set
  std::string body;  // bytes sent as they are
  std::string contentType = "text/plain; charset=utf-8";
  std::vector<std::pair<std::string, std::string>> headers;  // sent as well
  std::string redirect;                     // Location, when not empty
  std::optional<std::size_t> dropAfterBytes;  // send this much, then drop the connection
  double stallSeconds = 0;                  // wait before replying
  std::optional<std::size_t> fillBytes;     // a body of this many "x" (instead of body)
  // The body as pieces, each sent as many times as it says (instead of
  // body): a large body that the test never holds whole.
  std::vector<std::pair<std::string, std::size_t>> pieces;
  bool endless = false;                     // "x" without end and without a length
  double trickleSeconds = 0;                // the body one byte at a time, this far apart
  bool chunked = false;                     // the body in chunks, without a length
  std::size_t readBytesPerSecond = 0;       // take in the request body no faster; 0: at once
};

inline HttpsTestReply Reply(std::string body, int status = 200) {
  HttpsTestReply reply;
  reply.body = std::move(body);
  reply.status = status;
  return reply;
}
inline HttpsTestReply Redirect(std::string location, int status = 302) {
  HttpsTestReply reply;
  reply.redirect = std::move(location);
  reply.status = status;
  return reply;
}
// Announces the whole body, sends its first `sentBytes`, then drops the connection.
inline HttpsTestReply DroppedReply(std::string body, std::size_t sentBytes) {
  HttpsTestReply reply = Reply(std::move(body));
  reply.dropAfterBytes = sentBytes;
  return reply;
}

// Keys are request paths without the query ("/sync/hello"), or whole
// targets with the query, or "*" for any other path.
using HttpsTestScript = std::map<std::string, std::vector<HttpsTestReply>>;

struct RecordedRequest {
  std::string method;
  std::string target;  // path and query exactly as sent
  std::vector<std::pair<std::string, std::string>> headers;  // in order received
  std::string body;  // bytes
  std::string clientCertSubject;  // RFC 2253 form; empty when none was presented

  // The first header of that name (case-insensitive), nullopt if none.
  std::optional<std::string> Header(std::string_view name) const;
};

struct RecordedHandshake {
  bool completed = false;
  std::string clientCertSubject;  // empty when none arrived
};

enum class ClientCertRequest { None, Optional, Required };

class HttpsTestServer {
 public:
  struct Options {
    HttpsTestScript script;
    ClientCertRequest clientCert = ClientCertRequest::None;
    std::string tlsVersion;  // "1.2" or "1.3" to offer only that; empty: both
    // Names in the server certificate; others give a host-name mismatch.
    std::vector<std::string> serverNames = {"127.0.0.1", "localhost"};
    // A shared CA, so that several servers are trusted by one SSL_CERT_FILE;
    // null: the server makes its own.
    std::shared_ptr<TestPki> pki;
    // Also an HTTPS proxy: CONNECT requests are recorded (the target is the
    // host and port asked for) and tunnelled there.
    bool connectProxy = false;
  };

  // Starts the server and waits (at most 30 s) until it listens.
  HttpsTestServer();
  explicit HttpsTestServer(HttpsTestScript script);
  explicit HttpsTestServer(Options options);
  ~HttpsTestServer();  // kills the server process
  HttpsTestServer(const HttpsTestServer&) = delete;
  HttpsTestServer& operator=(const HttpsTestServer&) = delete;

  int port() const { return port_; }
  const std::string& caFile() const { return pki_->caFile(); }
  TestPki& pki() { return *pki_; }

  // Every request received so far, in order of arrival. A request is
  // recorded before its reply is sent, so after a client has its reply the
  // request is here.
  std::vector<RecordedRequest> requests() const;
  // Every TLS handshake so far, completed or not, in order. The server
  // records a handshake after the client has gone on, so this waits (at
  // most 30 s) until there are at least `atLeast`.
  std::vector<RecordedHandshake> handshakes(std::size_t atLeast = 0) const;
  // What the server wrote to standard error (its log), for failure messages.
  std::string log() const;

 private:
  std::shared_ptr<TestPki> pki_;
  ScratchDir dir_;
  std::string recordFile_;
  std::string handshakeFile_;
  std::string logFile_;
  int pid_ = -1;
  int port_ = 0;
};

}  // namespace orx::testing
