// Throughput of the sample codec, in samples per second (items_per_second),
// for both implementations on three kinds of lead:
//   ecg500    resting ECG, 500 Hz, 5 uV per unit, 10 s leads
//   holter200 ambulatory ECG, 200 Hz, 5 uV per unit, 5 min leads (4-byte counts)
//   noise     white noise over the full 16-bit range (every value escapes)
// bits_per_sample reports how well the leads compress. decode3 decodes three
// leads in one call, as a Section 6 fetch does.
//
// Each benchmark works through a pool of different leads of its kind (1.44
// million samples) and takes the next one at every iteration. Replayed
// one lead over and over, the processor's branch predictor learns where the
// lead's escape codes fall, which no real file allows: that overstated the
// fast decoder on Holter leads by 1.8 times.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "scp/sample_codec.h"
#include "tests/support/ecg_synth.h"

namespace {

constexpr size_t kPoolSamples = 1440000;

struct Kind {
  const char* name;
  uint32_t count;  // samples per lead
  std::vector<int16_t> (*make)(uint32_t count, uint64_t seed);
};

const Kind kKinds[] = {
    {"ecg500", 5000, [](uint32_t n, uint64_t seed) { return ecgsynth::SynthesizeEcg(ecgsynth::RestingEcg(seed), n); }},
    {"holter200", 60000,
     [](uint32_t n, uint64_t seed) { return ecgsynth::SynthesizeEcg(ecgsynth::HolterEcg(seed), n); }},
    {"noise", 5000, [](uint32_t n, uint64_t seed) { return ecgsynth::WhiteNoise(n, seed); }},
};

constexpr RhythmEncoder kEncoder{1, 1, 0};
constexpr HuffmanMode kMode{1, 0};

// Leads of one kind from seeds 7, 8, ... and their codes (portable encoder).
struct Pool {
  uint32_t count = 0;
  std::vector<std::vector<int16_t>> samples;
  std::vector<std::vector<uint8_t>> coded;
  size_t codedBytes = 0;

  explicit Pool(const Kind& kind) : count(kind.count) {
    const size_t leads = std::max<size_t>(24, kPoolSamples / kind.count);
    for (size_t k = 0; k < leads; ++k) {
      samples.push_back(kind.make(count, 7 + k));
      std::vector<uint8_t> out(4 * size_t{count} + 16);
      const uint32_t bytes = scpcodec::portable::encodeLead(kEncoder, out.data(), 0, static_cast<uint32_t>(out.size()),
                                                            samples.back().data(), count);
      out.resize(bytes);
      codedBytes += bytes;
      coded.push_back(std::move(out));
    }
  }
  size_t Size() const { return samples.size(); }
  double BitsPerSample() const { return 8.0 * static_cast<double>(codedBytes) / (static_cast<double>(count) * Size()); }
};

const Pool& PoolOf(const Kind& kind) {
  static std::vector<std::pair<const Kind*, Pool>> pools;
  for (auto& [k, pool] : pools)
    if (k == &kind) return pool;
  pools.emplace_back(&kind, Pool(kind));
  return pools.back().second;
}

using EncodeFn = uint32_t (*)(const RhythmEncoder&, uint8_t*, uint32_t, uint32_t, const int16_t*, uint32_t);
using DecodeFn = uint32_t (*)(const HuffmanMode&, int16_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, bool);

void Encode(benchmark::State& state, EncodeFn encode, const Kind& kind) {
  const Pool& pool = PoolOf(kind);
  std::vector<uint8_t> out(4 * size_t{pool.count} + 16);
  size_t next = 0;
  bool same = true;
  for (auto _ : state) {
    const uint32_t bytes =
        encode(kEncoder, out.data(), 0, static_cast<uint32_t>(out.size()), pool.samples[next].data(), pool.count);
    benchmark::DoNotOptimize(bytes);
    benchmark::ClobberMemory();
    same = same && bytes == pool.coded[next].size();
    next = (next + 1) % pool.Size();
  }
  if (!same) state.SkipWithError("coded lengths differ from the portable encoder's");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * pool.count);
  state.counters["bits_per_sample"] = pool.BitsPerSample();
}

