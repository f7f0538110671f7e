#pragma once
// GOST for tests: a certificate authority with GOST R 34.10-2012 keys made by
// the openssl tool with the engine "gost", and a GOST TLS 1.2 server, nginx
// with the engine loaded through an openssl.cnf of its own, in front of an
// HTTPS test server:
//
//   if (auto missing = GostPki::MissingTools(); !missing.empty()) GTEST_SKIP() << missing;
//   GostPki pki;
//   pki.MakeClientCert("/O=Test/CN=Office 7 Form A", GostPki::Format::Pem, store / "a.pem");
//   const int port = FreeLoopbackPort();
//   HttpsTestServer backend(...);   // may name `port` in its replies
//   GostTlsFront front(pki, port, backend.port());
//
// The front requires a client certificate of the GOST authority and hands
// each request on with that certificate's subject (RFC 2253) in the header
// "X-Client-Subject". Failures to set up throw std::runtime_error.
#include <filesystem>
#include <string>
#include <string_view>

#include "testing/test_support.h"

namespace orx::testing {

class GostPki {
 public:
  // Empty when nginx and the engine "gost" are installed; otherwise what is
  // missing, for a test to say why it skips.
  static std::string MissingTools();

  GostPki();
  GostPki(const GostPki&) = delete;
  GostPki& operator=(const GostPki&) = delete;

  const std::string& caFile() const { return caFile_; }
  // The openssl.cnf that loads the engine (what OPENSSL_CONF names).
  const std::string& opensslConfig() const { return config_; }

  enum class Format {
    Pem,         // certificate and unencrypted key in one file
    Pkcs12,      // empty password, OpenSSL's default AES encryption
    Pkcs12Gost,  // empty password, GOST 28147-89 encryption and a Streebog-512 checksum
  };
  // A client certificate with a 256-bit GOST key, written to `file`.
  void MakeClientCert(std::string_view subject, Format format, const std::filesystem::path& file);

  struct Pair {
    std::string certFile;
    std::string keyFile;
  };
  // A server certificate for 127.0.0.1 and localhost.
  Pair MakeServerCert();

 private:
  Pair Make(std::string_view subject, std::string_view extensions);
  void Openssl(const std::vector<std::string>& arguments) const;

  ScratchDir dir_;
  std::string config_;
  std::string caFile_;
  std::string caKey_;
  int serial_ = 0;
};

class GostTlsFront {
 public:
  // Starts nginx on 127.0.0.1:port and waits (at most 30 s) until it listens.
  GostTlsFront(GostPki& pki, int port, int backendPort);
  ~GostTlsFront();  // stops nginx
  GostTlsFront(const GostTlsFront&) = delete;
  GostTlsFront& operator=(const GostTlsFront&) = delete;

  int port() const { return port_; }
  std::string log() const;

 private:
  ScratchDir dir_;
  int port_;
  int pid_ = -1;
};

}  // namespace orx::testing
