// The tool's reader on a 12-lead 10 s resting record (500 Hz, 5 uV) as
// other producers write it: with reference beats subtracted in every QRS
// and the residual second-differenced and Huffman-coded, against the same
// record without reference beats. Items are samples, bytes the file.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "reader/scpreader.h"
#include "reader/scpwriter.h"

namespace {

std::vector<uint8_t> Record12(bool referenceBeat) {
  constexpr uint32_t kSamples = 5000;
  scpreader::WriteOptions o;
  for (uint32_t q = 301; q < kSamples - 100; q += 420) o.qrs.push_back(q);  // 71/min
  o.referenceBeat = referenceBeat;
  const uint8_t ids[12] = {1, 2, 61, 62, 63, 64, 3, 4, 5, 6, 7, 8};
  std::vector<scpreader::WriteLead> leads;
  for (int l = 0; l < 12; ++l) {
    scpreader::WriteLead w;
    w.id = ids[l];
    for (uint32_t i = 0; i < kSamples; ++i) {
      double v = 20 * std::sin(0.0021 * i * (l + 1)) + 3 * std::sin(0.9 * i + l);
      for (uint32_t q : o.qrs) {
        const double d = static_cast<double>(i + 1) - q;
        v += (150 + 15 * l) * std::exp(-d * d / 30) + 40 * std::exp(-(d - 120) * (d - 120) / 900);
      }
      w.samples.push_back(static_cast<int16_t>(std::lround(v)));
    }
    leads.push_back(std::move(w));
  }
  std::string why;
  return scpreader::WriteRecord(leads, o, &why);
}

void Read(benchmark::State& state, bool referenceBeat) {
  const std::vector<uint8_t> file = Record12(referenceBeat);
  size_t samples = 0;
  for (auto _ : state) {
    const scpreader::Record r = scpreader::Read(file);
    samples = 0;
    for (const scpreader::Lead& l : r.leads)
      if (!l.derived) samples += l.samples.size();
    benchmark::DoNotOptimize(samples);
  }
  if (file.empty() || samples != 12 * 5000) state.SkipWithError("record not decoded");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * samples));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
  state.counters["file_bytes"] = static_cast<double>(file.size());
}

BENCHMARK_CAPTURE(Read, refbeat12x10s, true)->Name("read/refbeat12x10s");
BENCHMARK_CAPTURE(Read, plain12x10s, false)->Name("read/plain12x10s");

}  // namespace

BENCHMARK_MAIN();
