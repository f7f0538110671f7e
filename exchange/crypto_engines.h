#pragma once
// OpenSSL's engines for client keys beyond plain files: "gost" for GOST
// R 34.10-2012 keys and GOST TLS 1.2, "pkcs11" for keys on tokens. Debian 12
// offers both only as engines (packages libengine-gost-openssl and
// libengine-pkcs11-openssl); without them the rest works as before.
#include <string>

#include "exchange/cert_store.h"
#include "support/token_pin.h"

namespace orx {

// Loads both engines once per process, the PKCS#11 one for the module
// DefaultTokenModule() names at that moment, and makes "gost" the default
// for its algorithms. It must run before the first TLS context is made (the
// first handshake fails otherwise); safe to call from any thread, any number
// of times.
void InitCryptoEngines();

// Whether "gost" is loaded (InitCryptoEngines first, if it has not run).
bool GostEngineLoaded();

// Loads the private key of a certificate found on a token into `certificate`.
// The token is logged in to only when it needs it, with a PIN that `pins`
// gives (asked at most once; never on a terminal). A refused PIN is not
// tried again. False with `problem` in words for an operator, naming the
// token: no engine, a token locked or gone, no PIN, a PIN the token refused
// (with what the token tells of the tries left).
bool LoadTokenKey(ClientCertificate& certificate, TokenPinSource* pins, std::string& problem);

}  // namespace orx
