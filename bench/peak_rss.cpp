// Peak memory of one save or one fetch through the plug-in's exports, in a
// process of its own so that no other benchmark's allocations show up:
//
//   peak_rss save  resting12|holter24h|holter1h    writes the record's file
//   peak_rss fetch resting12|holter24h|holter1h    reads it back (save it first)
//
// Prints one JSON object: the maximum resident set size before and after
// the operation (the record, its waveform and the loaded plug-in are in
// the first figure), their difference, and for comparison the record
// buffer a save asks for, the waveform's bytes and the file's bytes.
#include <sys/resource.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bench/bench_support.h"

namespace {

uint64_t MaxRssBytes() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

int Usage() {
  std::fprintf(stderr, "usage: peak_rss save|fetch resting12|holter24h|holter1h\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Usage();
  const std::string op = argv[1];
  const benchsupport::Shape* shape = benchsupport::ShapeNamed(argv[2]);
  if (shape == nullptr || (op != "save" && op != "fetch")) return Usage();

  benchsupport::Plugin& plugin = benchsupport::ThePlugin();
  if (!plugin.Ok()) {
    std::fprintf(stderr, "peak_rss: the plug-in could not be loaded\n");
    return 1;
  }
  const std::string path = benchsupport::PathFor(*shape);
  std::unique_ptr<TestRecord> record =
      op == "save" ? benchsupport::MakeRecord(*shape) : benchsupport::MakeFetchTarget(*shape);
  EcgWaveform* wave = record->GetWaveform();
  if (wave == nullptr || !wave->HasStorage()) {
    std::fprintf(stderr, "peak_rss: no waveform storage\n");
    return 1;
  }
  // A host's waveform is resident before it fetches into it: write every
  // page so that the fetch is not charged for the host's memory.
  if (op == "fetch") std::memset(wave->sampleStorage, 0xA5, wave->storageSize);
  record->SetFilePath(path.c_str());

  const uint64_t before = MaxRssBytes();
  // The only operation of the process: what a host that opens one record
  // pays, first touches of fresh memory included.
  const auto start = std::chrono::steady_clock::now();
  bool ok = false;
  if (op == "save") {
    ok = plugin.save(record.get(), path.c_str()) == 1;
  } else {
    ok = plugin.fetch(record.get()) == 1;
  }
  const double millis = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const uint64_t after = MaxRssBytes();
  // Checked after the figures: the check keeps copies of the leads' tiles.
  if (op == "fetch") ok = ok && benchsupport::SpotCheck(*record, *shape);

  std::printf(
      "{\"op\": \"%s\", \"shape\": \"%s\", \"ok\": %s, \"baseline_rss_bytes\": %" PRIu64
      ", \"peak_rss_bytes\": %" PRIu64 ", \"operation_rss_bytes\": %" PRIu64
      ", \"record_buffer_bytes\": %u, \"waveform_bytes\": %u, \"file_bytes\": %" PRIu64
      ", \"operation_ms\": %.3f}\n",
      op.c_str(), shape->name, ok ? "true" : "false", before, after, after - before,
      record->EstimateRecordBufferSize(), EcgWaveform::kHeaderBytes + wave->storageSize,
      benchsupport::FileSize(path), millis);
  return ok ? 0 : 1;
}
