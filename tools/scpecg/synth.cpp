#include "tools/scpecg/synth.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "lib/dbclient/testrecord.h"

namespace scpecg {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// splitmix64: the same numbers on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  double Normal() {
    const double u = 1.0 - Uniform();
    const double v = Uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(kTwoPi * v);
  }

 private:
  uint64_t state_;
};

struct Vec3 {
  double x, y, z;  // left, inferior, anterior
};
double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// One wave of the cardiac cycle: a Gaussian bump of the dipole along a
// direction, centred at an offset from the R peak. T is asymmetric (slow
// rise, faster fall), so it has a width on either side.
struct Wave {
  Vec3 direction;
  double millivolts;
  double offset;      // s from the R peak; T is scaled with the RR interval
  double widthBefore; // s
  double widthAfter;  // s
  bool repolarization;
};

// The QRS loop turns counter-clockwise in the horizontal plane: septal
// forces to the right and forward, then the left ventricle first forward
// and left, then left and back, and last the basal forces up and back.
constexpr Wave kWaves[] = {
    {{0.45, 0.80, 0.10}, 0.15, -0.165, 0.022, 0.022, false},    // P: atria, leftward and down
    {{-0.60, 0.10, 0.80}, 0.14, -0.030, 0.008, 0.008, false},   // q: septum, rightward and forward
    {{0.40, 0.50, 0.40}, 0.80, -0.010, 0.010, 0.010, false},    // early R: apex, forward
    {{0.60, 0.50, -0.60}, 1.00, 0.008, 0.010, 0.010, false},    // late R: lateral wall, backward
    {{-0.40, -0.50, -0.40}, 0.30, 0.030, 0.010, 0.012, false},  // S: basal forces
    {{0.50, 0.55, 0.45}, 0.32, 0.270, 0.070, 0.045, true},      // T
};

struct Lead {
  Vec3 axis;
  double gain;
};

// I and II in the frontal plane; V1..V6 around the chest, closer to the
// heart and so with more gain.
Lead MakePrecordial(double degrees, double gain) {
  const double a = degrees * std::numbers::pi / 180.0;
  return {{std::cos(a), 0.15, std::sin(a)}, gain};
}

}  // namespace

