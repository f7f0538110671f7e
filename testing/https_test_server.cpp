#include "testing/https_test_server.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "testing/json_reader.h"

extern char** environ;

namespace orx::testing {
namespace {

void RunOpenssl(const std::vector<std::string>& arguments) {
  static const std::string openssl = FindOnPath("openssl");
  const auto result = RunProcess(openssl, arguments);
  if (result.exitStatus != 0) {
    std::string command = "openssl";
    for (const auto& a : arguments) command += " " + a;
    throw std::runtime_error(command + " failed: " + result.standardError);
  }
}

// Certificate profiles; the subject comes from the command line.
constexpr std::string_view kOpensslConfig = R"([req]
distinguished_name = dn
string_mask = utf8only
utf8 = yes
prompt = no
[dn]
CN = unused
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[client_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = clientAuth
)";

std::vector<std::string> NewKeyArguments(bool rsaKey = false) {
  if (rsaKey) return {"req", "-x509", "-new", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-utf8"};
  return {"req", "-x509", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
          "-nodes", "-days", "2", "-utf8"};
}

bool IsIpAddress(std::string_view name) {
  return !name.empty() && name.find_first_not_of("0123456789.") == std::string_view::npos;
}

std::string Base64Decode(const std::string& text) {
  if (text.empty()) return {};
  std::string out(text.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) throw std::runtime_error("bad base64 in a request record: " + text);
  std::size_t padding = 0;
  for (auto it = text.rbegin(); it != text.rend() && *it == '='; ++it) ++padding;
  out.resize(static_cast<std::size_t>(n) - padding);
  return out;
}

// One record line the server writes (json.dumps, ASCII only).
RecordedRequest ParseRecord(std::string_view line) {
  JsonReader json(line);
  RecordedRequest request;
  json.Object([&](const std::string& key) {
    if (key == "method") {
      request.method = json.String();
    } else if (key == "path") {
      request.target = json.String();
    } else if (key == "body_base64") {
      request.body = Base64Decode(json.String());
    } else if (key == "completed") {
      if (json.Literal("true")) {
        request.method = "completed";
      } else {
        json.SkipValue();
      }
    } else if (key == "client_cert_subject") {
      if (!json.Literal("null")) request.clientCertSubject = json.String();
    } else if (key == "headers") {
      json.Array([&] {
        std::vector<std::string> pair;
        json.Array([&] { pair.push_back(json.String()); });
        if (pair.size() != 2) throw std::runtime_error("bad header in: " + std::string(line));
        request.headers.emplace_back(std::move(pair[0]), std::move(pair[1]));
      });
    } else {
      json.SkipValue();  // "body": the same bytes as body_base64
    }
  });
  return request;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      static constexpr char kDigits[] = "0123456789abcdef";
      out += "\\u00";
      out += kDigits[c >> 4];
      out += kDigits[c & 0xF];
    } else {
      out += static_cast<char>(c);  // UTF-8 passes through
    }
  }
  return out + "\"";
}

std::string ScriptJson(const HttpsTestScript& script) {
  std::string out = "{";
  bool firstPath = true;
  for (const auto& [path, replies] : script) {
    if (!firstPath) out += ",";
    firstPath = false;
    out += JsonString(path) + ":[";
    for (std::size_t i = 0; i < replies.size(); ++i) {
      const auto& r = replies[i];
      if (i) out += ",";
      out += "{\"body_hex\":\"" + Hex(r.body) + "\"";
      out += ",\"status\":" + std::to_string(r.status);
      out += ",\"content_type\":" + JsonString(r.contentType);
      out += ",\"headers\":{";
      for (std::size_t h = 0; h < r.headers.size(); ++h) {
        if (h) out += ",";
        out += JsonString(r.headers[h].first) + ":" + JsonString(r.headers[h].second);
      }
      out += "}";
      if (!r.redirect.empty()) out += ",\"redirect\":" + JsonString(r.redirect);
      if (r.dropAfterBytes) out += ",\"drop_after_bytes\":" + std::to_string(*r.dropAfterBytes);
      if (r.stallSeconds > 0) out += ",\"stall_seconds\":" + std::to_string(r.stallSeconds);
      if (r.fillBytes) out += ",\"fill_bytes\":" + std::to_string(*r.fillBytes);
      if (!r.pieces.empty()) {
        out += ",\"pieces\":[";
        for (std::size_t p = 0; p < r.pieces.size(); ++p) {
          if (p) out += ",";
          out += "[\"" + Hex(r.pieces[p].first) + "\"," + std::to_string(r.pieces[p].second) + "]";
        }
        out += "]";
      }
      if (r.endless) out += ",\"endless\":true";
      if (r.chunked) out += ",\"chunked\":true";
      if (r.readBytesPerSecond > 0)
        out += ",\"read_bytes_per_second\":" + std::to_string(r.readBytesPerSecond);
      if (r.trickleSeconds > 0)
        out += ",\"trickle_seconds\":" + std::to_string(r.trickleSeconds);
      out += "}";
    }
    out += "]";
  }
  return out + "}";
}

}  // namespace

