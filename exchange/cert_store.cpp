#include "exchange/cert_store.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "exchange/crypto_engines.h"
#include "exchange/token_store.h"
#include "support/text.h"

namespace orx {
namespace {

// A store file is a few kilobytes; anything far larger is not one of ours.
constexpr std::uintmax_t kMaxStoreFileSize = 4 * 1024 * 1024;

using BioPtr = CHandle<BIO, BIO_free>;
using Pkcs12Ptr = CHandle<PKCS12, PKCS12_free>;

// Encrypted keys are passed over: a batch run must never wait for a password.
int NoPassword(char*, int, int, void*) { return -1; }

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
      result->pw_dir)
    return result->pw_dir;
  return {};
}

std::u16string Folded(std::string_view utf8) { return FoldCase(Utf8ToUtf16(utf8)); }

bool IsStoreFile(const std::filesystem::path& path, bool& pkcs12) {
  const std::string ext = FoldCase(path.extension().string());
  pkcs12 = ext == ".p12" || ext == ".pfx";
  return pkcs12 || ext == ".pem";
}

std::string ReadSmallFile(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxStoreFileSize) return {};
  std::ifstream in(path, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return {};
  return bytes;
}

// The certificate that belongs to the key, and the others as its chain.
void TakeLeafAndChain(std::vector<X509Ptr> certs, EVP_PKEY* key, ClientCertificate& result) {
  for (auto it = certs.begin(); it != certs.end(); ++it) {
    if (X509_check_private_key(it->get(), key) != 1) continue;
    result.cert = std::move(*it);
    certs.erase(it);
    break;
  }
  if (!result.cert || certs.empty()) return;
  result.chain.reset(sk_X509_new_null());
  if (!result.chain) return;
  for (X509Ptr& cert : certs) {
    if (sk_X509_push(result.chain.get(), cert.get()) > 0) cert.release();
  }
}

// Why a store file gave no certificate, when an operator may want to know.
enum class Passed { Unusable, NeedsPassword, GostWithoutEngine };

struct LoadedFile {
  ClientCertificate certificate;  // null cert when the file was passed over
  Passed why = Passed::Unusable;
  std::string subject;  // of the file's (first) certificate, when it could be read
};

bool IsGostObject(const ASN1_OBJECT* object) {
  char oid[64];
  return object && OBJ_obj2txt(oid, sizeof oid, object, 1) > 0 &&
         std::string_view(oid).starts_with("1.2.643.");
}

// The certificates a PKCS#12 file shows without a password: those in clear
// and those enciphered with the empty one.
void FreeSafes(STACK_OF(PKCS7) * safes) { sk_PKCS7_pop_free(safes, PKCS7_free); }
void FreeBags(STACK_OF(PKCS12_SAFEBAG) * bags) {
  sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
}

std::vector<X509Ptr> CertificatesInPkcs12(PKCS12* p12) {
  std::vector<X509Ptr> certs;
  const CHandle<STACK_OF(PKCS7), FreeSafes> safes(PKCS12_unpack_authsafes(p12));
  for (int i = 0; safes && i < sk_PKCS7_num(safes.get()); ++i) {
    PKCS7* safe = sk_PKCS7_value(safes.get(), i);
    CHandle<STACK_OF(PKCS12_SAFEBAG), FreeBags> bags;
    const int kind = OBJ_obj2nid(safe->type);
    if (kind == NID_pkcs7_data) bags.reset(PKCS12_unpack_p7data(safe));
    if (kind == NID_pkcs7_encrypted) bags.reset(PKCS12_unpack_p7encdata(safe, "", 0));
    for (int j = 0; bags && j < sk_PKCS12_SAFEBAG_num(bags.get()); ++j) {
      const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), j);
      if (PKCS12_SAFEBAG_get_nid(bag) != NID_certBag) continue;
      X509Ptr cert(PKCS12_SAFEBAG_get1_cert(bag));
      if (cert) certs.push_back(std::move(cert));
    }
  }
  return certs;
}

