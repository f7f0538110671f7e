#include "exchange/https_connection.h"

#include <curl/curl.h>
#include <openssl/provider.h>
#include <openssl/ssl.h>

#include <cstdlib>

#include "exchange/cert_store.h"
#include "support/event_log.h"
#include "support/kelma_win.h"
#include "support/text.h"

namespace orx {
namespace {

struct CurlDeleter {
  void operator()(CURL* h) const noexcept { curl_easy_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const noexcept { curl_slist_free_all(l); }
};
struct CurlUrlDeleter {
  void operator()(CURLU* u) const noexcept { curl_url_cleanup(u); }
};

// libcurl's global state, and the OpenSSL legacy provider so that PKCS#12
// files exported by older tools (RC2, 3DES) load. Loading a provider by hand
// stops the default one from loading by itself, hence both. They stay loaded
// until the process ends, and are released then so that nothing is left over.
class LoadedProviders {
 public:
  LoadedProviders()
      : legacy_(OSSL_PROVIDER_load(nullptr, "legacy")),
        default_(OSSL_PROVIDER_load(nullptr, "default")) {}
  ~LoadedProviders() {
    if (default_) OSSL_PROVIDER_unload(default_);
    if (legacy_) OSSL_PROVIDER_unload(legacy_);
  }
  LoadedProviders(const LoadedProviders&) = delete;
  LoadedProviders& operator=(const LoadedProviders&) = delete;

 private:
  OSSL_PROVIDER* legacy_;
  OSSL_PROVIDER* default_;
};

CURLcode InitLibraries() {
  static const LoadedProviders providers;
  static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
  return result;
}

// The object name goes on the request line as it is; only bytes that cannot
// appear there (blanks, controls, non-ASCII) or that would end the path
// early ("#") are percent-encoded.
std::string RequestTarget(std::string_view objectName) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string target;
  if (objectName.empty() || objectName.front() != '/') target = "/";
  for (unsigned char c : objectName) {
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '#' || c == '<' || c == '>' || c == '\\' ||
        c == '^' || c == '`' || c == '{' || c == '|' || c == '}') {
      target += '%';
      target += kHex[c >> 4];
      target += kHex[c & 0xF];
    } else {
      target += static_cast<char>(c);
    }
  }
  return target;
}

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

struct THttpsConnection::Impl {
  std::unique_ptr<CURL, CurlDeleter> handle;
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  std::string url;
  std::string verb;
  std::string caFile;
  std::string caPath;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  std::optional<std::string> requestData;  // kept until replaced
  std::string body;
  bool complete = false;  // the last request succeeded and body holds its response

  // Client certificate selection during the handshake.
  std::string certStoreFolder;
  std::string certSubject;
  bool noMatchingCert = false;
  std::string certProblem;

  static size_t Write(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Impl*>(user);
    try {
      self->body.append(data, size * count);
    } catch (...) {
      return 0;  // libcurl then fails the transfer with CURLE_WRITE_ERROR
    }
    return size * count;
  }

  // Called by OpenSSL only when the server asks for a client certificate.
  // OpenSSL calls it a second time after a refusal, so a refusal is final.
  static int ClientCert(SSL* ssl, X509** x509, EVP_PKEY** pkey) {
    auto* self = static_cast<Impl*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (!self || self->noMatchingCert) return -1;
    auto result = FindClientCertificate(self->certStoreFolder, self->certSubject);
    if (!result.found.cert) {
      self->noMatchingCert = true;
      self->certProblem = std::move(result.problem);
      return -1;  // fail the handshake, also towards a server that only asks
    }
    // OpenSSL takes both over.
    *x509 = result.found.cert.release();
    *pkey = result.found.key.release();
    return 1;
  }

