#pragma once
// HTTPS transport over libcurl (OpenSSL). One request at a time, HTTP/1.1,
// the server's certificate and host name always verified. A client
// certificate is taken from the certificate store folder only when the
// server's handshake asks for one.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "support/blocking_call.h"
#include "support/error.h"

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

  // Throws EpnHttpsException when the name holds "/" or ":".
  void SetServerName(std::string_view name);
  const std::string& ServerName() const { return serverName_; }

  // The body of every later request of this connection (GET included).
  void SetRequestData(std::string data);

  // Prepares a request with the verb ("GET" or "POST"). False with LastError
  // set and all handles closed on failure. Throws Error("Range check error")
  // for a port outside 0..65535.
  bool ConnectToHttpsServer(std::string_view verb);
  // Performs the request and takes in the whole response. False with
  // LastError set on failure: a response cut off partway is a failure too.
  // When the server asks for a client certificate and none in the store
  // matches CertSubject, LastError is 58 (CURLE_SSL_CERTPROBLEM) and
  // LastErrorDetail names the subject and the folder.
  bool SendHttpsRequest();
  // The whole response body decoded from UTF-8 (any status); empty when it
  // is not valid UTF-8, and before a request succeeded.
  std::u16string ReadResponse();
  // The same as UTF-8 text (what callers use).
  std::string ReadResponseUtf8();
  void CloseHandles();

  // The libcurl code of the last step (CURLcode), 0 after success.
  std::uint32_t LastError() const { return lastError_; }
  // libcurl's detailed error text of the last failure (its error buffer), if any.
  const std::string& LastErrorDetail() const { return lastErrorDetail_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string serverName_;
  std::uint32_t lastError_ = 0;
  std::string lastErrorDetail_;
};

// One GET from start to end; returns the body (UTF-8). Throws Error
// "ConnectToHttpsServer: [ErrorCode N]<text>" or "SendHttpsRequest: [ErrorCode N]<text>",
// followed by " (" LastErrorDetail ")" when there is a detail, e.g.
// "SendHttpsRequest: [ErrorCode 60]SSL peer certificate or SSH remote key was
// not OK (SSL certificate problem: unable to get local issuer certificate)".
// EpnHttpsException from SetServerName and "Range check error" pass through.
std::string HttpsGet(THttpsConnection& connection, std::string_view agent,
                     std::string_view certSubject, std::string_view host, std::string_view path,
                     std::int32_t port);

// "[ErrorCode N]" followed at once by ErrorCodeText(N).
std::string ErrorCodeMessage(std::uint32_t code);

}  // namespace orx
