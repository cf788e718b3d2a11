// An archive scan: ISVALIDFORMAT, through the plug-in's exports, over a
// folder of 1,000 small records in the RAM-backed folder, as a workstation
// runs it to list what it can open. items_per_second is files per second.
//
// The records are resting ECGs of 1 to 12 leads and 1 to 10 s at 500 Hz,
// written once by SAVETESTRECORD before timing.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

constexpr int kFiles = 1000;

struct Entry {
  std::string path;
  benchsupport::Shape shape;
};

// The archive, written on first use; empty when a save failed.
const std::vector<Entry>& Archive() {
  static const std::vector<Entry> archive = [] {
    std::vector<Entry> out;
    benchsupport::Plugin& plugin = benchsupport::ThePlugin();
    if (!plugin.Ok()) return out;
    const std::string dir = benchsupport::RamFolder() + "/scp_bench_archive";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (int i = 0; i < kFiles; ++i) {
      const uint32_t leads = 1 + static_cast<uint32_t>(i % 12);
      const uint32_t seconds = 1 + static_cast<uint32_t>((i / 12) % 10);
      Entry e{dir + "/rec" + std::to_string(i) + ".scp", {"scan", leads, 500, 500 * seconds}};
      const std::unique_ptr<TestRecord> record = benchsupport::MakeRecord(e.shape);
      if (plugin.save(record.get(), e.path.c_str()) != 1) return std::vector<Entry>{};
      out.push_back(std::move(e));
    }
    return out;
  }();
  return archive;
}

void Scan(benchmark::State& state) {
  const std::vector<Entry>& archive = Archive();
  if (archive.size() != kFiles) {
    state.SkipWithError("archive could not be written");
    return;
  }
  uint64_t archiveBytes = 0;
  for (const Entry& e : archive) archiveBytes += benchsupport::FileSize(e.path);
  const auto isValid = benchsupport::ThePlugin().isValid;
  int64_t wrong = 0;
  for (auto _ : state) {
    for (const Entry& e : archive) {
      ValidFormatInfo info{};
      if (isValid(e.path.c_str(), &info) != 1 || info.leadCount != e.shape.leads ||
          info.longestLead != e.shape.samples)
        ++wrong;
    }
  }
  if (wrong != 0) state.SkipWithError("a record was not recognized with its shape");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFiles);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(archiveBytes));
  state.counters["files"] = kFiles;
  state.counters["mean_file_bytes"] = static_cast<double>(archiveBytes) / kFiles;
}

}  // namespace

BENCHMARK(Scan)->Name("isvalidformat/archive1000")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
