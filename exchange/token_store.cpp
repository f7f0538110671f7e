#include "exchange/token_store.h"

#include <dlfcn.h>
#include <p11-kit/pkcs11.h>
#include <openssl/x509v3.h>
#include <p11-kit/uri.h>

#include <cstdlib>
#include <memory>

namespace orx {
namespace {

// Set by the build from p11-kit's own description of where it is.
constexpr std::string_view kP11KitProxyModule = ORX_P11_KIT_PROXY_MODULE;

// Bounds on what a module may hand over: a token holds a few certificates of
// a few kilobytes each.
constexpr CK_ULONG kMaxSlots = 64;
constexpr CK_ULONG kMaxCertificatesPerToken = 256;
constexpr CK_ULONG kMaxCertificateBytes = 64 * 1024;
constexpr CK_ULONG kMaxIdBytes = 256;

// The blank-padded fixed-size texts of CK_TOKEN_INFO.
template <std::size_t N>
std::string PaddedText(const CK_UTF8CHAR (&text)[N]) {
  std::string result(reinterpret_cast<const char*>(text), N);
  const auto end = result.find_last_not_of(' ');
  result.resize(end == std::string::npos ? 0 : end + 1);
  return result;
}

// One use of a module: loaded and initialised, and finalised again only when
// this use was the one that initialised it. The engine that signs with a
// token's key loads the same module into the same process and keeps it
// initialised while it holds keys; finalising it then would pull the keys
// from under the engine.
class ModuleUse {
 public:
  explicit ModuleUse(const std::string& path) {
    // Kept loaded: PKCS#11 modules keep state past C_Finalize (threads,
    // exit handlers, what they allocated), which unloading leaves dangling;
    // the engine keeps the same module loaded for a key anyway.
    library_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!library_) {
      const char* why = ::dlerror();
      problem_ = why ? why : "dlopen failed";
      missing_ = true;
      return;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(library_, "C_GetFunctionList"));
    if (!getList || getList(&functions_) != CKR_OK || !functions_) {
      problem_ = "C_GetFunctionList failed";
      functions_ = nullptr;
      return;
    }
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    const CK_RV rv = functions_->C_Initialize(&args);
    if (rv == CKR_OK) {
      ownsInitialisation_ = true;
    } else if (rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
      problem_ = "C_Initialize: CKR 0x" + Hex(rv);
      functions_ = nullptr;
    }
  }
  ~ModuleUse() {
    if (functions_ && ownsInitialisation_) functions_->C_Finalize(nullptr);
    if (library_) ::dlclose(library_);
  }
  ModuleUse(const ModuleUse&) = delete;
  ModuleUse& operator=(const ModuleUse&) = delete;

  CK_FUNCTION_LIST* functions() const { return functions_; }
  const std::string& problem() const { return problem_; }
  bool missing() const { return missing_; }

  // Slots with a token, in the module's order.
  std::vector<CK_SLOT_ID> TokenSlots() const {
    CK_ULONG count = 0;
    if (functions_->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK) return {};
    std::vector<CK_SLOT_ID> slots(std::min(count, kMaxSlots));
    count = slots.size();
    if (functions_->C_GetSlotList(CK_TRUE, slots.data(), &count) != CKR_OK) return {};
    slots.resize(std::min<CK_ULONG>(count, slots.size()));
    return slots;
  }

  static std::string Hex(CK_ULONG value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
      text.insert(text.begin(), kDigits[value & 0xF]);
      value >>= 4;
    } while (value != 0);
    return text;
  }

 private:
  void* library_ = nullptr;
  CK_FUNCTION_LIST* functions_ = nullptr;
  bool ownsInitialisation_ = false;
  bool missing_ = false;
  std::string problem_;
};