// Why a file with these certificates gave no usable key, as far as it tells.
void ExplainPassedOver(const std::vector<X509Ptr>& certs, bool needsPassword, LoadedFile& file) {
  if (!certs.empty()) file.subject = SubjectText(certs.front().get());
  const bool gost = std::any_of(certs.begin(), certs.end(),
                                [](const X509Ptr& c) { return HasGostKey(c.get()); });
  if (gost && !GostEngineLoaded()) {
    file.why = Passed::GostWithoutEngine;
  } else if (needsPassword) {
    file.why = Passed::NeedsPassword;
  }
}

LoadedFile LoadPkcs12(BIO* bio) {
  LoadedFile file;
  Pkcs12Ptr p12(d2i_PKCS12_bio(bio, nullptr));
  if (!p12) return file;
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  STACK_OF(X509)* chain = nullptr;
  if (PKCS12_parse(p12.get(), "", &key, &cert, &chain) == 1) {
    file.certificate.cert.reset(cert);
    file.certificate.key.reset(key);
    file.certificate.chain.reset(chain);
    return file;
  }
  const bool macRefused = PKCS12_mac_present(p12.get()) &&
                          PKCS12_verify_mac(p12.get(), "", 0) != 1 &&
                          PKCS12_verify_mac(p12.get(), nullptr, 0) != 1;
  if (macRefused) {
    // A GOST checksum cannot even be computed without the engine.
    const X509_ALGOR* digest = nullptr;
    PKCS12_get0_mac(nullptr, &digest, nullptr, nullptr, p12.get());
    const ASN1_OBJECT* algorithm = nullptr;
    if (digest) X509_ALGOR_get0(&algorithm, nullptr, nullptr, digest);
    if (IsGostObject(algorithm) && !GostEngineLoaded()) {
      file.why = Passed::GostWithoutEngine;
      return file;
    }
  }
  ExplainPassedOver(CertificatesInPkcs12(p12.get()), macRefused, file);
  return file;
}

LoadedFile LoadPem(BIO* bio, std::string_view text) {
  LoadedFile file;
  ClientCertificate& result = file.certificate;
  // The key may come before, between or after the certificates.
  result.key.reset(PEM_read_bio_PrivateKey(bio, nullptr, NoPassword, nullptr));
  BIO_reset(bio);
  std::vector<X509Ptr> certs;
  while (X509* cert = PEM_read_bio_X509(bio, nullptr, NoPassword, nullptr))
    certs.emplace_back(cert);
  if (!result.key) {
    ExplainPassedOver(certs, text.find("ENCRYPTED") != std::string_view::npos, file);
    return file;
  }
  TakeLeafAndChain(std::move(certs), result.key.get(), result);
  return file;
}

// A certificate with its private key (and chain) from one file, or a null
// certificate and why.
LoadedFile LoadFile(const std::filesystem::path& path, bool pkcs12) {
  LoadedFile file;
  const std::string bytes = ReadSmallFile(path);
  if (bytes.empty()) return file;
  BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  if (!bio) return file;
  file = pkcs12 ? LoadPkcs12(bio.get()) : LoadPem(bio.get(), bytes);
  ClientCertificate& result = file.certificate;
  if (!result.cert || !result.key ||
      X509_check_private_key(result.cert.get(), result.key.get()) != 1) {
    result = {};
    return file;
  }
  result.subject = SubjectText(result.cert.get());
  result.file = path.string();
  return file;
}

// What was passed over that the operator may have meant, for the message
// when nothing matched.
struct PassedOver {
  std::vector<std::string> notes;  // folders that cannot be read
  std::vector<std::string> needPassword;
  std::vector<std::string> gost;

  void Add(const LoadedFile& file, const std::string& path, std::string_view subjectPart) {
    // A file whose subject is hidden may be the one; one whose subject shows
    // and does not match is not.
    if (!file.subject.empty() && !ContainsIgnoringCase(file.subject, subjectPart)) return;
    if (file.why == Passed::NeedsPassword) needPassword.push_back(path);
    if (file.why == Passed::GostWithoutEngine) {
      gost.push_back(file.subject.empty() ? path : "\"" + file.subject + "\" (" + path + ")");
    }
  }