SynthEcg SynthesizeRestingEcg(double seconds, uint64_t seed) {
  SynthEcg ecg;
  Random random(seed);
  const uint32_t rate = ecg.samplingRate;
  const uint32_t n = static_cast<uint32_t>(std::lround(seconds * rate));
  ecg.samplesPerLead = n;

  const Lead leads[8] = {
      {{1.0, 0.0, 0.0}, 1.0},        // I
      {{0.5, 0.866, 0.0}, 1.0},      // II
      MakePrecordial(115, 1.5),      // V1
      MakePrecordial(95, 2.4),       // V2
      MakePrecordial(75, 2.4),       // V3
      MakePrecordial(55, 2.4),       // V4
      MakePrecordial(30, 2.2),       // V5
      MakePrecordial(10, 1.8),       // V6
  };

  // Sinus rhythm near 70/min with respiratory sinus arrhythmia.
  const double meanRr = 60.0 / 70.0;
  const double respirationHz = 0.23 + 0.04 * random.Uniform();
  const double respirationPhase = kTwoPi * random.Uniform();
  std::vector<double> beats, rrs;
  for (double t = 0.38 + 0.1 * random.Uniform(); t < seconds + 1.5;) {
    const double rr = meanRr * (1.0 + 0.045 * std::sin(kTwoPi * respirationHz * t + respirationPhase)) +
                      0.008 * random.Normal();
    beats.push_back(t);
    rrs.push_back(rr);
    t += rr;
  }
  double rrSum = 0;
  int rrCount = 0;
  for (size_t b = 0; b < beats.size(); ++b) {
    if (beats[b] < seconds) ecg.beats.push_back(beats[b]);
    if (b + 1 < beats.size() && beats[b + 1] < seconds) {
      rrSum += beats[b + 1] - beats[b];
      ++rrCount;
    }
  }
  ecg.meanRateBpm = rrCount > 0 ? 60.0 * rrCount / rrSum : 70.0;

  // Per-lead baseline wander (respiration and slow electrode drift) and noise.
  double wanderUv[8], wanderPhase[8], driftPhase[8];
  for (int l = 0; l < 8; ++l) {
    wanderUv[l] = 35 + 35 * random.Uniform();
    wanderPhase[l] = kTwoPi * random.Uniform();
    driftPhase[l] = kTwoPi * random.Uniform();
  }

  ecg.leads.assign(8, std::vector<int16_t>(n));
  double smoothed[8] = {};
  double qrsI = 0, qrsAvf = 0;
  size_t beat = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    while (beat + 1 < beats.size() && beats[beat + 1] <= t) ++beat;
    // Breathing moves the heart: amplitude and axis sway a little.
    const double breath = std::sin(kTwoPi * respirationHz * t + respirationPhase);
    Vec3 dipole{0, 0, 0};
    Vec3 qrsDipole{0, 0, 0};
    for (size_t b = beat > 0 ? beat - 1 : 0; b < beats.size() && b <= beat + 1; ++b) {
      const double qtScale = std::sqrt(rrs[b] / meanRr);
      for (const Wave& w : kWaves) {
        const double centre = beats[b] + w.offset * (w.repolarization ? qtScale : 1.0);
        const double dt = t - centre;
        const double width = dt < 0 ? w.widthBefore : w.widthAfter;
        const double x = dt / width;
        if (x < -6 || x > 6) continue;
        const double a = w.millivolts * (1.0 + 0.05 * breath) * std::exp(-0.5 * x * x);
        const Vec3 d{w.direction.x, w.direction.y + 0.06 * breath, w.direction.z};
        dipole.x += a * d.x;
        dipole.y += a * d.y;
        dipole.z += a * d.z;
        if (!w.repolarization && w.offset > -0.1) {
          qrsDipole.x += a * d.x;
          qrsDipole.y += a * d.y;
        }
      }
    }
    qrsI += qrsDipole.x;
    qrsAvf += qrsDipole.y;
    for (int l = 0; l < 8; ++l) {
      double uv = 1000.0 * leads[l].gain * Dot(dipole, leads[l].axis);
      uv += wanderUv[l] * std::sin(kTwoPi * respirationHz * t + wanderPhase[l]);
      uv += 0.6 * wanderUv[l] * std::sin(kTwoPi * 0.05 * t + driftPhase[l]);
      // Front-end noise after the anti-aliasing filter.
      smoothed[l] = 0.55 * smoothed[l] + 0.45 * 7.0 * random.Normal();
      uv += smoothed[l];
      double units = std::round(uv * 1000.0 / ecg.resolutionNv);
      if (units > 32767) units = 32767;
      if (units < -32768) units = -32768;
      ecg.leads[l][i] = static_cast<int16_t>(units);
    }
  }
  ecg.axisDegrees = std::atan2(qrsAvf, qrsI) * 180.0 / std::numbers::pi;
  return ecg;
}