class Session {
 public:
  Session(CK_FUNCTION_LIST* functions, CK_SLOT_ID slot) : functions_(functions) {
    if (functions_->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &handle_) != CKR_OK)
      handle_ = CK_INVALID_HANDLE;
  }
  // Only this session: closing them all would log the engine's out too.
  ~Session() {
    if (handle_ != CK_INVALID_HANDLE) functions_->C_CloseSession(handle_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  bool open() const { return handle_ != CK_INVALID_HANDLE; }
  CK_SESSION_HANDLE handle() const { return handle_; }

 private:
  CK_FUNCTION_LIST* functions_;
  CK_SESSION_HANDLE handle_ = CK_INVALID_HANDLE;
};

std::string Attribute(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                      CK_ATTRIBUTE_TYPE type, CK_ULONG limit) {
  CK_ATTRIBUTE attribute{type, nullptr, 0};
  if (f->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK ||
      attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION || attribute.ulValueLen > limit)
    return {};
  std::string value(attribute.ulValueLen, '\0');
  attribute.pValue = value.data();
  if (f->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK) return {};
  value.resize(std::min<CK_ULONG>(attribute.ulValueLen, value.size()));
  return value;
}

struct TokenObject {
  X509Ptr cert;
  std::string id;
};

std::vector<TokenObject> Certificates(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session) {
  CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
  CK_CERTIFICATE_TYPE x509 = CKC_X_509;
  CK_ATTRIBUTE wanted[] = {{CKA_CLASS, &certificateClass, sizeof certificateClass},
                           {CKA_CERTIFICATE_TYPE, &x509, sizeof x509}};
  std::vector<CK_OBJECT_HANDLE> objects(kMaxCertificatesPerToken);
  CK_ULONG count = 0;
  if (f->C_FindObjectsInit(session, wanted, 2) != CKR_OK) return {};
  const CK_RV rv = f->C_FindObjects(session, objects.data(), objects.size(), &count);
  f->C_FindObjectsFinal(session);
  if (rv != CKR_OK) return {};
  objects.resize(std::min<CK_ULONG>(count, objects.size()));

  std::vector<TokenObject> certificates;
  for (const CK_OBJECT_HANDLE object : objects) {
    const std::string der = Attribute(f, session, object, CKA_VALUE, kMaxCertificateBytes);
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    X509Ptr cert(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
    if (!cert) continue;
    certificates.push_back({std::move(cert), Attribute(f, session, object, CKA_ID, kMaxIdBytes)});
  }
  return certificates;
}

// The private key with the certificate's CKA_ID on that token.
std::string KeyUri(const CK_TOKEN_INFO& info, const std::string& id) {
  const CHandle<P11KitUri, p11_kit_uri_free> uri(p11_kit_uri_new());
  if (!uri) return {};
  *p11_kit_uri_get_token_info(uri.get()) = info;
  CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
  CK_ATTRIBUTE classAttribute{CKA_CLASS, &keyClass, sizeof keyClass};
  CK_ATTRIBUTE idAttribute{CKA_ID, const_cast<char*>(id.data()), id.size()};
  if (p11_kit_uri_set_attribute(uri.get(), &classAttribute) != P11_KIT_URI_OK ||
      p11_kit_uri_set_attribute(uri.get(), &idAttribute) != P11_KIT_URI_OK)
    return {};
  char* text = nullptr;
  if (p11_kit_uri_format(uri.get(), P11_KIT_URI_FOR_OBJECT_ON_TOKEN, &text) != P11_KIT_URI_OK ||
      !text)
    return {};
  std::string result(text);
  std::free(text);
  return result;
}

// The certificates of the token that issue `leaf`, nearest first, up to but
// not including a self-signed root.
X509StackPtr IssuersOf(X509* leaf, const std::vector<TokenObject>& others) {
  X509StackPtr chain;
  X509* current = leaf;
  for (std::size_t depth = 0; depth < others.size(); ++depth) {
    X509* issuer = nullptr;
    for (const TokenObject& other : others) {
      if (other.cert.get() != current && X509_check_issued(other.cert.get(), current) == X509_V_OK)
        issuer = other.cert.get();
    }
    if (!issuer || X509_check_issued(issuer, issuer) == X509_V_OK) break;
    if (!chain) chain.reset(sk_X509_new_null());
    if (!chain || !X509_up_ref(issuer)) break;
    if (sk_X509_push(chain.get(), issuer) <= 0) {
      X509_free(issuer);
      break;
    }
    current = issuer;
  }
  return chain;
}

}  // namespace

std::string DefaultTokenModule() {
  if (const char* module = std::getenv("ORX_PKCS11_MODULE"); module && *module) return module;
  return std::string(kP11KitProxyModule);
}

TokenSearchResult FindTokenCertificate(const std::string& module, std::string_view subjectPart) {
  TokenSearchResult result;
  const ModuleUse use(module);
  if (!use.functions()) {
    if (!(use.missing() && module == kP11KitProxyModule))
      result.notes.push_back("модуль PKCS#11 " + module + " не загружен (" + use.problem() + ")");
    return result;
  }
  CK_FUNCTION_LIST* f = use.functions();
  for (const CK_SLOT_ID slot : use.TokenSlots()) {
    CK_TOKEN_INFO info{};
    if (f->C_GetTokenInfo(slot, &info) != CKR_OK) continue;
    const Session session(f, slot);
    if (!session.open()) continue;
    std::vector<TokenObject> certificates = Certificates(f, session.handle());
    const std::string label = PaddedText(info.label);
    for (TokenObject& candidate : certificates) {
      std::string subject = SubjectText(candidate.cert.get());
      if (!ContainsIgnoringCase(subject, subjectPart)) continue;
      if (HasGostKey(candidate.cert.get())) {
        result.notes.push_back("сертификат \"" + subject + "\" на токене \"" + label +
                               "\" с ключом ГОСТ пропущен: ключи ГОСТ на токенах не поддерживаются");
        continue;
      }
      std::string uri = candidate.id.empty() ? std::string() : KeyUri(info, candidate.id);
      if (uri.empty()) continue;  // no key can be named beside it
      ClientCertificate& found = result.found;
      found.chain = IssuersOf(candidate.cert.get(), certificates);
      found.cert = std::move(candidate.cert);
      found.subject = std::move(subject);
      found.token = {module, label, PaddedText(info.serialNumber), std::move(uri), info.flags};
      return result;
    }
  }
  return result;
}

std::optional<unsigned long> CurrentTokenFlags(const TokenKey& token) {
  const ModuleUse use(token.module);
  if (!use.functions()) return std::nullopt;
  for (const CK_SLOT_ID slot : use.TokenSlots()) {
    CK_TOKEN_INFO info{};
    if (use.functions()->C_GetTokenInfo(slot, &info) == CKR_OK &&
        PaddedText(info.label) == token.label && PaddedText(info.serialNumber) == token.serial)
      return info.flags;
  }
  return std::nullopt;
}

}  // namespace orx
