#pragma once
// HTTPS transport over libcurl (OpenSSL). One request at a time, HTTP/1.1,
// the server's certificate and host name always verified. A client
// certificate is taken from the certificate store folder only when the
// server's handshake asks for one.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "exchange/transfer_watch.h"
#include "support/blocking_call.h"
#include "support/error.h"
#include "support/token_pin.h"

namespace orx {

class EpnHttpsException : public Error {
 public:
  using Error::Error;
};

class THttpsConnection {
 public:
  THttpsConnection();
  ~THttpsConnection();  // CloseHandles
  THttpsConnection(const THttpsConnection&) = delete;
  THttpsConnection& operator=(const THttpsConnection&) = delete;

  std::string AgentName = "agent of the Amber LINE";
  std::string CertSubject;  // the client certificate's subject must contain it
  std::string ObjectName;   // request path with query
  std::int32_t Port = 443;
  std::string Headers = "Content-Type: application/x-www-form-urlencoded";
  // The certificate store folder searched when a server asks for a client
  // certificate; empty: DefaultCertStoreFolder() (exchange/cert_store.h) at
  // that moment.
  std::string CertStoreFolder;
  // Runs the transfer of SendHttpsRequest (not owned); nullptr: in place.
  BlockingCallRunner* BlockingCalls = nullptr;

  // What ends a request (exchange/transfer_watch.h). Tests shorten the
  // limits here; nothing else sets them.
  using Limits = TransferLimits;
  Limits RequestLimits;

  // A moment by which every request must have ended, whatever its own
  // limits allow, and the words that name it when it ends one. Requests
  // made after it fail at once.
  struct Deadline {
    std::chrono::steady_clock::time_point at;
    std::string limit;
  };
  std::optional<Deadline> OuterDeadline;

  // When set, called now and then while a request runs, on the thread that
  // runs it, with the bytes of the request body sent so far and in all;
  // returning false stops the request (LastError 42).
  std::function<bool(std::uint64_t sent, std::uint64_t toSend)> TransferProgress;

  // When set, told one line per request sent ("> GET https://host:port/path?query
  // (N bytes)") and per reply ("< 200 (N bytes)", or "< no reply" with the error).
  // The lines hold the whole query: the receiver masks what must not be shown.
  std::function<void(const std::string&)> Trace;

  // Searched for a client certificate after CertStoreFolder and before the
  // tokens of DefaultTokenModule() (exchange/token_store.h); empty: passed
  // over. Starts as /etc/convertor-orx/certs.
  std::string SharedCertStoreFolder;
  // Gives the PIN of a token whose key is to be used (not owned); nullptr: a
  // key on a token that asks for a PIN cannot be used.
  TokenPinSource* TokenPins = nullptr;

  // Throws EpnHttpsException when the name holds "/" or ":", or any character
  // that would make it more than a host name in a URL ("@", "#", "?", "[",
  // "]", a backslash, a blank, a control character).
  void SetServerName(std::string_view name);
  const std::string& ServerName() const { return serverName_; }

  // The body of every later request of this connection (GET included).
  void SetRequestData(std::string data);

  // Prepares a request with the verb ("GET" or "POST") and resolves the host
  // name (unless a proxy from the environment is to resolve it). False with
  // LastError set and all handles closed on failure: 6 for a name that does
  // not resolve, 3 for one that would not be the host of the URL. Throws
  // Error("Range check error") for a port outside 0..65535.
  [[nodiscard]] bool ConnectToHttpsServer(std::string_view verb);
  // Performs the request and takes in the whole response. False with
  // LastError set on failure: a response cut off partway is a failure too.
  // When the server asks for a client certificate and none in the store
  // matches CertSubject, LastError is 58 (CURLE_SSL_CERTPROBLEM) and
  // LastErrorDetail names the subject and the folder. When the server refuses
  // the certificate sent, LastErrorDetail says so and names its subject. A
  // reply body over RequestLimits.replyBytes gives 63 (CURLE_FILESIZE_EXCEEDED);
  // a time limit gives 28, with LastErrorDetail and EndingLimit naming the
  // limit. The server's name is checked during the handshake, before a client
  // certificate goes out. Through an HTTPS proxy (https_proxy and the like)
  // the proxy's certificate is checked against the proxy's own name with the
  // same trusted roots, and the client certificate goes only to the server,
  // inside the tunnel.
  [[nodiscard]] bool SendHttpsRequest();
  // The whole response body decoded from UTF-8 (any status); empty when it
  // is not valid UTF-8, and before a request succeeded. The body is handed
  // over: a second read gives the empty text.
  std::u16string ReadResponse();
  // The same as UTF-8 text (what callers use), handed over the same way.
  std::string ReadResponseUtf8();
  void CloseHandles();

  // The libcurl code of the last step (CURLcode), 0 after success.
  std::uint32_t LastError() const { return lastError_; }
  // libcurl's detailed error text of the last failure (its error buffer), if any.
  const std::string& LastErrorDetail() const { return lastErrorDetail_; }
  // When a time limit ended the last request, the operator's words for it
  // ("нет соединения с сервером за 60 с"); empty otherwise.
  const std::string& EndingLimit() const { return endingLimit_; }
  // True when TransferProgress stopped the last request (LastError 42).
  bool StoppedByCaller() const { return stoppedByCaller_; }

 private:
  bool Fail(int curlCode, std::string detail = {});
  bool Finish(int curlCode);
  bool PrepareTarget();
  bool ResolveUnlessProxied();
  bool MakeHeaderList();
  bool ApplyOptions();

  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string serverName_;
  std::uint32_t lastError_ = 0;
  std::string lastErrorDetail_;
  std::string endingLimit_;
  bool stoppedByCaller_ = false;
};

// One GET from start to end; returns the body (UTF-8). Throws Error
// "ConnectToHttpsServer: [ErrorCode N]<text>" or "SendHttpsRequest: [ErrorCode N]<text>",
// followed by " (" LastErrorDetail ")" when there is a detail, e.g.
// "SendHttpsRequest: [ErrorCode 60]Сертификат сервера не прошёл проверку
// (SSL certificate problem: unable to get local issuer certificate)".
// EpnHttpsException from SetServerName and "Range check error" pass through.
std::string HttpsGet(THttpsConnection& connection, std::string_view agent,
                     std::string_view certSubject, std::string_view host, std::string_view path,
                     std::int32_t port);

// libcurl's global state and OpenSSL's providers, once per process. A
// connection makes sure of them itself; calling this first, on the main
// thread before other threads start, keeps libcurl's initialisation away from
// them.
void InitHttpsLibraries();

// The description of an error code: the program's wording of the libcurl
// codes a job meets (TransferErrorWording), libcurl's own text
// (curl_easy_strerror) for its other codes, else strerror's. Empty for an
// unknown code. Never throws.
std::string ErrorCodeText(std::uint32_t code);

// "[ErrorCode N]" followed at once by ErrorCodeText(N).
std::string ErrorCodeMessage(std::uint32_t code);

// " (" EndingLimit ")" when a time limit ended the connection's last request,
// else empty: what follows the error code's text in the records and lines
// of a failed request, so that they say which limit it was.
std::string EndingLimitNote(const THttpsConnection& connection);

}  // namespace orx
