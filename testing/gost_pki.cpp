#include "testing/gost_pki.h"

#include <unistd.h>

#include <fstream>
#include <stdexcept>

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

}  // namespace

std::string GostPki::MissingTools() {
  if (::access(kGostEngine, R_OK) != 0) return std::string("not installed: ") + kGostEngine;
  return {};
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

GostPki::Pair GostPki::Make(std::string_view subject, std::string_view extensions) const {
  const std::string stem = "gost" + std::to_string(++serial_);
  Pair pair{dir_ / (stem + ".pem"), dir_ / (stem + ".key")};
  Openssl({"req", "-x509", "-new", "-newkey", "gost2012_256", "-pkeyopt", "paramset:A", "-nodes",
           "-md_gost12_256", "-days", "2", "-utf8", "-config", config_, "-extensions",
           std::string(extensions), "-subj", std::string(subject), "-CA", caFile_, "-CAkey",
           caKey_, "-set_serial", std::to_string(2000 + serial_), "-keyout", pair.keyFile, "-out",
           pair.certFile});
  return pair;
}

GostPki::Pair GostPki::MakeServerCert() const { return Make("/O=ORX Test/CN=127.0.0.1", "server_ext"); }

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

}  // namespace orx::testing
