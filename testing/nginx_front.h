#pragma once
// nginx (Debian's nginx-light) as the front of loopback HTTPS test servers,
// the way offices meet certificate servers: TLS ended by nginx, HTTP/2 offered
// by ALPN, gzip on, the upstream's replies passed on as they come.
//
//   NginxFront front(pki, {});                 // the port is known at once
//   HttpsTestServer upstream(... front.port() ...);
//   front.Start({{"/", upstream.port()}});
//
// nginx runs in the foreground as this user, with its prefix, configuration,
// logs and temporary files in a scratch folder of its own, so that it needs
// nothing outside it. It listens on 127.0.0.1 at a port the system chose,
// held for it until it listens there itself (both bind with SO_REUSEPORT,
// which no other user's socket can join). It is stopped when the object
// goes. Each
// request reaches the upstream with the headers X-Client-Subject (the client
// certificate's subject, RFC 2253 form, empty when none), X-Tls-Protocol and
// X-Http-Version (as the client spoke to nginx).
#include <string>
#include <utility>
#include <vector>

#include "testing/gost_pki.h"
#include "testing/https_test_server.h"
#include "testing/test_support.h"

namespace orx::testing {

class NginxFront {
 public:
  struct Options {
    std::string tlsVersion;  // "1.2" or "1.3" to offer only that; empty: both
    // Verified against the root of the PKI, chains of up to two certificates.
    ClientCertRequest clientCert = ClientCertRequest::None;
    std::vector<std::string> serverNames = {"127.0.0.1", "localhost"};
    // GOST TLS instead (set tlsVersion "1.2", the only one with GOST suites):
    // the server certificate and the client certificates' authority are this
    // GOST one's, and nginx loads the engine "gost" through its openssl.cnf.
    const GostPki* gost = nullptr;
  };

  NginxFront(TestPki& pki, Options options);
  ~NginxFront();  // stops nginx
  NginxFront(const NginxFront&) = delete;
  NginxFront& operator=(const NginxFront&) = delete;

  int port() const { return port_; }
  // Starts nginx with requests under each path prefix passed to the HTTPS
  // test server at that port (on 127.0.0.1; its certificate, verified with the
  // PKI's root, must name "localhost", as test servers' do by default),
  // and waits (at most 30 s) until it has taken its socket. Throws
  // std::runtime_error with nginx's log when it does not start.
  void Start(const std::vector<std::pair<std::string, int>>& upstreams);
  // What nginx wrote to its error log.
  std::string log() const;

 private:
  std::string Configuration(const std::vector<std::pair<std::string, int>>& upstreams) const;

  TestPki& pki_;
  Options options_;
  ScratchDir dir_;
  UniqueFd placeholder_;  // holds the port until nginx has it
  int port_ = 0;
  int pid_ = -1;
};

}  // namespace orx::testing
