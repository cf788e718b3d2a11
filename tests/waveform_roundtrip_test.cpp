// Whole waveforms through the plug-in's exports, as a host uses them: save a
// record, ask ISVALIDFORMAT for the rhythm shape, attach a waveform sized
// from it, fetch, and compare sample for sample. The day-long Holter record
// is one test of its own (name prefix Big: the sanitizer run leaves it out).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "rhythm_fixtures.h"
#include "support/plugin_cases.h"

using namespace rhythm_fixtures;

namespace {

// Lead on slot k: full-range noise for slot 11 (every escape code), the
// synthetic ECG elsewhere.
int16_t Sample(uint32_t rate, uint32_t k, uint64_t n, const SyntheticEcg& ecg) {
  return k == 11 ? NoiseSample(n, k) : ecg(n);
}

class WaveformRoundtrip : public PluginCases {
 protected:

  // Saves n leads of s samples on the given slots, then fetches them into a
  // waveform sized from ISVALIDFORMAT and checks every sample.
  void RoundTrip(uint32_t s, uint32_t rate, const std::vector<uint8_t>& slots, uint32_t expectedBuffer) {
    cap_.Clear();
    const std::string path = dir_.File("wave.scp");
    const uint32_t n = static_cast<uint32_t>(slots.size());
    {
      TestRecord record;
      auto* wave = new EcgWaveform(n, s, rate, 5000, slots);
      ASSERT_TRUE(wave->HasStorage());
      for (uint8_t k : slots) {
        SyntheticEcg ecg(rate, k);
        int16_t* a = wave->Channel(k);
        for (uint32_t i = 0; i < s; ++i) a[i] = Sample(rate, k, i, ecg);
      }
      record.SetWaveform(wave);
      EXPECT_EQ(record.EstimateRecordBufferSize(), expectedBuffer);
      ASSERT_EQ(save_(&record, path.c_str()), 1) << cap_.Dump();
    }
    EXPECT_TRUE(cap_.HasText("LOGINFORMATION", "SCP Save Test Record [" + path + "]"));
    EXPECT_EQ(cap_.Count("LOGOEMERROR"), 0u) << cap_.Dump();
    const std::string report = "SAVE: " + std::to_string(uint64_t{n} * s * 2) + ":";
    bool reported = false;
    for (const auto& l : cap_.Lines()) reported |= l.call == "LOGOEMMESSAGE" && l.text.rfind(report, 0) == 0;
    EXPECT_TRUE(reported) << cap_.Dump();

    ValidFormatInfo info;
    std::memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(check_(path.c_str(), &info), 1) << cap_.Dump();
    EXPECT_EQ(info.longestLead, s);
    EXPECT_EQ(info.samplingRate, rate);
    EXPECT_EQ(info.amplitudeMultiplier, 5000u);
    EXPECT_EQ(info.leadCount, n);
    // Leads are stored in ascending channel order, whatever the host's order.
    std::vector<uint8_t> sorted(slots);
    std::sort(sorted.begin(), sorted.end());
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(info.channel[i], i < n ? sorted[i] : 0xEEEEEEEEu) << i;

    // The host sizes its waveform from the summary; leads past the eighth
    // keep the slots it knows of.
    std::vector<uint8_t> wanted(sorted);
    for (uint32_t i = 0; i < n && i < 8; ++i) wanted[i] = static_cast<uint8_t>(info.channel[i]);
    TestRecord fetched;
    fetched.SetFilePath(path.c_str());
    fetched.SetWaveform(new EcgWaveform(info.leadCount, info.longestLead, info.samplingRate,
                                        info.amplitudeMultiplier, wanted));
    cap_.Clear();
    ASSERT_EQ(fetch_(&fetched), 1) << cap_.Dump();
    EXPECT_EQ(cap_.Count("LOGOEMERROR"), 0u) << cap_.Dump();
    const EcgWaveform* got = fetched.GetWaveform();
    EXPECT_EQ(got->GetValidSampleCount(), s);
    for (uint8_t k : slots) {
      SyntheticEcg ecg(rate, k);
      const int16_t* a = got->Channel(k);
      ASSERT_NE(a, nullptr);
      uint64_t wrong = 0, first = s;
      for (uint32_t i = 0; i < s; ++i) {
        if (a[i] != Sample(rate, k, i, ecg)) {
          if (first == s) first = i;
          ++wrong;
        }
      }
      EXPECT_EQ(wrong, 0u) << "slot " << int{k} << ", first wrong sample " << first;
    }
  }

};

// Twelve and fourteen leads; slots out of the host's order (the file lists
// them in ascending channel order, and each lead comes back on its own
// slot); and from 50,000 samples the large record buffer, with leads long
// enough for 4-byte counts.
TEST_F(WaveformRoundtrip, RestingScatteredAndTenMinuteHolter) {
  const uint32_t kS = TestRecord::kSmallBuffer, kL = TestRecord::kLargeBuffer;
  RoundTrip(5000, 500, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, kS);
  RoundTrip(5000, 500, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}, kS);
  RoundTrip(3000, 250, {13, 2, 9, 11}, kS);
  RoundTrip(200 * 600, 200, {0, 1, 2}, kL);
}

// 24 hours at 200 Hz on three leads: 17,280,000 samples per lead, 4-byte
// counts, a 128,000,000-byte record buffer.
TEST_F(WaveformRoundtrip, BigHolterTwentyFourHours) {
  RoundTrip(200 * 86400, 200, {0, 1, 2}, TestRecord::kLargeBuffer);
}

}  // namespace
