// What finding a client certificate costs when a server asks for one: the
// engines' set-up once per process, the search of a folder, the listing of a
// SoftHSM token's certificates (no PIN) and the loading of its key, the first
// time with a login.
#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <memory>

#include "exchange/cert_store.h"
#include "exchange/crypto_engines.h"
#include "exchange/token_store.h"
#include "testing/https_test_server.h"
#include "testing/softhsm_token.h"

namespace {

using orx::testing::CertFormat;

// A folder and a token each holding `count` certificates, the matching one last.
struct Identities {
  explicit Identities(int count) : token("Office Token", "1234") {
    for (int i = 1; i <= count; ++i) {
      const std::string subject = i == count ? std::string("/O=Test/CN=Office 7 Form A")
                                             : "/O=Test/CN=Office " + std::to_string(i) + " CT1";
      const auto file = folder.path() / ("cert" + std::to_string(100 + i) + ".pem");
      pki.MakeClientCert(subject, CertFormat::Pem, file);
      token.Put(file.string(), std::to_string(10 + i));
    }
  }
  orx::testing::TestPki pki;
  orx::testing::ScratchDir folder;
  orx::testing::SoftHsmToken token;
};

Identities& Made(int count) {
  static std::map<int, std::unique_ptr<Identities>> made;
  auto& slot = made[count];
  if (!slot) slot = std::make_unique<Identities>(count);
  ::setenv("SOFTHSM2_CONF", slot->token.config().c_str(), 1);  // the token searched
  return *slot;
}

void BM_EngineSetUp(benchmark::State& state) {
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    orx::InitCryptoEngines();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}
BENCHMARK(BM_EngineSetUp)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FolderSearch(benchmark::State& state) {
  Identities& made = Made(static_cast<int>(state.range(0)));
  const orx::CertStorePlaces places{{made.folder.path().string()}, ""};
  for (auto _ : state) benchmark::DoNotOptimize(orx::FindClientCertificate(places, "Form A"));
}
BENCHMARK(BM_FolderSearch)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_TokenListing(benchmark::State& state) {
  Made(static_cast<int>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(orx::FindTokenCertificate(orx::testing::kSoftHsmModule, "Form A"));
}
BENCHMARK(BM_TokenListing)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

// The first load logs in; the token then stays logged in for the process.
void BM_TokenKeyLoad(benchmark::State& state) {
  Made(1);
  struct Pin final : orx::TokenPinSource {
    bool GetPin(std::string_view, orx::TokenPin& pin, std::string&) override {
      return pin.Assign("1234");
    }
  } pins;
  for (auto _ : state) {
    auto found = orx::FindTokenCertificate(orx::testing::kSoftHsmModule, "Form A").found;
    std::string problem;
    const auto start = std::chrono::steady_clock::now();
    if (!orx::LoadTokenKey(found, &pins, problem)) state.SkipWithError(problem.c_str());
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}
BENCHMARK(BM_TokenKeyLoad)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TokenKeyLoad)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
