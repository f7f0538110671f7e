#pragma once
// The personal certificate store: a folder of PKCS#12 files (*.p12, *.pfx,
// empty password) and PEM files (*.pem: a certificate and its unencrypted
// private key, and any certificates of the CAs between it and the root). A
// client certificate is found by a case-insensitive part of its subject.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <string_view>

#include "support/c_handle.h"

namespace orx {

inline void FreeX509Stack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }

using X509Ptr = CHandle<X509, X509_free>;
using EvpPkeyPtr = CHandle<EVP_PKEY, EVP_PKEY_free>;
using X509StackPtr = CHandle<STACK_OF(X509), FreeX509Stack>;

// $ORX_CERT_STORE when set and not empty, otherwise
// ${XDG_DATA_HOME:-$HOME/.local/share}/convertor-orx/certs.
std::string DefaultCertStoreFolder();

// The subject in RFC 2253 form on one line, non-ASCII kept as UTF-8
// ("CN=Офис 7,O=Тест").
std::string SubjectText(X509* cert);

// Whether `part` occurs in `text` without regard to letter case, for Basic
// Latin, Latin-1 and Cyrillic letters. Both are UTF-8.
bool ContainsIgnoringCase(std::string_view text, std::string_view part);

struct ClientCertificate {
  X509Ptr cert;
  EvpPkeyPtr key;
  // The other certificates of the file (intermediate CAs), sent with the
  // certificate so that a server trusting only the root accepts it. May be null.
  X509StackPtr chain;
  std::string subject;  // as SubjectText gives it
  std::string file;     // where it was found
};

struct CertSearchResult {
  // Null cert when none matched; `problem` then tells why, in words for an
  // operator (the subject searched and the folder).
  ClientCertificate found;
  std::string problem;
};

// The first certificate, in byte order of the file names and then in its
// order inside the file, whose subject contains `subjectPart`. Files that
// cannot be read or parsed, encrypted keys and certificates without a
// matching key are passed over. Never throws and never prompts.
CertSearchResult FindClientCertificate(const std::string& folder, std::string_view subjectPart);

}  // namespace orx
