// A synthetic resting ECG for the demo: a heart dipole moving through P,
// QRS and T, seen by the eight independent leads of a 12-lead recording
// (I, II, V1..V6; III, aVR, aVL and aVF follow from I and II), with sinus
// arrhythmia, respiration, baseline wander and front-end noise.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class TestRecord;

namespace scpecg {

struct SynthEcg {
  uint32_t samplingRate = 500;      // Hz
  uint32_t resolutionNv = 5000;     // nV per sample unit
  uint32_t samplesPerLead = 0;
  // Channels 0..7: I, II, V1, V2, V3, V4, V5, V6, in sample units.
  std::vector<std::vector<int16_t>> leads;
  // R-peak times within the recording, seconds.
  std::vector<double> beats;
  double meanRateBpm = 0;
  double axisDegrees = 0;  // frontal QRS axis
};

// Deterministic for a seed.
SynthEcg SynthesizeRestingEcg(double seconds, uint64_t seed);

// The demo's test record: demographics, the waveform, an interpretation and
// a few manufacturer sub-records (per-beat annotations, an episode, a heart
// rate trend, a blood pressure reading, the audit trail entry).
std::unique_ptr<TestRecord> BuildDemoRecord(const SynthEcg& ecg);

}  // namespace scpecg
