#pragma once
// Certificates on PKCS#11 tokens (smart cards, USB tokens), listed without
// logging in: the module is opened, every slot with a token is searched for
// X.509 certificates, and the private key beside a certificate (the object
// with the same CKA_ID) is named by a pkcs11: URI for the engine that signs
// with it (exchange/token_keys.h).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/cert_store.h"

namespace orx {

// ORX_PKCS11_MODULE when set and not empty, otherwise p11-kit's proxy module,
// which reaches every token of the modules p11-kit knows.
std::string DefaultTokenModule();

struct TokenSearchResult {
  // The certificate without its key (`key` null, `token` filled), or a null
  // cert when none matched.
  ClientCertificate found;
  // What an operator should know when nothing matched: a module that cannot
  // be loaded, a matching certificate whose key no token here can use.
  std::vector<std::string> notes;
};

// The first certificate, in slot order and then in the token's own order,
// whose subject contains `subjectPart` (ContainsIgnoringCase). A module that
// does not exist is no error when it is the default one (no p11-kit). Never
// throws and never logs in.
TokenSearchResult FindTokenCertificate(const std::string& module, std::string_view subjectPart);

// The token's CKF_* flags as it tells them now, found by its label and serial
// number; nullopt when it is gone or the module cannot say.
std::optional<unsigned long> CurrentTokenFlags(const TokenKey& token);

}  // namespace orx
