// Whole-record save and fetch through the record service, as SAVETESTRECORD
// and FETCHTEST run them, for two waveforms:
//   resting12  12 leads, 500 Hz, 10 s (5,000 samples per lead, 1 MB buffer)
//   holter24h  3 leads, 200 Hz, 24 h (17,280,000 samples per lead, 4-byte
//              counts, 128,000,000-byte buffer)
// Files go to /dev/shm (the temp folder where that is missing), so the
// figures are the codec's and not the disk's. bytes_per_second counts the
// file's bytes, items_per_second the samples of all leads.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "platform/platform.h"
#include "scp/service.h"
#include "tests/rhythm_fixtures.h"

namespace {

struct Shape {
  const char* name;
  uint32_t leads;
  uint32_t rate;
  uint32_t samples;
};

constexpr Shape kResting{"resting12", 12, 500, 5000};
constexpr Shape kHolter{"holter24h", 3, 200, 200 * 86400};

std::vector<uint8_t> Slots(uint32_t n) {
  std::vector<uint8_t> v(n);
  for (uint32_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i);
  return v;
}

std::string Folder() {
  std::error_code ec;
  if (std::filesystem::is_directory("/dev/shm", ec)) return "/dev/shm";
  return std::filesystem::temp_directory_path().string();
}

std::string PathFor(const Shape& shape) { return Folder() + "/scp_saveload_" + shape.name + ".scp"; }

// One service for the whole run, as a host keeps it between LIBSTART and
// LIBSTOP. Its log lines are thrown away.
ScpService& Service() {
  static ScpService* service = [] {
#ifdef _WIN32
    _putenv_s("EVTLIB03_LOG", "NUL");
#else
    setenv("EVTLIB03_LOG", "/dev/null", 1);
#endif
    return new ScpService(plat::ThisModule());
  }();
  return *service;
}

std::unique_ptr<TestRecord> MakeRecord(const Shape& shape) {
  auto record = std::make_unique<TestRecord>();
  auto* wave = new EcgWaveform(shape.leads, shape.samples, shape.rate, 5000, Slots(shape.leads));
  for (uint32_t k = 0; k < shape.leads; ++k) {
    rhythm_fixtures::SyntheticEcg ecg(shape.rate, k);
    int16_t* a = wave->Channel(k);
    for (uint32_t n = 0; n < shape.samples; ++n) a[n] = ecg(n);
  }
  record->SetWaveform(wave);
  return record;
}

uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

void Report(benchmark::State& state, const Shape& shape, uint64_t fileBytes) {
  const auto iterations = static_cast<int64_t>(state.iterations());
  state.SetBytesProcessed(iterations * static_cast<int64_t>(fileBytes));
  state.SetItemsProcessed(iterations * shape.leads * static_cast<int64_t>(shape.samples));
  state.counters["file_MB"] = static_cast<double>(fileBytes) / 1e6;
  state.counters["bits_per_sample"] = 8.0 * static_cast<double>(fileBytes) / (double(shape.leads) * shape.samples);
}

void Save(benchmark::State& state, const Shape& shape) {
  const std::unique_ptr<TestRecord> record = MakeRecord(shape);
  const std::string path = PathFor(shape);
  for (auto _ : state) {
    if (Service().SaveTestRecord(record.get(), path.c_str()) != 1) {
      state.SkipWithError("save failed");
      break;
    }
  }
  Report(state, shape, FileSize(path));
}

void Fetch(benchmark::State& state, const Shape& shape) {
  const std::string path = PathFor(shape);
  {
    const std::unique_ptr<TestRecord> source = MakeRecord(shape);
    if (Service().SaveTestRecord(source.get(), path.c_str()) != 1) {
      state.SkipWithError("save failed");
      return;
    }
  }
  TestRecord record;
  record.SetWaveform(new EcgWaveform(shape.leads, shape.samples, shape.rate, 5000, Slots(shape.leads)));
  for (auto _ : state) {
    record.SetFilePath(path.c_str());
    record.GetWaveform()->SetValidSampleCount(0);
    if (Service().FetchTest(&record) != 1 || record.GetWaveform()->GetValidSampleCount() != shape.samples) {
      state.SkipWithError("fetch failed");
      break;
    }
  }
  // Spot check: the last sample of the last lead came back.
  rhythm_fixtures::SyntheticEcg ecg(shape.rate, shape.leads - 1);
  if (record.GetWaveform()->Channel(shape.leads - 1)[shape.samples - 1] != ecg(shape.samples - 1))
    state.SkipWithError("fetched samples differ");
  Report(state, shape, FileSize(path));
}

}  // namespace

BENCHMARK_CAPTURE(Save, resting12, kResting)->Name("save/resting12")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Fetch, resting12, kResting)->Name("fetch/resting12")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Save, holter24h, kHolter)->Name("save/holter24h")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(Fetch, holter24h, kHolter)->Name("fetch/holter24h")->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