std::unique_ptr<TestRecord> BuildDemoRecord(const SynthEcg& ecg) {
  auto record = std::make_unique<TestRecord>();
  TestRecord& r = *record;

  const DateTime acquired(2024, 5, 14, 9, 41, 7);
  r.SetAcquisitionDateTime(&acquired);
  const CalendarDate born{1961, 17, 4};  // year, day, month
  r.SetBirthDate(&born);                  // sets the age from the acquisition date
  r.SetPatientName("Anna", "", "Example");
  r.SetStoredPatientId("DEMO-0001");
  r.SetSex(2);
  r.SetHeight(6500);   // 65 in (1651 mm)
  r.SetWeight(14000);  // 140 lb (2240 oz)
  r.SetRace(0);
  r.SetRoom(12);
  r.SetReferringPhysician("Dr. R. Referrer");
  r.SetTechnician("T. Technician");
  r.SetDiagnosis("Routine pre-operative ECG");
  r.SetDrugs("none");
  r.SetDeviceName("scpecg demo synthesizer");
  r.SetDeviceSerial("0001");
  r.SetDeviceRevision("1");
  r.SetHighPassFilter(5);   // 0.05 Hz
  r.SetLowPassFilter(150);  // Hz
  r.SetFilterBitmap(0x2);   // 50 Hz notch
  r.SetProcedureType(1);

  const int rate = static_cast<int>(std::lround(ecg.meanRateBpm));
  const int axis = static_cast<int>(std::lround(ecg.axisDegrees));
  char line1[64], line2[64];
  std::snprintf(line1, sizeof line1, "Sinus rhythm, rate %d/min", rate);
  std::snprintf(line2, sizeof line2, "Normal QRS axis (%+d degrees)", axis);
  const std::string text = std::string(line1) + "\r\n" + line2 + "\r\nNormal ECG\r\n";
  const DateTime interpreted(2024, 5, 14, 9, 42, 0);
  r.SetOriginalInterpretation(&interpreted, text.c_str());
  r.SetOriginalInterpreter("scpecg demo");

  // The waveform: eight leads on channels 0..7.
  const uint8_t channels[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  auto* w = new EcgWaveform(8, ecg.samplesPerLead, ecg.samplingRate, ecg.resolutionNv, channels);
  for (int l = 0; l < 8 && w->HasStorage(); ++l)
    std::memcpy(w->Channel(static_cast<uint32_t>(l)), ecg.leads[static_cast<size_t>(l)].data(),
                ecg.samplesPerLead * sizeof(int16_t));
  w->SetValidSampleCount(ecg.samplesPerLead);
  r.SetWaveform(w);

  // One annotation per beat: its R-peak sample, a normal-beat code and the
  // RR interval before it in milliseconds.
  const uint32_t beats = static_cast<uint32_t>(ecg.beats.size());
  auto* annotations = new AnnotationList(beats);
  for (uint32_t b = 0; b < beats; ++b) {
    const double rr = b > 0 ? ecg.beats[b] - ecg.beats[b - 1] : 0.0;
    annotations->entries[b] = AnnotationEntry{static_cast<uint32_t>(std::lround(ecg.beats[b] * ecg.samplingRate)), 1,
                                              0, static_cast<uint16_t>(std::lround(rr * 1000))};
  }
  annotations->count = beats;
  annotations->valueA = beats;
  r.SetAnnotations(annotations);

  // Heart rate per beat, times in milliseconds.
  auto* trend = new TrendRecord(1);
  for (uint32_t b = 1; b < beats; ++b) {
    const int32_t bpm[1] = {static_cast<int32_t>(std::lround(60.0 / (ecg.beats[b] - ecg.beats[b - 1])))};
    trend->AddSample(static_cast<uint32_t>(std::lround(ecg.beats[b] * 1000)), bpm);
  }
  r.SetTrendAt(0, trend);

  auto* episodes = new EpisodeList(1, 0);
  episodes->entries[0] = EpisodeEntry{0, ecg.samplesPerLead * 1000 / ecg.samplingRate, static_cast<uint32_t>(rate),
                                      1, beats, nullptr, 0};
  episodes->SetText(0, "Sinus rhythm");
  episodes->count = 1;
  r.SetEpisodes(episodes);

  r.SetBloodPressure((124u << 16) | 79u);
  r.SetHeartRate(static_cast<uint32_t>(rate));
  auto* pressure = new BloodPressureData(1);
  pressure->readings[0].words[0] = 9 * 3600 + 38 * 60;  // taken at 09:38
  pressure->readings[0].words[1] = 124;                 // systolic
  pressure->readings[0].words[2] = 79;                  // diastolic
  pressure->readings[0].words[3] = 94;                  // mean
  pressure->readings[0].words[4] = static_cast<uint32_t>(rate);
  pressure->count = 1;
  r.SetBloodPressureDataRecord(pressure);

  AuditTrail* audit = r.GetAuditTrailRecord();
  if (audit != nullptr && audit->entries[0] != nullptr) {
    AuditEntry& e = *audit->entries[0];
    e.year = 2024;
    e.month = 5;
    e.day = 14;
    e.hour = 9;
    e.minute = 41;
    e.milliseconds = 17 * 1000;
    e.actionCode = 0;
    std::strncpy(e.text, "Recorded by scpecg demo", sizeof e.text);
    audit->SetCount(1);
  }
  r.ClearModified();
  return record;
}

}  // namespace scpecg
