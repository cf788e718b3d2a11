// CRC throughput of the carry-less folding, fast (slicing-by-16) and portable
// (nibble) routines.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "scp/crc.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t n) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(7);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

template <uint16_t (*Crc)(const uint8_t*, size_t)>
void BM_Crc(benchmark::State& state) {
  auto data = RandomBytes(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Crc(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_Crc<scpcrc::Carryless>)->Name("crc/carryless")->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc<scpcrc::Fast>)->Name("crc/fast")->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crc<scpcrc::Portable>)->Name("crc/portable")->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
