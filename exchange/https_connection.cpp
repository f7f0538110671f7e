#include "exchange/https_connection.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <idn2.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <openssl/provider.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "exchange/cert_store.h"
#include "exchange/crypto_engines.h"
#include "exchange/token_store.h"
#include "exchange/transfer_wording.h"
#include "support/c_handle.h"
#include "support/event_log.h"
#include "support/kelma_win.h"
#include "support/text.h"

namespace orx {
namespace {

using CurlUrlPtr = CHandle<CURLU, curl_url_cleanup>;

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
  InitCryptoEngines();
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

// A host name in any script in the ASCII form that DNS, URLs and server
// certificates use (пример.localhost: xn--e1afmkfd.localhost).
std::string AsciiHostName(std::string_view name) {
  if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::string(name);
  }
  const std::string text(name);
  char* ascii = nullptr;
  const int rc = idn2_to_ascii_8z(text.c_str(), &ascii, IDN2_NONTRANSITIONAL | IDN2_NFC_INPUT);
  const CHandle<char, idn2_free> owned(ascii);
  if (rc != IDN2_OK || ascii == nullptr) {
    throw EpnHttpsException("[Set ServerName]: имя узла \"" + text +
                            "\" не переводится в ASCII: " + idn2_strerror(rc));
  }
  return ascii;
}

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// A part of a URL as libcurl reads it; empty when absent or unreadable.
std::string UrlPart(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK || !text) return {};
  std::string result(text);
  curl_free(text);
  return result;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

// Whether libcurl will hand a request for `host` to a proxy named in the
// environment (its variables and its no_proxy rule: "*", a name, or a domain
// that the host ends in). Then the proxy, not this machine, resolves the name.
bool ProxyResolves(std::string_view host) {
  const bool proxy = !EnvOrEmpty("https_proxy").empty() || !EnvOrEmpty("HTTPS_PROXY").empty() ||
                     !EnvOrEmpty("all_proxy").empty() || !EnvOrEmpty("ALL_PROXY").empty();
  if (!proxy) return false;
  std::string noProxy = EnvOrEmpty("no_proxy");
  if (noProxy.empty()) noProxy = EnvOrEmpty("NO_PROXY");
  std::size_t start = 0;
  while (start <= noProxy.size()) {
    std::size_t end = noProxy.find(',', start);
    if (end == std::string::npos) end = noProxy.size();
    std::string_view entry(noProxy.data() + start, end - start);
    while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.front())))
      entry.remove_prefix(1);
    while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.back())))
      entry.remove_suffix(1);
    if (entry == "*") return false;
    if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
    if (!entry.empty() &&
        (SameTextIgnoringCase(host, entry) ||
         (host.size() > entry.size() && host[host.size() - entry.size() - 1] == '.' &&
          SameTextIgnoringCase(host.substr(host.size() - entry.size()), entry))))
      return false;
    start = end + 1;
  }
  return true;
}

// libcurl answers "localhost" and names under it with the loopback address
// itself (RFC 6761), without asking the resolver; a machine with no
// /etc/hosts (a minimal container) then still reaches its own servers.
bool IsLocalhostName(std::string_view host) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  constexpr std::string_view kLocal = "localhost";
  if (host.size() < kLocal.size()) return false;
  const std::string_view tail = host.substr(host.size() - kLocal.size());
  if (!SameTextIgnoringCase(tail, kLocal)) return false;
  return host.size() == kLocal.size() || host[host.size() - kLocal.size() - 1] == '.';
}

bool Resolves(const std::string& host, std::int32_t port) {
  if (IsLocalhostName(host)) return true;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
  return rc == 0;
}

// The server's name is checked inside the handshake, against the host this
// connection goes to (a redirect's too), so that a server with a certificate
// for another name fails before a client certificate is sent to it.
bool ExpectServerName(SSL_CTX* ctx, const std::string& host) {
  std::string bare = host;
  if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']')
    bare = bare.substr(1, bare.size() - 2);
  X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
  unsigned char address[16];
  if (::inet_pton(AF_INET, bare.c_str(), address) == 1 ||
      ::inet_pton(AF_INET6, bare.c_str(), address) == 1)
    return X509_VERIFY_PARAM_set1_ip_asc(param, bare.c_str()) == 1;
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  return X509_VERIFY_PARAM_set1_host(param, bare.c_str(), bare.size()) == 1;
}

