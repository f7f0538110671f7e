// Throughput of the package cipher on archive-sized buffers.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "package/cipher.h"

namespace {

constexpr std::string_view kOfficeKey = "5B0E7D21C94A3F68E1D07B92A4C65F3E";

void BM_EncryptCodStream(benchmark::State& state) {
  std::string buffer(static_cast<std::size_t>(state.range(0)), '\0');
  std::mt19937 random(1);
  for (char& c : buffer) c = static_cast<char>(random());
  for (auto _ : state) {
    orx::EncryptCodStream(buffer, kOfficeKey);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_EncryptCodStream)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