TestPki::TestPki() {
  dir_.Write("openssl.cnf", kOpensslConfig);
  caFile_ = dir_ / "ca.pem";
  caKey_ = dir_ / "ca.key";
  auto args = NewKeyArguments();
  args.insert(args.end(), {"-config", dir_ / "openssl.cnf", "-extensions", "ca_ext", "-subj",
                           "/O=ORX Test/CN=ORX Test CA", "-keyout", caKey_, "-out", caFile_});
  RunOpenssl(args);
}

TestPki::ServerCert TestPki::MakeServerCert(const std::vector<std::string>& names) {
  const std::string stem = "server" + std::to_string(++serial_);
  std::string altNames;
  for (const auto& name : names) {
    if (!altNames.empty()) altNames += ",";
    altNames += (IsIpAddress(name) ? "IP:" : "DNS:") + name;
  }
  std::string config(kOpensslConfig);
  config += "[server_ext]\nbasicConstraints = CA:FALSE\n"
            "keyUsage = critical,digitalSignature,keyEncipherment\n"
            "extendedKeyUsage = serverAuth\n";
  if (!altNames.empty()) config += "subjectAltName = " + altNames + "\n";
  const std::string configFile = dir_.Write(stem + ".cnf", config);
  ServerCert cert{dir_ / (stem + ".pem"), dir_ / (stem + ".key")};
  auto args = NewKeyArguments();
  args.insert(args.end(),
              {"-config", configFile, "-extensions", "server_ext", "-subj",
               "/O=ORX Test/CN=" + (names.empty() ? std::string("server") : names.front()),
               "-CA", caFile_, "-CAkey", caKey_, "-set_serial", std::to_string(1000 + serial_),
               "-keyout", cert.keyFile, "-out", cert.certFile});
  RunOpenssl(args);
  return cert;
}

TestPki::Issuer TestPki::MakeIntermediateCa(std::string_view subject) {
  const std::string stem = "ca" + std::to_string(++serial_);
  Issuer issuer{dir_ / (stem + ".pem"), dir_ / (stem + ".key")};
  auto args = NewKeyArguments();
  args.insert(args.end(), {"-config", dir_ / "openssl.cnf", "-extensions", "ca_ext", "-subj",
                           std::string(subject), "-CA", caFile_, "-CAkey", caKey_,
                           "-set_serial", std::to_string(1000 + serial_), "-keyout",
                           issuer.keyFile, "-out", issuer.certFile});
  RunOpenssl(args);
  return issuer;
}

void TestPki::MakeClientCert(std::string_view subject, CertFormat format,
                             const std::filesystem::path& file, const Issuer* issuer,
                             bool withChain, bool rsaKey) {
  const std::string stem = "client" + std::to_string(++serial_);
  const std::string certFile = dir_ / (stem + ".pem");
  const std::string keyFile = dir_ / (stem + ".key");
  auto args = NewKeyArguments(rsaKey);
  args.insert(args.end(), {"-config", dir_ / "openssl.cnf", "-extensions", "client_ext",
                           "-subj", std::string(subject), "-CA",
                           issuer ? issuer->certFile : caFile_, "-CAkey",
                           issuer ? issuer->keyFile : caKey_, "-set_serial",
                           std::to_string(1000 + serial_), "-keyout", keyFile, "-out", certFile});
  RunOpenssl(args);
  const bool chain = issuer && withChain;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
  if (format == CertFormat::Pem) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << ReadFile(certFile) << (chain ? ReadFile(issuer->certFile) : "") << ReadFile(keyFile);
    if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
    return;
  }
  std::vector<std::string> export_{"pkcs12", "-export", "-in", certFile, "-inkey", keyFile,
                                   "-passout", "pass:", "-out", file.string()};
  if (chain) export_.insert(export_.end(), {"-certfile", issuer->certFile});
  if (format == CertFormat::Pkcs12Legacy) export_.push_back("-legacy");
  RunOpenssl(export_);
}

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  const auto same = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(a[i])) !=
          std::tolower(static_cast<unsigned char>(b[i])))
        return false;
    return true;
  };
  for (const auto& [key, value] : headers)
    if (same(key, name)) return value;
  return std::nullopt;
}