// libcurl runs the context callback for the TLS connection to an HTTPS proxy
// as well, before the one to the server inside the tunnel. Starting a TLS
// connection to a proxy, it marks the proxy's certificate as not yet
// verified; the connection to the server is only made once the proxy's
// certificate has passed, and without a proxy the mark is never set.
bool ForProxy(CURL* handle) {
  long proxyVerified = X509_V_OK;
  return curl_easy_getinfo(handle, CURLINFO_PROXY_SSL_VERIFYRESULT, &proxyVerified) == CURLE_OK &&
         proxyVerified != X509_V_OK;
}

}  // namespace

struct THttpsConnection::Impl {
  // The transfer's sockets, from libcurl's creating one to its closing it.
  // Declared before the handle, so that they outlive its cleanup.
  std::vector<curl_socket_t> sockets;
  CHandle<CURL, curl_easy_cleanup> handle;
  CHandle<curl_slist, curl_slist_free_all> headers;
  std::string url;
  std::string host;
  std::string verb;
  std::string caFile;
  std::string caPath;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  std::optional<std::string> requestData;  // kept until replaced
  std::string body;
  bool complete = false;  // the last request succeeded and body holds its response
  std::size_t replyLimit = 0;
  bool replyTooLarge = false;
  std::uint64_t received = 0;  // reply bytes of the running request, headers included
  std::optional<TransferWatch> watch;
  std::function<bool(std::uint64_t, std::uint64_t)> onProgress;  // the caller's
  bool stoppedByCaller = false;

  // Client certificate selection during the handshake.
  CertStorePlaces certPlaces;
  TokenPinSource* tokenPins = nullptr;
  std::string certSubject;
  bool noMatchingCert = false;
  std::string certProblem;
  std::string certSent;  // subject and file of the certificate handed to the server
  std::string alertReceived;  // the last alert the server sent, in OpenSSL's words

  // A body never outgrows the limit, and its buffer never grows past it
  // either, so that a reply at the limit costs the limit and not twice.
  static size_t Write(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Impl*>(user);
    const std::size_t bytes = size * count;
    self->received += bytes;
    std::string& body = self->body;
    if (bytes > self->replyLimit - body.size()) {
      self->replyTooLarge = true;
      return 0;  // libcurl then ends the transfer with CURLE_WRITE_ERROR
    }
    try {
      if (body.size() + bytes > body.capacity())
        body.reserve(
            std::min(self->replyLimit, std::max(body.size() + bytes, body.capacity() * 2)));
      body.append(data, bytes);
    } catch (...) {
      return 0;
    }
    return bytes;
  }

  // Reply headers count as bytes moving.
  static size_t Header(char*, size_t size, size_t count, void* user) {
    static_cast<Impl*>(user)->received += size * count;
    return size * count;
  }

  static int SocketOpened(void* user, curl_socket_t socket, curlsocktype) {
    try {
      static_cast<Impl*>(user)->sockets.push_back(socket);
    } catch (...) {
      return CURL_SOCKOPT_ERROR;
    }
    return CURL_SOCKOPT_OK;
  }

  static int SocketClosing(void* user, curl_socket_t socket) {
    std::erase(static_cast<Impl*>(user)->sockets, socket);
    return ::close(socket);
  }

  // Bytes handed to the system but not yet acknowledged by the other end:
  // on a slow line a large body leaves libcurl long before it arrives, and
  // while it drains, bytes are moving although libcurl sends none.
  std::uint64_t Unacknowledged() const {
    std::uint64_t total = 0;
    for (const curl_socket_t socket : sockets) {
      int queued = 0;
      if (::ioctl(socket, SIOCOUTQ, &queued) == 0 && queued > 0) total += static_cast<unsigned>(queued);
    }
    return total;
  }

