#pragma once
// A SoftHSM token made at test time in a scratch folder of its own, with keys
// and certificates put on it by SoftHSM's and OpenSC's tools:
//
//   if (auto missing = SoftHsmToken::MissingTools(); !missing.empty()) GTEST_SKIP() << missing;
//   SoftHsmToken token("Office Token", "1234");
//   token.Put(pemWithKeyAndCertificate, "01");
//   RunProcess(program, arguments, token.Environment());
//
// Failures to set up throw std::runtime_error.
#include <string>
#include <string_view>
#include <vector>

#include "testing/test_support.h"

namespace orx::testing {

class SoftHsmToken {
 public:
  // Empty when the tools, SoftHSM's module and the PKCS#11 engine are
  // installed; otherwise what is missing, for a test to say why it skips.
  static std::string MissingTools();

  SoftHsmToken(std::string label, std::string userPin);
  SoftHsmToken(const SoftHsmToken&) = delete;
  SoftHsmToken& operator=(const SoftHsmToken&) = delete;

  // Puts the private key and the certificate of a PEM file on the token
  // under one CKA_ID (hexadecimal, e.g. "01"); withKey false puts the
  // certificate alone.
  void Put(const std::string& pemFile, std::string_view id, bool withKey = true);

  // The entries that make a program search this token and no other
  // (ORX_PKCS11_MODULE, SOFTHSM2_CONF). With spyLog, every PKCS#11 call goes
  // through OpenSC's pkcs11-spy into that file first.
  std::vector<std::string> Environment(const std::string& spyLog = {}) const;
  // How many calls named `function` ("C_Login") a spy log holds.
  static int CallsIn(const std::string& spyLog, std::string_view function);

 private:
  void Tool(const std::vector<std::string>& arguments) const;

  ScratchDir dir_;
  std::string label_;
  std::string pin_;
  std::string config_;
};

}  // namespace orx::testing
