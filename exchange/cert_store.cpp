#include "exchange/cert_store.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

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

// A certificate with its private key (and chain) from one file, or nulls.
ClientCertificate LoadFile(const std::filesystem::path& path, bool pkcs12) {
  ClientCertificate result;
  const std::string bytes = ReadSmallFile(path);
  if (bytes.empty()) return result;
  BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  if (!bio) return result;
  if (pkcs12) {
    Pkcs12Ptr p12(d2i_PKCS12_bio(bio.get(), nullptr));
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    STACK_OF(X509)* chain = nullptr;
    if (p12 && PKCS12_parse(p12.get(), "", &key, &cert, &chain) == 1) {
      result.cert.reset(cert);
      result.key.reset(key);
      result.chain.reset(chain);
    }
  } else {
    // The key may come before, between or after the certificates.
    result.key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassword, nullptr));
    if (!result.key) return {};
    BIO_reset(bio.get());
    std::vector<X509Ptr> certs;
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, NoPassword, nullptr))
      certs.emplace_back(cert);
    TakeLeafAndChain(std::move(certs), result.key.get(), result);
  }
  if (!result.cert || !result.key || X509_check_private_key(result.cert.get(), result.key.get()) != 1) {
    return {};
  }
  result.subject = SubjectText(result.cert.get());
  result.file = path.string();
  return result;
}

CertSearchResult Search(const std::string& folder, std::string_view subjectPart) {
  CertSearchResult result;
  const std::string notFound =
      "no client certificate whose subject contains \"" + std::string(subjectPart) + "\"";
  std::error_code ec;
  std::vector<std::pair<std::string, bool>> files;  // name, is PKCS#12
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) {
    result.problem = notFound + ": the certificate store " + folder + " cannot be read (" +
                     ec.message() + ")";
    return result;
  }
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    bool pkcs12 = false;
    std::error_code typeError;
    if (IsStoreFile(it->path(), pkcs12) && it->is_regular_file(typeError))
      files.emplace_back(it->path().filename().string(), pkcs12);
  }
  std::sort(files.begin(), files.end());

  const std::u16string wanted = Folded(subjectPart);
  for (const auto& [name, pkcs12] : files) {
    ClientCertificate candidate = LoadFile(std::filesystem::path(folder) / name, pkcs12);
    if (candidate.cert && Folded(candidate.subject).find(wanted) != std::u16string::npos) {
      result.found = std::move(candidate);
      return result;
    }
  }
  result.problem = notFound + " in the certificate store " + folder;
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

CertSearchResult FindClientCertificate(const std::string& folder, std::string_view subjectPart) {
  // Parsing failures of files passed over must not linger in the thread's
  // error queue, where the TLS layer would take them for its own.
  ERR_set_mark();
  CertSearchResult result;
  try {
    result = Search(folder, subjectPart);
  } catch (const std::exception& e) {
    result = CertSearchResult{};
    result.problem = std::string("the certificate store cannot be searched: ") + e.what();
  }
  ERR_pop_to_mark();
  return result;
}

}  // namespace orx