  // The one place where a running transfer is looked at while it runs
  // (libcurl calls it about once a second, and whenever bytes move), and
  // the one place that may stop it: nonzero ends the transfer.
  static int Progress(void* user, curl_off_t, curl_off_t, curl_off_t toSend, curl_off_t sent) {
    auto* self = static_cast<Impl*>(user);
    if (self->onProgress && !self->onProgress(static_cast<std::uint64_t>(sent),
                                              static_cast<std::uint64_t>(toSend))) {
      self->stoppedByCaller = true;
      return 1;
    }
    if (!self->watch) return 0;
    curl_off_t beforeTransfer = 0;
    curl_easy_getinfo(self->handle.get(), CURLINFO_PRETRANSFER_TIME_T, &beforeTransfer);
    TransferState state;
    state.connected = beforeTransfer > 0;
    state.sent = static_cast<std::uint64_t>(sent);
    state.toSend = static_cast<std::uint64_t>(toSend);
    state.received = self->received;
    state.unacknowledged = self->Unacknowledged();
    return self->watch->Check(TransferWatch::Clock::now(), state) == TransferLimit::None ? 0 : 1;
  }

  // Called by OpenSSL only when the server asks for a client certificate.
  // OpenSSL calls it a second time after a refusal, so a refusal is final.
  static int ClientCert(SSL* ssl, X509** x509, EVP_PKEY** pkey) {
    auto* self = static_cast<Impl*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (!self || self->noMatchingCert) return -1;
    auto result = FindClientCertificate(self->certPlaces, self->certSubject);
    if (result.found.onToken() && !LoadTokenKey(result.found, self->tokenPins, result.problem))
      result.found = {};
    if (!result.found.cert) {
      self->noMatchingCert = true;
      self->certProblem = std::move(result.problem);
      return -1;  // fail the handshake, also towards a server that only asks
    }
    // The chain must be set together with the certificate: OpenSSL keeps it
    // per key type, and only the certificate tells which one. Setting the
    // certificate again from what is returned keeps that chain.
    if (SSL_use_cert_and_key(ssl, result.found.cert.get(), result.found.key.get(),
                             result.found.chain.get(), 1) != 1)
      return 0;
    self->certSent = "\"" + result.found.subject + "\" (" + result.found.Origin() + ")";
    // OpenSSL takes both over.
    *x509 = result.found.cert.release();
    *pkey = result.found.key.release();
    return 1;
  }

  // Keeps the server's alerts, so that a refusal of our certificate can be
  // told apart from other failures.
  static void Info(const SSL* ssl, int where, int value) {
    if (!(where & SSL_CB_READ_ALERT) || (value & 0xFF) == SSL_AD_CLOSE_NOTIFY) return;
    auto* self = static_cast<Impl*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (self) self->alertReceived = SSL_alert_desc_string_long(value);
  }

  // A proxy's connection is left as libcurl makes it: it checks the proxy's
  // certificate against the proxy's name itself, and with no client
  // certificate callback OpenSSL answers a proxy that asks for one with none.
  static CURLcode SslContext(CURL* handle, void* context, void* user) {
    if (ForProxy(handle)) return CURLE_OK;
    auto* ctx = static_cast<SSL_CTX*>(context);
    auto* self = static_cast<Impl*>(user);
    SSL_CTX_set_app_data(ctx, user);
    SSL_CTX_set_client_cert_cb(ctx, ClientCert);
    SSL_CTX_set_info_callback(ctx, Info);
    char* current = nullptr;
    std::string host = self->host;
    if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &current) == CURLE_OK && current) {
      CurlUrlPtr url(curl_url());
      if (url && curl_url_set(url.get(), CURLUPART_URL, current, 0) == CURLUE_OK)
        host = UrlPart(url.get(), CURLUPART_HOST);
    }
    return ExpectServerName(ctx, host) ? CURLE_OK : CURLE_SSL_CERTPROBLEM;
  }
};

THttpsConnection::THttpsConnection()
    : SharedCertStoreFolder(kSharedCertStoreFolder), impl_(std::make_unique<Impl>()) {}

THttpsConnection::~THttpsConnection() { CloseHandles(); }

void THttpsConnection::SetServerName(std::string_view name) {
  if (name.find('/') != std::string_view::npos)
    throw EpnHttpsException("[Set ServerName]: found symbol \"/\"");
  if (name.find(':') != std::string_view::npos)
    throw EpnHttpsException("[Set ServerName]: found symbol \":\"");
  // Anything else that a URL would read as more than a host name: user
  // credentials, a fragment, a query, a literal address, blanks and controls.
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      throw EpnHttpsException(std::string("[Set ServerName]: found symbol \"\\x") +
                              kHex[byte >> 4] + kHex[byte & 0xF] + "\"");
    }
    if (std::string_view("@#?[]\\ ").find(c) != std::string_view::npos)
      throw EpnHttpsException(std::string("[Set ServerName]: found symbol \"") + c + "\"");
  }
  serverName_ = AsciiHostName(name);
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
  impl_->certSent.clear();
  impl_->watch.reset();
}