  static CURLcode SslContext(CURL*, void* context, void* user) {
    auto* ctx = static_cast<SSL_CTX*>(context);
    SSL_CTX_set_app_data(ctx, user);
    SSL_CTX_set_client_cert_cb(ctx, ClientCert);
    return CURLE_OK;
  }
};

THttpsConnection::THttpsConnection() : impl_(std::make_unique<Impl>()) {}

THttpsConnection::~THttpsConnection() { CloseHandles(); }

void THttpsConnection::SetServerName(std::string_view name) {
  if (name.find('/') != std::string_view::npos)
    throw EpnHttpsException("[Set ServerName]: found symbol \"/\"");
  if (name.find(':') != std::string_view::npos)
    throw EpnHttpsException("[Set ServerName]: found symbol \":\"");
  serverName_ = std::string(name);
}

void THttpsConnection::SetRequestData(std::string data) { impl_->requestData = std::move(data); }

void THttpsConnection::CloseHandles() {
  impl_->handle.reset();
  impl_->headers.reset();
  impl_->body.clear();
  impl_->body.shrink_to_fit();
  impl_->complete = false;
  impl_->noMatchingCert = false;
  impl_->certProblem.clear();
}

bool THttpsConnection::ConnectToHttpsServer(std::string_view verb) {
  CloseHandles();
  lastErrorDetail_.clear();
  if (Port < 0 || Port > 65535) throw Error("Range check error");

  const auto fail = [this](CURLcode code, std::string detail = {}) {
    lastError_ = static_cast<std::uint32_t>(code);
    lastErrorDetail_ = std::move(detail);
    CloseHandles();
    return false;
  };
  if (const CURLcode init = InitLibraries(); init != CURLE_OK) return fail(init);

  Impl& impl = *impl_;
  impl.url = "https://" + serverName_ + ":" + std::to_string(Port) + RequestTarget(ObjectName);
  {
    // A host name that cannot make a URL fails here, where the server is
    // named, rather than at the send.
    std::unique_ptr<CURLU, CurlUrlDeleter> parsed(curl_url());
    if (!parsed) return fail(CURLE_OUT_OF_MEMORY);
    if (serverName_.empty() ||
        curl_url_set(parsed.get(), CURLUPART_URL, impl.url.c_str(), 0) != CURLUE_OK)
      return fail(CURLE_URL_MALFORMAT, "bad server name \"" + serverName_ + "\"");
  }

  impl.handle.reset(curl_easy_init());
  if (!impl.handle) return fail(CURLE_FAILED_INIT);
  CURL* h = impl.handle.get();
  impl.errorBuffer[0] = '\0';

  curl_slist* list = nullptr;
  std::size_t start = 0;
  while (start < Headers.size()) {
    std::size_t end = Headers.find_first_of("\r\n", start);
    if (end == std::string::npos) end = Headers.size();
    if (end > start) {
      curl_slist* next = curl_slist_append(list, Headers.substr(start, end - start).c_str());
      if (!next) {
        curl_slist_free_all(list);
        return fail(CURLE_OUT_OF_MEMORY);
      }
      list = next;
    }
    start = end + 1;
  }
  // No "Expect: 100-continue" before large bodies: send them at once.
  curl_slist* next = curl_slist_append(list, "Expect:");
  if (!next) {
    curl_slist_free_all(list);
    return fail(CURLE_OUT_OF_MEMORY);
  }
  impl.headers.reset(next);

  impl.verb = std::string(verb);
  impl.caFile = EnvOrEmpty("SSL_CERT_FILE");
  impl.caPath = EnvOrEmpty("SSL_CERT_DIR");

  CURLcode rc = CURLE_OK;
  const auto set = [&](CURLoption option, auto value) {
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, option, value);
  };
  set(CURLOPT_ERRORBUFFER, impl.errorBuffer);
  set(CURLOPT_URL, impl.url.c_str());
  set(CURLOPT_PATH_AS_IS, 1L);
  set(CURLOPT_USERAGENT, AgentName.c_str());
  set(CURLOPT_HTTPHEADER, impl.headers.get());
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_PROTOCOLS_STR, "https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "https");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, 10L);
  set(CURLOPT_NOSIGNAL, 1L);
  // Nothing waits for ever, but a large body is never cut by a total limit.
  set(CURLOPT_CONNECTTIMEOUT, 60L);
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, 60L);
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  // libcurl does not read these variables itself; OpenSSL's tools do, one
  // variable at a time, and so do we.
  if (!impl.caFile.empty()) set(CURLOPT_CAINFO, impl.caFile.c_str());
  if (!impl.caPath.empty()) set(CURLOPT_CAPATH, impl.caPath.c_str());
  set(CURLOPT_SSL_CTX_FUNCTION, &Impl::SslContext);
  set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&impl));
  set(CURLOPT_WRITEFUNCTION, &Impl::Write);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&impl));
  if (rc != CURLE_OK) return fail(rc, impl.errorBuffer);

  lastError_ = 0;
  return true;
}

