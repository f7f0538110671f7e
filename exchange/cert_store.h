#pragma once
// The personal certificate store: folders of PKCS#12 files (*.p12, *.pfx,
// empty password) and PEM files (*.pem: a certificate and its unencrypted
// private key, and any certificates of the CAs between it and the root), then
// the certificates on PKCS#11 tokens. A client certificate is found by a
// case-insensitive part of its subject.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/c_handle.h"

namespace orx {

inline void FreeX509Stack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }

using X509Ptr = CHandle<X509, X509_free>;
using EvpPkeyPtr = CHandle<EVP_PKEY, EVP_PKEY_free>;
using X509StackPtr = CHandle<STACK_OF(X509), FreeX509Stack>;

// $ORX_CERT_STORE when set and not empty, otherwise
// ${XDG_DATA_HOME:-$HOME/.local/share}/convertor-orx/certs.
std::string DefaultCertStoreFolder();

// Searched after the user's folder: an administrator's certificates for every
// user of the machine.
inline constexpr std::string_view kSharedCertStoreFolder = "/etc/convertor-orx/certs";

struct CertStorePlaces {
  std::vector<std::string> folders;  // in this order; a missing one is passed over
  std::string tokenModule;           // PKCS#11 module whose tokens come last; empty: none
};

// The subject in RFC 2253 form on one line, non-ASCII kept as UTF-8
// ("CN=Офис 7,O=Тест").
std::string SubjectText(X509* cert);

// Whether `part` occurs in `text` without regard to letter case, for Basic
// Latin, Latin-1 and Cyrillic letters. Both are UTF-8.
bool ContainsIgnoringCase(std::string_view text, std::string_view part);

// Whether the certificate's key is a GOST one (GOST R 34.10-2001 or -2012),
// which only the engine "gost" handles.
bool HasGostKey(X509* cert);

// A private key that stays on a PKCS#11 token: what signing with it needs.
struct TokenKey {
  std::string module;      // the PKCS#11 module that reaches the token
  std::string label;       // the token's label, as an operator knows it
  std::string serial;      // the token's serial number
  std::string keyUri;      // pkcs11: URI of the private key
  unsigned long flags = 0;  // the token's CKF_* flags when it was listed
};

struct ClientCertificate {
  X509Ptr cert;
  EvpPkeyPtr key;  // null for a key on a token until it is loaded
  // The other certificates of the file or token (intermediate CAs), sent with
  // the certificate so that a server trusting only the root accepts it. May
  // be null.
  X509StackPtr chain;
  std::string subject;  // as SubjectText gives it
  std::string file;     // where it was found; empty for a token
  TokenKey token;       // filled for a certificate on a token

  bool onToken() const { return !token.keyUri.empty(); }
  // The file, or the token by its label, for messages.
  std::string Origin() const;
};

struct CertSearchResult {
  // Null cert when none matched; `problem` then tells why, in words for an
  // operator (the subject searched, the places, the files passed over that
  // may have been meant).
  ClientCertificate found;
  std::string problem;
};

// The first certificate whose subject contains `subjectPart`: in each folder
// in byte order of the file names and then in its order inside the file, then
// on the tokens (exchange/token_store.h). Files that cannot be read or parsed,
// encrypted keys and certificates without a matching key are passed over;
// those that need a password, and GOST keys without the engine "gost", are
// named in `problem`. A certificate on a token comes without its key. Never
// throws, never prompts and never logs in to a token.
CertSearchResult FindClientCertificate(const CertStorePlaces& places,
                                       std::string_view subjectPart);

}  // namespace orx