bool THttpsConnection::Fail(int code, std::string detail) {
  lastError_ = static_cast<std::uint32_t>(code);
  lastErrorDetail_ = std::move(detail);
  CloseHandles();
  return false;
}

bool THttpsConnection::ConnectToHttpsServer(std::string_view verb) {
  CloseHandles();
  lastErrorDetail_.clear();
  endingLimit_.clear();
  stoppedByCaller_ = false;
  if (Port < 0 || Port > 65535) throw Error("Range check error");
  if (const CURLcode init = InitLibraries(); init != CURLE_OK) return Fail(init);
  if (OuterDeadline && std::chrono::steady_clock::now() >= OuterDeadline->at) {
    endingLimit_ = OuterDeadline->limit;
    return Fail(CURLE_OPERATION_TIMEDOUT, endingLimit_);
  }
  impl_->verb = std::string(verb);
  if (!PrepareTarget() || !ResolveUnlessProxied() || !MakeHeaderList() || !ApplyOptions())
    return false;
  lastError_ = 0;
  return true;
}

// A host name that cannot make a URL, or whose URL would take the request
// anywhere but to that host and port, fails here, where the server is named,
// rather than at the send.
bool THttpsConnection::PrepareTarget() {
  Impl& impl = *impl_;
  impl.url = "https://" + serverName_ + ":" + std::to_string(Port) + RequestTarget(ObjectName);
  impl.host = serverName_;
  CurlUrlPtr parsed(curl_url());
  if (!parsed) return Fail(CURLE_OUT_OF_MEMORY);
  if (serverName_.empty() ||
      curl_url_set(parsed.get(), CURLUPART_URL, impl.url.c_str(), 0) != CURLUE_OK ||
      UrlPart(parsed.get(), CURLUPART_HOST) != serverName_ ||
      UrlPart(parsed.get(), CURLUPART_PORT) != std::to_string(Port) ||
      !UrlPart(parsed.get(), CURLUPART_USER).empty())
    return Fail(CURLE_URL_MALFORMAT, "bad server name \"" + serverName_ + "\"");
  return true;
}

bool THttpsConnection::ResolveUnlessProxied() {
  if (ProxyResolves(serverName_)) return true;
  // A name lookup can wait as long as a transfer, so it runs where one would.
  bool resolved = false;
  const auto lookUp = [this, &resolved] { resolved = Resolves(serverName_, Port); };
  if (BlockingCalls != nullptr) {
    BlockingCalls->Run(lookUp);
  } else {
    lookUp();
  }
  if (!resolved) return Fail(CURLE_COULDNT_RESOLVE_HOST, "Could not resolve host: " + serverName_);
  return true;
}

bool THttpsConnection::MakeHeaderList() {
  curl_slist* list = nullptr;
  const auto add = [&list](const std::string& header) {
    curl_slist* next = curl_slist_append(list, header.c_str());
    if (!next) {
      curl_slist_free_all(list);
      return false;
    }
    list = next;
    return true;
  };
  std::size_t start = 0;
  while (start < Headers.size()) {
    std::size_t end = Headers.find_first_of("\r\n", start);
    if (end == std::string::npos) end = Headers.size();
    if (end > start && !add(Headers.substr(start, end - start))) return Fail(CURLE_OUT_OF_MEMORY);
    start = end + 1;
  }
  // No "Expect: 100-continue" before large bodies: send them at once.
  if (!add("Expect:")) return Fail(CURLE_OUT_OF_MEMORY);
  impl_->headers.reset(list);
  return true;
}

