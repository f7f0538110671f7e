#include "testing/nginx_front.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace orx::testing {
namespace {

std::string NginxProgram() {
  for (const char* candidate : {"/usr/sbin/nginx", "/usr/bin/nginx"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
  }
  throw std::runtime_error("nginx not found: install nginx-light (scripts/setup does)");
}

// As root nginx would otherwise hand its temporary folders to "nobody";
// naming the user it runs as keeps everything its own. Anyone else runs it
// as themselves anyway.
std::string UserLine() {
  if (::geteuid() != 0) return {};
  const passwd* user = ::getpwuid(::geteuid());
  const group* group = ::getgrgid(::getegid());
  if (!user || !group) return {};
  return std::string("user ") + user->pw_name + " " + group->gr_name + ";\n";
}

}  // namespace

NginxFront::NginxFront(TestPki& pki, Options options)
    : pki_(pki),
      options_(std::move(options)),
      placeholder_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  const int on = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (!placeholder_.valid() ||
      ::setsockopt(placeholder_.get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0 ||
      ::bind(placeholder_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(placeholder_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot find a free port for nginx");
  }
  port_ = ntohs(address.sin_port);
}

NginxFront::~NginxFront() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string NginxFront::Configuration(
    const std::vector<std::pair<std::string, int>>& upstreams) const {
  const std::string prefix = dir_.path().string() + "/";
  TestPki::ServerCert cert;
  if (options_.gost) {
    const GostPki::Pair gost = options_.gost->MakeServerCert();
    cert = {gost.certFile, gost.keyFile};
  } else {
    cert = pki_.MakeServerCert(options_.serverNames);
  }
  const std::string clientCa = options_.gost ? options_.gost->caFile() : pki_.caFile();
  std::string protocols = "TLSv1.2 TLSv1.3";
  if (!options_.tlsVersion.empty()) protocols = "TLSv" + options_.tlsVersion;
  std::string config = UserLine() +
                       "daemon off;\n"
                       "master_process off;\n"
                       "worker_processes 1;\n"
                       "pid " + prefix + "nginx.pid;\n"
                       "error_log " + prefix + "error.log notice;\n"
                       "events { worker_connections 64; }\n"
                       "http {\n"
                       "  access_log " + prefix + "access.log;\n"
                       "  client_body_temp_path " + prefix + "body;\n"
                       "  proxy_temp_path " + prefix + "proxy;\n"
                       "  fastcgi_temp_path " + prefix + "fastcgi;\n"
                       "  uwsgi_temp_path " + prefix + "uwsgi;\n"
                       "  scgi_temp_path " + prefix + "scgi;\n"
                       "  client_max_body_size 0;\n"
                       "  gzip on;\n"
                       "  gzip_types *;\n"
                       "  gzip_min_length 0;\n"
                       "  gzip_proxied any;\n"
                       "  server {\n"
                       "    listen 127.0.0.1:" + std::to_string(port()) + " ssl http2 reuseport;\n"
                       "    ssl_certificate " + cert.certFile + ";\n"
                       "    ssl_certificate_key " + cert.keyFile + ";\n"
                       "    ssl_protocols " + protocols + ";\n";
  if (options_.clientCert != ClientCertRequest::None) {
    config += "    ssl_client_certificate " + clientCa + ";\n"
              "    ssl_verify_depth 2;\n"
              "    ssl_verify_client " +
              std::string(options_.clientCert == ClientCertRequest::Required ? "on" : "optional") +
              ";\n";
  }
  for (const auto& [path, upstreamPort] : upstreams) {
    config += "    location " + path + " {\n"
              "      proxy_pass https://127.0.0.1:" + std::to_string(upstreamPort) + ";\n"
              "      proxy_http_version 1.1;\n"
              "      proxy_ssl_verify on;\n"
              "      proxy_ssl_trusted_certificate " + pki_.caFile() + ";\n"
              "      proxy_ssl_name localhost;\n"
              "      proxy_set_header X-Client-Subject $ssl_client_s_dn;\n"
              "      proxy_set_header X-Tls-Protocol $ssl_protocol;\n"
              "      proxy_set_header X-Http-Version $server_protocol;\n"
              "    }\n";
  }
  return config + "  }\n}\n";
}

void NginxFront::Start(const std::vector<std::pair<std::string, int>>& upstreams) {
  const std::string prefix = dir_.path().string() + "/";
  const std::string configFile = dir_.Write("nginx.conf", Configuration(upstreams));
  const std::string program = NginxProgram();
  const std::string output = prefix + "output.log";
  std::vector<std::string> environment;
  if (options_.gost) environment.push_back("OPENSSL_CONF=" + options_.gost->opensslConfig());
  pid_ = StartProcess(program, {"-p", prefix, "-c", configFile, "-e", prefix + "error.log"},
                      environment, output);

  // The pid file is written once the configuration is read and the socket
  // listens; connections made before its loop runs wait in the backlog.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!ReadFile(prefix + "nginx.pid").empty()) {
      (void)placeholder_.Close();  // the port is nginx's now
      return;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  throw std::runtime_error("nginx did not start: " + ReadFile(output) + log());
}

std::string NginxFront::log() const { return ReadFile(dir_.path() / "error.log"); }

}  // namespace orx::testing
