// Deterministic test signals for the sample codec: a P-QRS-T synthesizer,
// random walks and white noise. Header-only so that benchmarks can use it
// without the test support library.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ecgsynth {

// splitmix64: small, fast and the same on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  // Uniform integer in [lo, hi].
  int64_t Between(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  // Standard normal (Box-Muller, one of the pair).
  double Normal() {
    const double u = 1.0 - Uniform();
    const double v = Uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
  }

 private:
  uint64_t state_;
};

struct EcgShape {
  double rateHz = 500;            // samples per second
  double microvoltsPerUnit = 5;   // amplitude resolution
  double heartRateBpm = 72;
  double gain = 1.0;              // lead-dependent scaling of the complex
  double noiseMicrovolts = 10;    // front-end noise; about half of it is left after smoothing
  double wanderMicrovolts = 60;   // respiratory baseline wander
  double mainsMicrovolts = 2;     // 50 Hz interference
  double artifactsPerMinute = 0;  // motion artifacts (Holter)
  uint64_t seed = 1;
};

// 500 Hz, 5 uV: a resting 12-lead recording.
inline EcgShape RestingEcg(uint64_t seed = 1) {
  EcgShape shape;
  shape.seed = seed;
  return shape;
}

// 200 Hz, 5 uV, an ambulatory recording with more wander, noise and motion.
inline EcgShape HolterEcg(uint64_t seed = 1) {
  EcgShape shape;
  shape.rateHz = 200;
  shape.heartRateBpm = 84;
  shape.noiseMicrovolts = 8;
  shape.wanderMicrovolts = 150;
  shape.mainsMicrovolts = 0;
  shape.artifactsPerMinute = 4;
  shape.seed = seed;
  return shape;
}

// A sum of Gaussian waves per beat (P, Q, R, S, T) on beat times with
// respiratory variation, plus wander, mains hum, smoothed noise and, when
// asked, motion artifacts. Values are clamped to 16 bits.
inline std::vector<int16_t> SynthesizeEcg(const EcgShape& shape, size_t count) {
  struct Wave {
    double offset, millivolts, width;  // seconds, mV, seconds
  };
  static constexpr Wave kWaves[] = {
      {-0.20, 0.15, 0.025}, {-0.035, -0.10, 0.010}, {0.0, 1.20, 0.011},
      {0.035, -0.25, 0.010}, {0.25, 0.30, 0.045},
  };
  Random random(shape.seed);
  const double duration = static_cast<double>(count) / shape.rateHz;
  const double meanRr = 60.0 / shape.heartRateBpm;

  std::vector<double> beats;
  for (double t = 0.3; t < duration + 1.0;) {
    beats.push_back(t);
    const double rr = meanRr * (1.0 + 0.05 * std::sin(6.283185307179586 * 0.25 * t)) +
                      0.01 * random.Normal();
    t += rr < 0.3 ? 0.3 : rr;
  }
  std::vector<double> artifacts;  // start times, each lasting 0.5 s
  const double artifactCount = shape.artifactsPerMinute * duration / 60.0;
  for (int i = 0; i < static_cast<int>(artifactCount + 0.5); ++i) artifacts.push_back(random.Uniform() * duration);

  std::vector<int16_t> out(count);
  size_t beat = 0;
  double smoothed = 0;
  for (size_t n = 0; n < count; ++n) {
    const double t = static_cast<double>(n) / shape.rateHz;
    while (beat + 1 < beats.size() && beats[beat + 1] <= t) ++beat;
    double uv = 0;
    for (size_t b = beat > 0 ? beat - 1 : 0; b < beats.size() && b <= beat + 1; ++b) {
      for (const Wave& w : kWaves) {
        const double x = (t - beats[b] - w.offset) / w.width;
        if (x > -6 && x < 6) uv += 1000.0 * shape.gain * w.millivolts * std::exp(-0.5 * x * x);
      }
    }
    uv += shape.wanderMicrovolts * std::sin(6.283185307179586 * 0.3 * t + 0.7);
    uv += shape.mainsMicrovolts * std::sin(6.283185307179586 * 50.0 * t);
    for (double start : artifacts) {
      const double x = t - start;
      if (x >= 0 && x < 0.5) uv += 400.0 * std::sin(6.283185307179586 * 3.0 * x) * (0.5 - x);
    }
    // The front end's anti-aliasing filter: first-order smoothing of the noise.
    smoothed = 0.6 * smoothed + 0.4 * shape.noiseMicrovolts * random.Normal();
    uv += smoothed;
    double units = std::round(uv / shape.microvoltsPerUnit);
    if (units > 32767) units = 32767;
    if (units < -32768) units = -32768;
    out[n] = static_cast<int16_t>(units);
  }
  return out;
}

// Steps drawn uniformly from [-maxStep, maxStep], wrapping at 16 bits.
inline std::vector<int16_t> RandomWalk(size_t count, int maxStep, uint64_t seed) {
  Random random(seed);
  std::vector<int16_t> out(count);
  uint16_t x = static_cast<uint16_t>(random.Next());
  for (size_t n = 0; n < count; ++n) {
    x = static_cast<uint16_t>(x + random.Between(-maxStep, maxStep));
    out[n] = static_cast<int16_t>(x);
  }
  return out;
}

// Independent samples over the full 16-bit range.
inline std::vector<int16_t> WhiteNoise(size_t count, uint64_t seed) {
  Random random(seed);
  std::vector<int16_t> out(count);
  for (auto& v : out) v = static_cast<int16_t>(static_cast<uint16_t>(random.Next() >> 48));
  return out;
}

}  // namespace ecgsynth
