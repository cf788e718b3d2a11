// What the whole-operation benchmarks share: the plug-in loaded the way a
// host loads it, the two record shapes with their synthetic leads, and the
// RAM-backed folder the files go to.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "platform/platform.h"
#include "scp/scpsrv.h"
#include "tests/support/ecg_synth.h"

namespace benchsupport {

struct Shape {
  const char* name;
  uint32_t leads;
  uint32_t rate;
  uint32_t samples;
};

// 12 leads, 500 Hz, 10 s.
inline constexpr Shape kResting{"resting12", 12, 500, 5000};
// 3 leads, 200 Hz, 24 h: 17,280,000 samples per lead.
inline constexpr Shape kHolter{"holter24h", 3, 200, 200 * 86400};

// 3 leads, 200 Hz, 1 h: the Holter record's code paths (same buffer size,
// 4-byte counts) at a size that a profiler under valgrind gets through.
inline constexpr Shape kHolterHour{"holter1h", 3, 200, 200 * 3600};

inline const Shape* ShapeNamed(const std::string& name) {
  for (const Shape* s : {&kResting, &kHolter, &kHolterHour})
    if (name == s->name) return s;
  return nullptr;
}

inline std::vector<uint8_t> Slots(uint32_t n) {
  std::vector<uint8_t> v(n);
  for (uint32_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i);
  return v;
}

// SCP_BENCH_DIR when set (bench/run makes a private folder there), else
// /dev/shm, else the temp folder: the figures should be the library's and
// the kernel's, not a disk's.
inline std::string RamFolder() {
  if (const char* dir = std::getenv("SCP_BENCH_DIR"); dir != nullptr && *dir != '\0') return dir;
  std::error_code ec;
  if (std::filesystem::is_directory("/dev/shm", ec)) return "/dev/shm";
  return std::filesystem::temp_directory_path().string();
}

inline std::string PathFor(const Shape& shape) { return RamFolder() + "/scp_bench_" + shape.name + ".scp"; }

inline uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

// Lead k of a shape: a resting ECG at 500 Hz, an ambulatory one at 200 Hz
// (beat-to-beat variation, noise, motion artifacts), each lead its own seed
// and gain. A strictly periodic beat would let the processor's branch
// predictor learn where every escape code falls, as no recording allows.
// Synthesized once, kTileSamples long, and repeated: a day of synthesis
// takes minutes, and a repeat every 11 minutes (at 200 Hz) is far beyond
// what a predictor learns.
inline constexpr uint32_t kTileSamples = 1u << 17;

inline const std::vector<int16_t>& LeadTile(const Shape& shape, uint32_t k) {
  static std::map<std::pair<const Shape*, uint32_t>, std::vector<int16_t>> tiles;
  std::vector<int16_t>& tile = tiles[{&shape, k}];
  if (tile.empty()) {
    ecgsynth::EcgShape lead = shape.rate >= 500 ? ecgsynth::RestingEcg(7 + k) : ecgsynth::HolterEcg(7 + k);
    lead.rateHz = shape.rate;
    lead.gain = (k % 3 == 2 ? -1.0 : 1.0) * (0.6 + 0.15 * (k % 5));
    tile = ecgsynth::SynthesizeEcg(lead, std::min(shape.samples, kTileSamples));
  }
  return tile;
}

// A record with the shape's waveform filled with synthetic ECG.
inline std::unique_ptr<TestRecord> MakeRecord(const Shape& shape) {
  auto record = std::make_unique<TestRecord>();
  auto* wave = new EcgWaveform(shape.leads, shape.samples, shape.rate, 5000, Slots(shape.leads));
  for (uint32_t k = 0; k < shape.leads; ++k) {
    const std::vector<int16_t>& tile = LeadTile(shape, k);
    int16_t* a = wave->Channel(k);
    for (uint32_t n = 0; n < shape.samples; n += kTileSamples)
      std::copy_n(tile.begin(), std::min<size_t>(tile.size(), shape.samples - n), a + n);
  }
  record->SetWaveform(wave);
  return record;
}

// A record with an empty waveform of the shape, as a host attaches one
// before a fetch.
inline std::unique_ptr<TestRecord> MakeFetchTarget(const Shape& shape) {
  auto record = std::make_unique<TestRecord>();
  record->SetWaveform(new EcgWaveform(shape.leads, shape.samples, shape.rate, 5000, Slots(shape.leads)));
  return record;
}

// Whether the fetched waveform holds what MakeRecord put in: every sample
// of every lead.
inline bool SpotCheck(const TestRecord& record, const Shape& shape) {
  const EcgWaveform* wave = record.GetWaveform();
  if (wave == nullptr || wave->GetValidSampleCount() != shape.samples) return false;
  for (uint32_t k = 0; k < shape.leads; ++k) {
    const std::vector<int16_t>& tile = LeadTile(shape, k);
    const int16_t* a = wave->Channel(k);
    if (a == nullptr) return false;
    for (uint32_t n = 0; n < shape.samples; n += kTileSamples)
      if (!std::equal(tile.begin(), tile.begin() + std::min<size_t>(tile.size(), shape.samples - n), a + n))
        return false;
  }
  return true;
}

// libscpsrv.so (scpsrv.dll) resolved by its exports and started, as a
// workstation does; stopped and unloaded on destruction. Log lines go to
// the null device unless EVTLIB03_LOG already names a file.
class Plugin {
 public:
  using SaveFn = int32_t(SCP_STDCALL*)(TestRecord*, const char*);
  using FetchFn = int32_t(SCP_STDCALL*)(TestRecord*);
  using ValidFn = int32_t(SCP_STDCALL*)(const char*, ValidFormatInfo*);
  using VoidFn = void(SCP_STDCALL*)();

  Plugin() {
#ifdef _WIN32
    if (std::getenv("EVTLIB03_LOG") == nullptr) _putenv_s("EVTLIB03_LOG", "NUL");
#else
    setenv("EVTLIB03_LOG", "/dev/null", 0);
#endif
    module_ = plat::LoadLibrary("scpsrv.dll");
    if (module_ == nullptr) return;
    start_ = Resolve<VoidFn>("LIBSTART");
    stop_ = Resolve<VoidFn>("LIBSTOP");
    save = Resolve<SaveFn>("SAVETESTRECORD");
    fetch = Resolve<FetchFn>("FETCHTEST");
    isValid = Resolve<ValidFn>("ISVALIDFORMAT");
    if (Ok()) start_();
  }
  ~Plugin() {
    if (Ok()) stop_();
    plat::FreeLibrary(module_);
  }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  bool Ok() const { return start_ && stop_ && save && fetch && isValid; }

  SaveFn save = nullptr;
  FetchFn fetch = nullptr;
  ValidFn isValid = nullptr;

 private:
  template <typename F>
  F Resolve(const char* name) {
    return reinterpret_cast<F>(plat::GetProcAddress(module_, name));
  }

  plat::ModuleHandle module_ = nullptr;
  VoidFn start_ = nullptr;
  VoidFn stop_ = nullptr;
};

// One plug-in for the whole process, as a host keeps it between LIBSTART
// and LIBSTOP.
inline Plugin& ThePlugin() {
  static Plugin plugin;
  return plugin;
}

}  // namespace benchsupport