  std::string Text() const {
    std::string text;
    for (const std::string& note : notes) text += "; " + note;
    if (!needPassword.empty()) {
      text += "; пропущены файлы, которым нужен пароль (в хранилище файлы PKCS#12 без пароля "
              "и PEM с незашифрованным ключом):";
      for (std::size_t i = 0; i < needPassword.size(); ++i)
        text += (i ? ", " : " ") + needPassword[i];
    }
    if (!gost.empty()) {
      text += "; не загружены ключи ГОСТ (нужен пакет libengine-gost-openssl):";
      for (std::size_t i = 0; i < gost.size(); ++i) text += (i ? ", " : " ") + gost[i];
    }
    return text;
  }
};

// The first match in one folder, noting what was passed over.
ClientCertificate SearchFolder(const std::string& folder, bool first,
                               std::string_view subjectPart, PassedOver& passed) {
  std::error_code ec;
  std::vector<std::pair<std::string, bool>> files;  // name, is PKCS#12
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) {
    // The folder an administrator fills for everyone is often not there.
    if (first || ec != std::errc::no_such_file_or_directory)
      passed.notes.push_back("папка " + folder + " не читается (" + ec.message() + ")");
    return {};
  }
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    bool pkcs12 = false;
    std::error_code typeError;
    if (IsStoreFile(it->path(), pkcs12) && it->is_regular_file(typeError))
      files.emplace_back(it->path().filename().string(), pkcs12);
  }
  std::sort(files.begin(), files.end());

  for (const auto& [name, pkcs12] : files) {
    const std::string path = (std::filesystem::path(folder) / name).string();
    LoadedFile file = LoadFile(path, pkcs12);
    if (!file.certificate.cert) {
      passed.Add(file, path, subjectPart);
    } else if (ContainsIgnoringCase(file.certificate.subject, subjectPart)) {
      return std::move(file.certificate);
    }
  }
  return {};
}

CertSearchResult Search(const CertStorePlaces& places, std::string_view subjectPart) {
  CertSearchResult result;
  PassedOver passed;
  std::string searched;
  for (std::size_t i = 0; i < places.folders.size(); ++i) {
    searched += (i ? ", " : "") + places.folders[i];
    result.found = SearchFolder(places.folders[i], i == 0, subjectPart, passed);
    if (result.found.cert) return result;
  }
  if (!places.tokenModule.empty()) {
    searched += (searched.empty() ? "" : ", ") + std::string("токены модуля ") + places.tokenModule;
    TokenSearchResult tokens = FindTokenCertificate(places.tokenModule, subjectPart);
    if (tokens.found.cert) {
      result.found = std::move(tokens.found);
      return result;
    }
    passed.notes.insert(passed.notes.end(), tokens.notes.begin(), tokens.notes.end());
  }
  result.problem = "нет сертификата клиента, в субъекте которого есть \"" +
                   std::string(subjectPart) + "\" (просмотрены: " + searched + ")" + passed.Text();
  return result;
}

}  // namespace

std::string DefaultCertStoreFolder() {
  if (const char* store = std::getenv("ORX_CERT_STORE"); store && *store) return store;
  std::string data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    data = xdg;
  } else {
    data = HomeFolder() + "/.local/share";
  }
  return data + "/convertor-orx/certs";
}

std::string SubjectText(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || X509_NAME_print_ex(bio.get(), X509_get_subject_name(cert), 0,
                                 XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
    return {};
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
  return Folded(text).find(Folded(part)) != std::u16string::npos;
}

std::string ClientCertificate::Origin() const {
  return onToken() ? "токен \"" + token.label + "\"" : file;
}

bool HasGostKey(X509* cert) {
  ASN1_OBJECT* algorithm = nullptr;
  X509_PUBKEY* key = X509_get_X509_PUBKEY(cert);
  return key && X509_PUBKEY_get0_param(&algorithm, nullptr, nullptr, nullptr, key) == 1 &&
         IsGostObject(algorithm);
}

CertSearchResult FindClientCertificate(const CertStorePlaces& places,
                                       std::string_view subjectPart) {
  // Parsing failures of files passed over must not linger in the thread's
  // error queue, where the TLS layer would take them for its own.
  ERR_set_mark();
  CertSearchResult result;
  try {
    result = Search(places, subjectPart);
  } catch (const std::exception& e) {
    result = CertSearchResult{};
    result.problem = std::string("хранилище сертификатов не просмотрено: ") + e.what();
  }
  ERR_pop_to_mark();
  return result;
}

}  // namespace orx
