#pragma once
// A certificate authority with GOST R 34.10-2012 keys for tests, made by the
// openssl tool with the engine "gost" loaded through an openssl.cnf of its
// own; NginxFront (testing/nginx_front.h) speaks GOST TLS 1.2 with it:
//
//   if (auto missing = GostPki::MissingTools(); !missing.empty()) GTEST_SKIP() << missing;
//   GostPki gost;
//   gost.MakeClientCert("/O=Test/CN=Office 7 Form A", GostPki::Format::Pem, store / "a.pem");
//
// Failures to set up throw std::runtime_error.
#include <filesystem>
#include <string>
#include <string_view>

#include "testing/test_support.h"

namespace orx::testing {

class GostPki {
 public:
  // Empty when the engine "gost" is installed; otherwise what is missing,
  // for a test to say why it skips.
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
  Pair MakeServerCert() const;

 private:
  Pair Make(std::string_view subject, std::string_view extensions) const;
  void Openssl(const std::vector<std::string>& arguments) const;

  ScratchDir dir_;
  std::string config_;
  std::string caFile_;
  std::string caKey_;
  mutable int serial_ = 0;
};

}  // namespace orx::testing
