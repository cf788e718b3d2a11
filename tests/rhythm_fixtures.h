// Helpers for the rhythm suites and the save/load benchmark: an SCP-ECG
// record builder and parser written independently of the library (its own
// CRC, its own layout code), and deterministic ECG-like test signals.
//
// Header-only and free of GoogleTest so that bench/ can use it too.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

namespace rhythm_fixtures {

// ------------------------------------------------------------ bytes

inline void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, static_cast<uint16_t>(x));
  Put16(v, static_cast<uint16_t>(x >> 16));
}
inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) { return Get16(p) | (static_cast<uint32_t>(Get16(p + 2)) << 16); }
inline void Set16(uint8_t* p, uint16_t x) {
  p[0] = static_cast<uint8_t>(x);
  p[1] = static_cast<uint8_t>(x >> 8);
}
inline void Set32(uint8_t* p, uint32_t x) {
  Set16(p, static_cast<uint16_t>(x));
  Set16(p + 2, static_cast<uint16_t>(x >> 16));
}

// CRC-CCITT, polynomial 0x1021, initial 0xFFFF, bit by bit.
inline uint16_t Crc(const uint8_t* p, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int b = 0; b < 8; ++b) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

// --------------------------------------------------------- records

// Section ids in pointer-table order, as this system lists them.
inline constexpr uint16_t kIds[33] = {0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  129, 130, 131, 133, 134,
                                      135, 136, 137, 138, 139, 140, 142, 143, 144, 145, 146, 147, 148, 149, 150, 151};

// Section data by id (without the 16-byte ID header). Lengths may be odd:
// the builder does not pad, so damaged layouts can be expressed.
using Sections = std::map<uint16_t, std::vector<uint8_t>>;

// A whole record: header, section 0 and the given sections in id order.
inline std::vector<uint8_t> BuildRecord(const Sections& sections) {
  std::vector<uint8_t> out(6 + 16 + 33 * 10, 0);
  struct Where {
    uint32_t length = 0, index = 0;
  };
  std::map<uint16_t, Where> where;
  for (const auto& [id, data] : sections) {
    std::vector<uint8_t> s;
    Put16(s, 0);
    Put16(s, id);
    Put32(s, static_cast<uint32_t>(16 + data.size()));
    s.push_back(13);
    s.push_back(13);
    for (char c : std::string_view("SCPECG")) s.push_back(static_cast<uint8_t>(c));
    s.insert(s.end(), data.begin(), data.end());
    Set16(s.data(), Crc(s.data() + 2, s.size() - 2));
    where[id] = {static_cast<uint32_t>(s.size()), static_cast<uint32_t>(out.size() + 1)};
    out.insert(out.end(), s.begin(), s.end());
  }
  uint8_t* s0 = out.data() + 6;
  Set16(s0 + 2, 0);
  Set32(s0 + 4, 16 + 33 * 10);
  s0[8] = 13;
  s0[9] = 13;
  std::memcpy(s0 + 10, "SCPECG", 6);
  for (int i = 0; i < 33; ++i) {
    uint8_t* e = s0 + 16 + 10 * i;
    Set16(e, kIds[i]);
    if (kIds[i] == 0) {
      Set32(e + 2, 16 + 33 * 10);
      Set32(e + 6, 7);
    } else if (auto it = where.find(kIds[i]); it != where.end()) {
      Set32(e + 2, it->second.length);
      Set32(e + 6, it->second.index);
    }
  }
  Set16(s0, Crc(s0 + 2, 16 + 33 * 10 - 2));
  Set32(out.data() + 2, static_cast<uint32_t>(out.size()));
  Set16(out.data(), Crc(out.data() + 2, out.size() - 2));
  return out;
}

// The data of every present section of a record, by the pointer table.
inline Sections ParseRecord(const std::vector<uint8_t>& record) {
  Sections out;
  if (record.size() < 22) return out;
  const uint32_t s0Length = Get32(record.data() + 6 + 4);
  for (uint32_t at = 6 + 16; at + 10 <= 6 + s0Length && at + 10 <= record.size(); at += 10) {
    const uint16_t id = Get16(record.data() + at);
    const uint32_t length = Get32(record.data() + at + 2);
    const uint32_t index = Get32(record.data() + at + 6);
    if (id == 0 || length < 16 || index == 0 || uint64_t{index} - 1 + length > record.size()) continue;
    const uint8_t* s = record.data() + index - 1;
    out[id].assign(s + 16, s + length);
  }
  return out;
}

// ------------------------------------------------------------ signals

// Deterministic ECG-like samples for one lead: a beat template at 72 beats
// per minute, a slow baseline wander and a little noise, in units of 5 µV.
// Cheap per sample, so that day-long Holter leads can be regenerated for
// checking instead of being kept.
class SyntheticEcg {
 public:
  SyntheticEcg(uint32_t rate, uint32_t lead) : lead_(lead) {
    const uint32_t period = rate * 60 / 72 > 0 ? rate * 60 / 72 : 1;
    beat_.resize(period);
    const double gain = (lead % 3 == 2 ? -1.0 : 1.0) * (0.6 + 0.15 * (lead % 5));
    auto wave = [](double t, double centre, double width, double height) {
      const double z = (t - centre) / width;
      return height * std::exp(-z * z);
    };
    for (uint32_t i = 0; i < period; ++i) {
      const double t = static_cast<double>(i) / rate;  // seconds into the beat
      const double mv = wave(t, 0.20, 0.025, 0.15) - wave(t, 0.29, 0.008, 0.12) + wave(t, 0.31, 0.010, 1.20) -
                        wave(t, 0.33, 0.010, 0.25) + wave(t, 0.55, 0.045, 0.30);
      beat_[i] = static_cast<int32_t>(std::lround(mv * gain * 200.0));  // 200 units per mV
    }
    wanderPeriod_ = rate * 7 > 0 ? rate * 7 : 1;
    phase_ = static_cast<uint64_t>(lead) * 13;
  }

  int16_t operator()(uint64_t n) const {
    const uint64_t m = n + phase_;
    const int32_t beat = beat_[m % beat_.size()];
    const uint32_t w = static_cast<uint32_t>(m % wanderPeriod_);
    const int32_t half = static_cast<int32_t>(wanderPeriod_ / 2);
    const int32_t wander = half ? (static_cast<int32_t>(w < wanderPeriod_ / 2 ? w : wanderPeriod_ - w) * 40) / half - 20
                                : 0;
    uint64_t h = (n + 1) * 0x9E3779B97F4A7C15ull ^ (uint64_t{lead_} << 40);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    static constexpr int32_t kNoise[4] = {-1, 0, 0, 1};
    return static_cast<int16_t>(beat + wander + kNoise[h & 3]);
  }

 private:
  std::vector<int32_t> beat_;
  uint32_t wanderPeriod_ = 1;
  uint64_t phase_ = 0;
  uint32_t lead_;
};

// Full-range pseudo-random samples: every value takes the long escape codes.
inline int16_t NoiseSample(uint64_t n, uint32_t seed) {
  uint64_t h = (n + 0x51ED27ull) * 0xD6E8FEB86659FD93ull ^ seed;
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return static_cast<int16_t>(h);
}

}  // namespace rhythm_fixtures