bool THttpsConnection::SendHttpsRequest() {
  Impl& impl = *impl_;
  lastErrorDetail_.clear();
  impl.body.clear();
  impl.complete = false;
  impl.noMatchingCert = false;
  impl.certProblem.clear();
  if (!impl.handle) {
    lastError_ = CURLE_FAILED_INIT;
    lastErrorDetail_ = "no request prepared";
    return false;
  }
  CURL* h = impl.handle.get();
  impl.errorBuffer[0] = '\0';
  impl.certStoreFolder = CertStoreFolder.empty() ? DefaultCertStoreFolder() : CertStoreFolder;
  impl.certSubject = CertSubject;

  // The body is taken now, so that data set after the request was prepared
  // still goes with it.
  CURLcode rc = CURLE_OK;
  const auto set = [&](CURLoption option, auto value) {
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, option, value);
  };
  if (impl.requestData) {
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(impl.requestData->size()));
    set(CURLOPT_POSTFIELDS, impl.requestData->data());
    set(CURLOPT_CUSTOMREQUEST, impl.verb == "POST" ? nullptr : impl.verb.c_str());
  } else if (impl.verb == "POST") {
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
    set(CURLOPT_POSTFIELDS, "");
    set(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
  } else {
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_CUSTOMREQUEST, impl.verb == "GET" ? nullptr : impl.verb.c_str());
  }
  if (rc == CURLE_OK) {
    // The transfer touches only this connection, so it may run on a worker.
    if (BlockingCalls != nullptr) {
      BlockingCalls->Run([&rc, h] { rc = curl_easy_perform(h); });
    } else {
      rc = curl_easy_perform(h);
    }
  }

  if (impl.noMatchingCert) {
    impl.body.clear();
    lastError_ = CURLE_SSL_CERTPROBLEM;
    lastErrorDetail_ = impl.certProblem;
    return false;
  }
  if (rc != CURLE_OK) {
    // A response cut off partway (18) or a failed read (56) is a failure
    // of the request: never hand on part of a body as if it were whole.
    impl.body.clear();
    lastError_ = static_cast<std::uint32_t>(rc);
    lastErrorDetail_ = impl.errorBuffer;
    return false;
  }
  impl.complete = true;
  lastError_ = 0;
  return true;
}

std::u16string THttpsConnection::ReadResponse() {
  if (!impl_->complete) return {};
  return DecodeUtf8Strict(impl_->body).value_or(std::u16string());
}

std::string THttpsConnection::ReadResponseUtf8() {
  if (!impl_->complete || !DecodeUtf8Strict(impl_->body)) return {};
  return impl_->body;
}

std::string ErrorCodeMessage(std::uint32_t code) {
  return "[ErrorCode " + std::to_string(code) + "]" + ErrorCodeText(code);
}

namespace {

std::string FailureMessage(std::string_view step, const THttpsConnection& connection) {
  std::string message = std::string(step) + ": " + ErrorCodeMessage(connection.LastError());
  if (!connection.LastErrorDetail().empty()) message += " (" + connection.LastErrorDetail() + ")";
  return message;
}

}  // namespace

std::string HttpsGet(THttpsConnection& connection, std::string_view agent,
                     std::string_view certSubject, std::string_view host, std::string_view path,
                     std::int32_t port) {
  std::string object = path.empty() ? std::string("/") : std::string(path);
  object = StrTran(object, "//", "/", 1, -1);
  connection.AgentName = std::string(agent);
  connection.CertSubject = std::string(certSubject);
  connection.SetServerName(host);
  connection.ObjectName = std::move(object);
  connection.Port = port;
  if (!connection.ConnectToHttpsServer("GET"))
    throw Error(FailureMessage("ConnectToHttpsServer", connection));
  if (!connection.SendHttpsRequest()) throw Error(FailureMessage("SendHttpsRequest", connection));
  return connection.ReadResponseUtf8();
}

}  // namespace orx
