// Deterministic ECG-like test signals for the rhythm round trips and the
// save/load benchmark.
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
