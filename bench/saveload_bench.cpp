// Whole-record save and fetch end to end through the plug-in's exports
// (SAVETESTRECORD, FETCHTEST on libscpsrv.so loaded at run time), for two
// waveforms:
//   resting12  12 leads, 500 Hz, 10 s (5,000 samples per lead, 1 MB buffer)
//   holter24h  3 leads, 200 Hz, 24 h (17,280,000 samples per lead, 4-byte
//              counts, 128,000,000-byte buffer)
// and, beside the Holter record, what moving its file's bytes costs at
// least: memcpy, and a plain write and read of a file of that size in the
// same folder. Files go to a RAM-backed folder (see RamFolder), so the
// figures are the codec's and not a disk's. bytes_per_second counts the
// file's bytes, items_per_second the samples of all leads.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

using benchsupport::Shape;
using benchsupport::ThePlugin;

// Saves the shape's record once per process and gives the file's size
// (0 when the save failed), so that every benchmark of a shape sees the
// same file.
uint64_t SavedFileBytes(const Shape& shape) {
  static std::map<std::string, uint64_t> saved;
  auto it = saved.find(shape.name);
  if (it != saved.end()) return it->second;
  uint64_t bytes = 0;
  if (ThePlugin().Ok()) {
    const std::string path = benchsupport::PathFor(shape);
    const std::unique_ptr<TestRecord> record = benchsupport::MakeRecord(shape);
    if (ThePlugin().save(record.get(), path.c_str()) == 1) bytes = benchsupport::FileSize(path);
  }
  saved[shape.name] = bytes;
  return bytes;
}

void Report(benchmark::State& state, const Shape& shape, uint64_t fileBytes) {
  const auto iterations = static_cast<int64_t>(state.iterations());
  state.SetBytesProcessed(iterations * static_cast<int64_t>(fileBytes));
  state.SetItemsProcessed(iterations * shape.leads * static_cast<int64_t>(shape.samples));
  state.counters["file_bytes"] = static_cast<double>(fileBytes);
  state.counters["bits_per_sample"] = 8.0 * static_cast<double>(fileBytes) / (double(shape.leads) * shape.samples);
}

void Save(benchmark::State& state, const Shape& shape) {
  if (!ThePlugin().Ok()) {
    state.SkipWithError("plug-in not loaded");
    return;
  }
  const std::unique_ptr<TestRecord> record = benchsupport::MakeRecord(shape);
  const std::string path = benchsupport::PathFor(shape);
  for (auto _ : state) {
    if (ThePlugin().save(record.get(), path.c_str()) != 1) {
      state.SkipWithError("save failed");
      break;
    }
  }
  Report(state, shape, benchsupport::FileSize(path));
}

void Fetch(benchmark::State& state, const Shape& shape) {
  const uint64_t fileBytes = SavedFileBytes(shape);
  if (fileBytes == 0) {
    state.SkipWithError("save failed");
    return;
  }
  const std::string path = benchsupport::PathFor(shape);
  const std::unique_ptr<TestRecord> record = benchsupport::MakeFetchTarget(shape);
  for (auto _ : state) {
    record->SetFilePath(path.c_str());
    record->GetWaveform()->SetValidSampleCount(0);
    if (ThePlugin().fetch(record.get()) != 1) {
      state.SkipWithError("fetch failed");
      break;
    }
  }
  if (!benchsupport::SpotCheck(*record, shape)) state.SkipWithError("fetched samples differ");
  Report(state, shape, fileBytes);
}

// ------------------------------------------------- the physical limit
// Two sizes: the shape's file (what the codec's output costs to move), and
// the samples as the record holds them, 16 bits each (what a host storing
// the waveform plainly would write and read). Both buffers are allocated
// and touched before timing.

enum class Size { File, Samples };

uint64_t BytesFor(const Shape& shape, Size size) {
  const uint64_t fileBytes = SavedFileBytes(shape);
  if (fileBytes == 0) return 0;
  return size == Size::File ? fileBytes : uint64_t{shape.leads} * shape.samples * 2u;
}

void Memcpy(benchmark::State& state, const Shape& shape, Size size) {
  const uint64_t bytes = BytesFor(shape, size);
  if (bytes == 0) {
    state.SkipWithError("save failed");
    return;
  }
  std::vector<uint8_t> from(bytes, 0x5A), to(bytes, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// fopen, one fwrite of the whole buffer, fclose: what a save's file step
// costs without encoding, over the same file replaced each time.
void PlainWrite(benchmark::State& state, const Shape& shape, Size size) {
  const uint64_t bytes = BytesFor(shape, size);
  if (bytes == 0) {
    state.SkipWithError("save failed");
    return;
  }
  std::vector<uint8_t> data(bytes, 0x5A);
  const std::string path = benchsupport::RamFolder() + "/scp_bench_plain_" + shape.name + ".bin";
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (f != nullptr && std::fclose(f) != 0) ok = false;
    if (!ok) {
      state.SkipWithError("plain write failed");
      break;
    }
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// fopen, one fread of the whole file, fclose: the saved record itself, or a
// plain file of the samples' size written before timing.
void PlainRead(benchmark::State& state, const Shape& shape, Size size) {
  const uint64_t bytes = BytesFor(shape, size);
  if (bytes == 0) {
    state.SkipWithError("save failed");
    return;
  }
  std::vector<uint8_t> data(bytes, 0x5A);
  std::string path = benchsupport::PathFor(shape);
  if (size == Size::Samples) {
    path = benchsupport::RamFolder() + "/scp_bench_samples_" + shape.name + ".bin";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const bool ok = f != nullptr && std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (f != nullptr) std::fclose(f);
    if (!ok) {
      state.SkipWithError("plain file not written");
      return;
    }
  }
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    const bool ok = f != nullptr && std::fread(data.data(), 1, data.size(), f) == data.size();
    if (f != nullptr) std::fclose(f);
    if (!ok) {
      state.SkipWithError("plain read failed");
      break;
    }
    benchmark::DoNotOptimize(data.data());
    benchmark::ClobberMemory();
  }
  if (size == Size::Samples) std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

}  // namespace

using benchsupport::kHolter;
using benchsupport::kResting;

BENCHMARK_CAPTURE(Save, resting12, kResting)->Name("save/resting12")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Fetch, resting12, kResting)->Name("fetch/resting12")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Save, holter24h, kHolter)->Name("save/holter24h")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(Fetch, holter24h, kHolter)->Name("fetch/holter24h")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(Memcpy, holter24h, kHolter, Size::File)->Name("memcpy/holter24h")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainWrite, holter24h, kHolter, Size::File)->Name("plain_write/holter24h")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainRead, holter24h, kHolter, Size::File)->Name("plain_read/holter24h")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Memcpy, holter24h_samples, kHolter, Size::Samples)
    ->Name("memcpy_samples/holter24h")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainWrite, holter24h_samples, kHolter, Size::Samples)
    ->Name("plain_write_samples/holter24h")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainRead, holter24h_samples, kHolter, Size::Samples)
    ->Name("plain_read_samples/holter24h")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
