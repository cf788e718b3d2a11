// Throughput of the sample codec, in samples per second (items_per_second),
// for both implementations on three kinds of lead:
//   ecg500    resting ECG, 500 Hz, 5 uV per unit, 10 s leads
//   holter200 ambulatory ECG, 200 Hz, 5 uV per unit, 5 min leads (4-byte counts)
//   noise     white noise over the full 16-bit range (every value escapes)
// bits_per_sample reports how well the lead compresses. decode3 decodes three
// such leads (seeds 7 to 9) in one call, as a Section 6 fetch does.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scp/sample_codec.h"
#include "tests/support/ecg_synth.h"

namespace {

struct Signal {
  const char* name;
  std::vector<int16_t> samples;
};

const std::vector<Signal>& Signals() {
  static const std::vector<Signal> signals = {
      {"ecg500", ecgsynth::SynthesizeEcg(ecgsynth::RestingEcg(7), 5000)},
      {"holter200", ecgsynth::SynthesizeEcg(ecgsynth::HolterEcg(7), 60000)},
      {"noise", ecgsynth::WhiteNoise(5000, 7)},
  };
  return signals;
}

using EncodeFn = uint32_t (*)(const RhythmEncoder&, uint8_t*, uint32_t, uint32_t, const int16_t*, uint32_t);
using DecodeFn = uint32_t (*)(const HuffmanMode&, int16_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, bool);

constexpr RhythmEncoder kEncoder{1, 1, 0};
constexpr HuffmanMode kMode{1, 0};

void Encode(benchmark::State& state, EncodeFn encode, const Signal& signal) {
  const auto& x = signal.samples;
  const auto count = static_cast<uint32_t>(x.size());
  std::vector<uint8_t> out(4 * x.size() + 16);
  uint32_t bytes = 0;
  for (auto _ : state) {
    bytes = encode(kEncoder, out.data(), 0, static_cast<uint32_t>(out.size()), x.data(), count);
    benchmark::DoNotOptimize(bytes);
    benchmark::ClobberMemory();
  }
  if (bytes == 0) state.SkipWithError("lead did not fit");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
  state.counters["bits_per_sample"] = 8.0 * bytes / count;
}

void Decode(benchmark::State& state, DecodeFn decode, const Signal& signal) {
  const auto& x = signal.samples;
  const auto count = static_cast<uint32_t>(x.size());
  std::vector<uint8_t> coded(4 * x.size() + 16);
  const uint32_t bytes = scpcodec::portable::encodeLead(kEncoder, coded.data(), 0,
                                                        static_cast<uint32_t>(coded.size()), x.data(), count);
  coded.resize(bytes);
  std::vector<int16_t> dest(count);
  for (auto _ : state) {
    benchmark::DoNotOptimize(decode(kMode, dest.data(), count, coded.data(), 0, bytes, true));
    benchmark::ClobberMemory();
  }
  if (dest != x) state.SkipWithError("decoded samples differ");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
  state.counters["bits_per_sample"] = 8.0 * bytes / count;
}

// Three leads of one kind decoded by one call, as a section's leads are.
void DecodeLeads(benchmark::State& state, bool fast, Signal (*make)(int seed)) {
  constexpr int kLeads = 3;
  std::vector<Signal> leads;
  std::vector<uint8_t> coded;
  std::vector<LeadSpan> spans;
  std::vector<std::vector<int16_t>> dest(kLeads);
  for (int k = 0; k < kLeads; ++k) {
    leads.push_back(make(7 + k));
    const auto& x = leads.back().samples;
    std::vector<uint8_t> one(4 * x.size() + 16);
    const uint32_t bytes = scpcodec::portable::encodeLead(kEncoder, one.data(), 0, static_cast<uint32_t>(one.size()),
                                                          x.data(), static_cast<uint32_t>(x.size()));
    spans.push_back(LeadSpan{nullptr, static_cast<uint32_t>(coded.size()), bytes, 0});
    coded.insert(coded.end(), one.begin(), one.begin() + bytes);
    dest[k].resize(x.size());
  }
  for (int k = 0; k < kLeads; ++k) spans[k].dest = dest[k].data();
  const auto count = static_cast<uint32_t>(leads[0].samples.size());
  for (auto _ : state) {
    if (fast)
      scpcodec::fast::decodeLeads(kMode, spans.data(), kLeads, count, coded.data(), true);
    else
      scpcodec::portable::decodeLeads(kMode, spans.data(), kLeads, count, coded.data(), true);
    benchmark::ClobberMemory();
  }
  for (int k = 0; k < kLeads; ++k)
    if (dest[k] != leads[k].samples) state.SkipWithError("decoded samples differ");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count * kLeads);
  state.counters["bits_per_sample"] = 8.0 * static_cast<double>(coded.size()) / (count * kLeads);
}

Signal Ecg500(int seed) { return {"ecg500", ecgsynth::SynthesizeEcg(ecgsynth::RestingEcg(seed), 5000)}; }
Signal Holter200(int seed) { return {"holter200", ecgsynth::SynthesizeEcg(ecgsynth::HolterEcg(seed), 60000)}; }

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
    for (auto make : {&Ecg500, &Holter200}) {
      benchmark::RegisterBenchmark(
          ("decode3/" + std::string(fast ? "fast/" : "portable/") + make(7).name).c_str(),
          [fast, make](benchmark::State& s) { DecodeLeads(s, fast, make); });
    }
  }
  for (const Signal& signal : Signals()) {
    for (const Impl& impl : impls) {
      benchmark::RegisterBenchmark(("encode/" + std::string(impl.name) + "/" + signal.name).c_str(),
                                   [&impl, &signal](benchmark::State& s) { Encode(s, impl.encode, signal); });
      benchmark::RegisterBenchmark(("decode/" + std::string(impl.name) + "/" + signal.name).c_str(),
                                   [&impl, &signal](benchmark::State& s) { Decode(s, impl.decode, signal); });
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