HttpsTestServer::HttpsTestServer() : HttpsTestServer(Options()) {}

namespace {
HttpsTestServer::Options WithScript(HttpsTestScript script) {
  HttpsTestServer::Options options;
  options.script = std::move(script);
  return options;
}
}  // namespace

HttpsTestServer::HttpsTestServer(HttpsTestScript script)
    : HttpsTestServer(WithScript(std::move(script))) {}

HttpsTestServer::HttpsTestServer(Options options)
    : pki_(options.pki ? options.pki : std::make_shared<TestPki>()) {
  const auto cert = pki_->MakeServerCert(options.serverNames);
  const std::string scriptFile = dir_.Write("script.json", ScriptJson(options.script));
  recordFile_ = dir_.Write("requests.jsonl", "");
  handshakeFile_ = dir_.Write("handshakes.jsonl", "");
  logFile_ = dir_ / "server.log";

  std::vector<std::string> argvStore{ORX_PYTHON, SourceDir() + "/testing/https_test_server.py",
                                     "--cert", cert.certFile, "--key", cert.keyFile,
                                     "--script", scriptFile, "--record", recordFile_,
                                     "--handshakes", handshakeFile_, "--verbose"};
  if (options.clientCert != ClientCertRequest::None) {
    argvStore.insert(argvStore.end(),
                     {"--client-ca", pki_->caFile(), "--client-cert",
                      options.clientCert == ClientCertRequest::Required ? "required"
                                                                        : "optional"});
  }
  if (!options.tlsVersion.empty()) argvStore.insert(argvStore.end(), {"--tls", options.tlsVersion});
  if (options.connectProxy) argvStore.push_back("--proxy");
  std::vector<char*> argv;
  for (auto& a : argvStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  Pipe portLine;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, portLine.end[1].get(), 1);
  posix_spawn_file_actions_addopen(&actions, 2, logFile_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error(std::string("cannot start ") + ORX_PYTHON);
  pid_ = pid;
  (void)portLine.end[1].Close();

  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd pfd{portLine.end[0].get(), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[64];
    const ssize_t n = ::read(portLine.end[0].get(), buffer, sizeof buffer);
    if (n <= 0) break;
    line.append(buffer, static_cast<std::size_t>(n));
  }
  try {
    port_ = std::stoi(line);
  } catch (const std::exception&) {
    port_ = 0;
  }
  if (port_ <= 0) {
    const std::string log = this->log();
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    throw std::runtime_error("the HTTPS test server did not start: " + log);
  }
}

HttpsTestServer::~HttpsTestServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::vector<RecordedRequest> HttpsTestServer::requests() const {
  std::vector<RecordedRequest> result;
  std::istringstream lines(ReadFile(recordFile_));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) result.push_back(ParseRecord(line));
  }
  return result;
}

std::vector<RecordedHandshake> HttpsTestServer::handshakes(std::size_t atLeast) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    std::vector<RecordedHandshake> result;
    std::istringstream lines(ReadFile(handshakeFile_));
    std::string line;
    while (std::getline(lines, line)) {
      if (line.empty() || line.back() != '}') continue;  // not written whole yet
      // The same reader as for requests: "completed" lands in method.
      const RecordedRequest parsed = ParseRecord(line);
      result.push_back({parsed.method == "completed", parsed.clientCertSubject});
    }
    if (result.size() >= atLeast || std::chrono::steady_clock::now() > deadline) return result;
    ::usleep(20000);
  }
}

std::string HttpsTestServer::log() const { return ReadFile(logFile_); }

}  // namespace orx::testing