bool THttpsConnection::ApplyOptions() {
  Impl& impl = *impl_;
  impl.handle.reset(curl_easy_init());
  if (!impl.handle) return Fail(CURLE_FAILED_INIT);
  CURL* h = impl.handle.get();
  impl.errorBuffer[0] = '\0';
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
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(RequestLimits.replyBytes));
  set(CURLOPT_WRITEFUNCTION, &Impl::Write);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&impl));
  set(CURLOPT_HEADERFUNCTION, &Impl::Header);
  set(CURLOPT_HEADERDATA, static_cast<void*>(&impl));
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &Impl::Progress);
  set(CURLOPT_XFERINFODATA, static_cast<void*>(&impl));
  set(CURLOPT_SOCKOPTFUNCTION, &Impl::SocketOpened);
  set(CURLOPT_SOCKOPTDATA, static_cast<void*>(&impl));
  set(CURLOPT_CLOSESOCKETFUNCTION, &Impl::SocketClosing);
  set(CURLOPT_CLOSESOCKETDATA, static_cast<void*>(&impl));
  // The server's certificate and name, and an HTTPS proxy's, are always
  // verified, against the same roots. libcurl does not read these variables
  // itself; OpenSSL's tools do, one variable at a time, and so do we.
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  set(CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
  set(CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
  if (!impl.caFile.empty()) {
    set(CURLOPT_CAINFO, impl.caFile.c_str());
    set(CURLOPT_PROXY_CAINFO, impl.caFile.c_str());
  }
  if (!impl.caPath.empty()) {
    set(CURLOPT_CAPATH, impl.caPath.c_str());
    set(CURLOPT_PROXY_CAPATH, impl.caPath.c_str());
  }
  set(CURLOPT_SSL_CTX_FUNCTION, &Impl::SslContext);
  set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&impl));
  if (rc != CURLE_OK) return Fail(rc, impl.errorBuffer);
  return true;
}

bool THttpsConnection::SendHttpsRequest() {
  Impl& impl = *impl_;
  lastErrorDetail_.clear();
  endingLimit_.clear();
  stoppedByCaller_ = false;
  impl.body.clear();
  impl.complete = false;
  impl.noMatchingCert = false;
  impl.certProblem.clear();
  if (!impl.handle) {
    lastError_ = CURLE_FAILED_INIT;
    lastErrorDetail_ = "запрос не подготовлен";
    return false;
  }
  CURL* h = impl.handle.get();
  impl.errorBuffer[0] = '\0';
  impl.certPlaces.folders = {CertStoreFolder.empty() ? DefaultCertStoreFolder() : CertStoreFolder};
  if (!SharedCertStoreFolder.empty()) impl.certPlaces.folders.push_back(SharedCertStoreFolder);
  impl.certPlaces.tokenModule = DefaultTokenModule();
  impl.tokenPins = TokenPins;
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

  // The time limits start now. libcurl's own timers end the connection
  // attempt and the whole request; the watch does the rest.
  const auto now = TransferWatch::Clock::now();
  const std::uint64_t bodyBytes = impl.requestData ? impl.requestData->size() : 0;
  impl.watch.emplace(RequestLimits, bodyBytes, now,
                     OuterDeadline ? std::optional(OuterDeadline->at) : std::nullopt);
  auto untilEnd = impl.watch->Allowance();
  if (OuterDeadline) {
    untilEnd = std::min(untilEnd, std::chrono::duration_cast<std::chrono::milliseconds>(
                                      OuterDeadline->at - now));
  }
  // Zero would mean no limit at all.
  untilEnd = std::max(untilEnd, std::chrono::milliseconds(1));
  set(CURLOPT_CONNECTTIMEOUT_MS,
      static_cast<long>(std::min(untilEnd, RequestLimits.connect).count()));
  set(CURLOPT_TIMEOUT_MS, static_cast<long>(untilEnd.count()));

  impl.replyLimit = RequestLimits.replyBytes;
  impl.replyTooLarge = false;
  impl.received = 0;
  impl.certSent.clear();
  impl.alertReceived.clear();
  impl.onProgress = TransferProgress;
  impl.stoppedByCaller = false;
  if (Trace) {
    Trace("> " + impl.verb + " " + impl.url + " (" + std::to_string(bodyBytes) + " bytes)");
  }
  if (rc == CURLE_OK) {
    // The transfer touches only this connection, so it may run on a worker.
    if (BlockingCalls != nullptr) {
      BlockingCalls->Run([&rc, h] { rc = curl_easy_perform(h); });
    } else {
      rc = curl_easy_perform(h);
    }
  }

  const bool sent = Finish(rc);
  if (Trace) {
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    Trace(sent ? "< " + std::to_string(status) + " (" + std::to_string(impl.body.size()) + " bytes)"
               : "< no reply: " + ErrorCodeMessage(lastError_) +
                     (lastErrorDetail_.empty() ? "" : " (" + lastErrorDetail_ + ")"));
  }
  return sent;
}

