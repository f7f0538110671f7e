#include "testing/gost_tls_front.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace orx::testing {
namespace {

constexpr char kGostEngine[] = "/usr/lib/x86_64-linux-gnu/engines-3/gost.so";

constexpr std::string_view kGostConfig = R"(openssl_conf = openssl_init
[openssl_init]
engines = engines
[engines]
gost = gost
[gost]
engine_id = gost
default_algorithms = ALL
[req]
distinguished_name = dn
string_mask = utf8only
utf8 = yes
prompt = no
[dn]
CN = unused
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
[server_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment,keyAgreement
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
[client_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = clientAuth
)";

std::string Nginx() {
  try {
    return FindOnPath("nginx");
  } catch (const std::runtime_error&) {
    return "/usr/sbin/nginx";  // not on an ordinary user's PATH
  }
}

bool Listens(int port) {
  const UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return fd.valid() &&
         ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

std::string GostPki::MissingTools() {
  std::string missing;
  if (::access(Nginx().c_str(), X_OK) != 0) missing = "nginx";
  if (::access(kGostEngine, R_OK) != 0) missing += std::string(missing.empty() ? "" : ", ") + kGostEngine;
  return missing.empty() ? missing : "not installed: " + missing;
}

GostPki::GostPki() {
  config_ = dir_.Write("gost.cnf", kGostConfig);
  caFile_ = dir_ / "ca.pem";
  caKey_ = dir_ / "ca.key";
  Openssl({"req", "-x509", "-new", "-newkey", "gost2012_256", "-pkeyopt", "paramset:A", "-nodes",
           "-md_gost12_256", "-days", "2", "-config", config_, "-extensions", "ca_ext", "-subj",
           "/O=ORX Test/CN=ORX GOST CA", "-keyout", caKey_, "-out", caFile_});
}

void GostPki::Openssl(const std::vector<std::string>& arguments) const {
  static const std::string openssl = FindOnPath("openssl");
  const auto result = RunProcess(openssl, arguments, {"OPENSSL_CONF=" + config_});
  if (result.exitStatus != 0) {
    std::string command = "openssl";
    for (const auto& a : arguments) command += " " + a;
    throw std::runtime_error(command + " failed: " + result.standardError);
  }
}

GostPki::Pair GostPki::Make(std::string_view subject, std::string_view extensions) {
  const std::string stem = "gost" + std::to_string(++serial_);
  Pair pair{dir_ / (stem + ".pem"), dir_ / (stem + ".key")};
  Openssl({"req", "-x509", "-new", "-newkey", "gost2012_256", "-pkeyopt", "paramset:A", "-nodes",
           "-md_gost12_256", "-days", "2", "-utf8", "-config", config_, "-extensions",
           std::string(extensions), "-subj", std::string(subject), "-CA", caFile_, "-CAkey",
           caKey_, "-set_serial", std::to_string(2000 + serial_), "-keyout", pair.keyFile, "-out",
           pair.certFile});
  return pair;
}

GostPki::Pair GostPki::MakeServerCert() { return Make("/O=ORX Test/CN=127.0.0.1", "server_ext"); }

void GostPki::MakeClientCert(std::string_view subject, Format format,
                             const std::filesystem::path& file) {
  const Pair pair = Make(subject, "client_ext");
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
  if (format == Format::Pem) {
    std::filesystem::remove(file);
    std::ofstream(file, std::ios::binary) << ReadFile(pair.certFile) << ReadFile(pair.keyFile);
    return;
  }
  std::vector<std::string> arguments{"pkcs12", "-export", "-in", pair.certFile, "-inkey",
                                     pair.keyFile, "-passout", "pass:", "-out", file.string()};
  if (format == Format::Pkcs12Gost)
    arguments.insert(arguments.end(),
                     {"-keypbe", "gost89", "-certpbe", "gost89", "-macalg", "md_gost12_512"});
  Openssl(arguments);
}

GostTlsFront::GostTlsFront(GostPki& pki, int port, int backendPort) : port_(port) {
  const GostPki::Pair server = pki.MakeServerCert();
  const std::string folder = dir_.path().string();
  std::string config = "daemon off;\nmaster_process off;\npid " + folder + "/nginx.pid;\n" +
                       "error_log " + folder + "/error.log info;\nevents { worker_connections 64; }\n" +
                       "http {\n  access_log off;\n  client_max_body_size 0;\n";
  for (const char* temporary : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
    config += "  " + std::string(temporary) + "_temp_path " + folder + "/" + temporary + ";\n";
  config += "  server {\n    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n" +
            "    ssl_certificate " + server.certFile + ";\n" +
            "    ssl_certificate_key " + server.keyFile + ";\n" +
            "    ssl_protocols TLSv1.2;\n    ssl_verify_client on;\n" +
            "    ssl_client_certificate " + pki.caFile() + ";\n" +
            "    location / {\n      proxy_pass https://127.0.0.1:" + std::to_string(backendPort) +
            ";\n      proxy_set_header X-Client-Subject $ssl_client_s_dn;\n    }\n  }\n}\n";
  const std::string configFile = dir_.Write("nginx.conf", config);
  pid_ = StartProcess(Nginx(), {"-p", folder, "-e", folder + "/error.log", "-c", configFile},
                      {"OPENSSL_CONF=" + pki.opensslConfig()}, dir_ / "output.log");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!Listens(port_)) {
    const bool ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
    if (ended || std::chrono::steady_clock::now() > deadline) {
      if (!ended) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
      }
      pid_ = -1;
      throw std::runtime_error("nginx did not start: " + log());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

GostTlsFront::~GostTlsFront() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string GostTlsFront::log() const {
  return ReadFile(dir_.path() / "output.log") + ReadFile(dir_.path() / "error.log");
}

}  // namespace orx::testing