void Decode(benchmark::State& state, DecodeFn decode, const Kind& kind) {
  const Pool& pool = PoolOf(kind);
  std::vector<int16_t> dest(pool.count);
  size_t next = 0;
  for (auto _ : state) {
    const auto& coded = pool.coded[next];
    benchmark::DoNotOptimize(
        decode(kMode, dest.data(), pool.count, coded.data(), 0, static_cast<uint32_t>(coded.size()), true));
    benchmark::ClobberMemory();
    next = (next + 1) % pool.Size();
  }
  // Only the last lead decoded is still there to check.
  if (dest != pool.samples[(next + pool.Size() - 1) % pool.Size()]) state.SkipWithError("decoded samples differ");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * pool.count);
  state.counters["bits_per_sample"] = pool.BitsPerSample();
}

// Three leads of one kind decoded by one call, as a section's leads are.
void DecodeLeads(benchmark::State& state, bool fast, const Kind& kind) {
  constexpr size_t kLeads = 3;
  const Pool& pool = PoolOf(kind);
  // Sections of three consecutive pool leads, laid out as Section 6 holds them.
  std::vector<std::vector<uint8_t>> sections;
  std::vector<std::vector<LeadSpan>> spans;
  std::vector<std::vector<int16_t>> dest(kLeads, std::vector<int16_t>(pool.count));
  for (size_t first = 0; first + kLeads <= pool.Size(); first += kLeads) {
    std::vector<uint8_t> bytes;
    std::vector<LeadSpan> lead;
    for (size_t k = 0; k < kLeads; ++k) {
      const auto& coded = pool.coded[first + k];
      lead.push_back(LeadSpan{dest[k].data(), static_cast<uint32_t>(bytes.size()),
                              static_cast<uint32_t>(coded.size()), 0});
      bytes.insert(bytes.end(), coded.begin(), coded.end());
    }
    sections.push_back(std::move(bytes));
    spans.push_back(std::move(lead));
  }
  size_t next = 0;
  for (auto _ : state) {
    if (fast)
      scpcodec::fast::decodeLeads(kMode, spans[next].data(), kLeads, pool.count, sections[next].data(), true);
    else
      scpcodec::portable::decodeLeads(kMode, spans[next].data(), kLeads, pool.count, sections[next].data(), true);
    benchmark::ClobberMemory();
    next = (next + 1) % sections.size();
  }
  const size_t last = (next + sections.size() - 1) % sections.size();
  for (size_t k = 0; k < kLeads; ++k)
    if (dest[k] != pool.samples[last * kLeads + k]) state.SkipWithError("decoded samples differ");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * pool.count * kLeads);
  state.counters["bits_per_sample"] = pool.BitsPerSample();
}

void RegisterAll() {
  struct Impl {
    const char* name;
    EncodeFn encode;
    DecodeFn decode;
  };
  static const Impl impls[] = {
      {"fast", &scpcodec::fast::encodeLead, &scpcodec::fast::decodeLead},
      {"portable", &scpcodec::portable::encodeLead, &scpcodec::portable::decodeLead},
  };
  for (bool fast : {true, false}) {
    for (const Kind* kind : {&kKinds[0], &kKinds[1]}) {
      benchmark::RegisterBenchmark(("decode3/" + std::string(fast ? "fast/" : "portable/") + kind->name).c_str(),
                                   [fast, kind](benchmark::State& s) { DecodeLeads(s, fast, *kind); });
    }
  }
  for (const Kind& kind : kKinds) {
    for (const Impl& impl : impls) {
      benchmark::RegisterBenchmark(("encode/" + std::string(impl.name) + "/" + kind.name).c_str(),
                                   [&impl, &kind](benchmark::State& s) { Encode(s, impl.encode, kind); });
      benchmark::RegisterBenchmark(("decode/" + std::string(impl.name) + "/" + kind.name).c_str(),
                                   [&impl, &kind](benchmark::State& s) { Decode(s, impl.decode, kind); });
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