bool THttpsConnection::Finish(int result) {
  Impl& impl = *impl_;
  const auto rc = static_cast<CURLcode>(result);
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
    impl.body.shrink_to_fit();
    lastError_ = static_cast<std::uint32_t>(rc);
    lastErrorDetail_ = impl.errorBuffer;
    if (impl.replyTooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
      lastError_ = CURLE_FILESIZE_EXCEEDED;
      lastErrorDetail_ = "ответ сервера больше " + std::to_string(RequestLimits.replyBytes) +
                         " байт";
    } else if (rc == CURLE_ABORTED_BY_CALLBACK && impl.stoppedByCaller) {
      lastErrorDetail_ = "остановлено по просьбе вызывающей стороны";
      stoppedByCaller_ = true;
    } else if ((rc == CURLE_OPERATION_TIMEDOUT || rc == CURLE_ABORTED_BY_CALLBACK) &&
               impl.watch) {
      lastError_ = CURLE_OPERATION_TIMEDOUT;
      endingLimit_ = impl.watch->Describe(impl.watch->Ended(TransferWatch::Clock::now()),
                                          OuterDeadline ? OuterDeadline->limit : std::string());
      lastErrorDetail_ = endingLimit_;
    } else if ((rc == CURLE_SSL_CONNECT_ERROR || rc == CURLE_SEND_ERROR ||
                rc == CURLE_RECV_ERROR) &&
               !impl.certSent.empty()) {
      // An alert from the server after it received our certificate: it
      // does not accept that certificate (an unknown CA, a missing
      // intermediate, an expired or revoked one). With TLS 1.3 the server
      // may drop the connection before its alert can be read.
      long status = 0;
      curl_easy_getinfo(impl.handle.get(), CURLINFO_RESPONSE_CODE, &status);
      if (!impl.alertReceived.empty() || lastErrorDetail_.find(" alert ") != std::string::npos) {
        lastErrorDetail_ = "сервер отверг сертификат клиента " + impl.certSent + ": " +
                           lastErrorDetail_;
      } else if (status == 0) {
        lastErrorDetail_ = "сервер закрыл соединение после сертификата клиента " +
                           impl.certSent + ", вероятно, отвергнув его: " + lastErrorDetail_;
      }
    } else if (rc == CURLE_SSL_CONNECT_ERROR && !GostEngineLoaded()) {
      // A server that speaks only GOST TLS ends the handshake at once.
      lastErrorDetail_ += "; если сервер работает по ГОСТ TLS, нужен пакет libengine-gost-openssl";
    }
    return false;
  }
  impl.complete = true;
  lastError_ = 0;
  return true;
}

std::u16string THttpsConnection::ReadResponse() {
  const std::string body = ReadResponseUtf8();
  return DecodeUtf8Strict(body).value_or(std::u16string());
}

std::string THttpsConnection::ReadResponseUtf8() {
  if (!impl_->complete) return {};
  impl_->complete = false;
  std::string body = std::move(impl_->body);
  impl_->body = std::string();
  if (!IsWellFormedUtf8(body)) return {};
  return body;
}

void InitHttpsLibraries() { static_cast<void>(InitLibraries()); }

std::string ErrorCodeText(std::uint32_t code) {
  try {
    if (code == 0) return {};
    if (const auto own = TransferErrorWording(code)) return std::string(*own);
    if (code < static_cast<std::uint32_t>(CURL_LAST)) {
      const char* text = curl_easy_strerror(static_cast<CURLcode>(code));
      // Codes libcurl has retired come back as "Unknown error".
      if (text && std::strcmp(text, "Unknown error") != 0) return text;
    }
    return CLibraryErrorText(code);
  } catch (...) {
    return {};
  }
}

std::string ErrorCodeMessage(std::uint32_t code) {
  return "[ErrorCode " + std::to_string(code) + "]" + ErrorCodeText(code);
}

std::string EndingLimitNote(const THttpsConnection& connection) {
  return connection.EndingLimit().empty() ? std::string()
                                          : " (" + connection.EndingLimit() + ")";
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
