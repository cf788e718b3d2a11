// Section 6, rhythm data: the header and byte-count table as written, the
// 2/4-byte count rule, the save report, leads that do not fit, the reader's
// refusals and messages, the reference-beat (scaled copy) path, the rhythm
// summary, and damaged sections that must be read in bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "platform/platform.h"
#include "rhythm_fixtures.h"
#include "scp/lead_table.h"
#include "scp/sample_codec.h"
#include "scp/scpecg.h"
#include "scp/scpsrv.h"
#include "support/log_capture.h"
#include "support/test_util.h"

using namespace rhythm_fixtures;

namespace {

constexpr char kOem[] = "LOGOEMERROR";
constexpr char kMem[] = "LOGMEMORYERROR";
constexpr uint32_t kRate = 500;
constexpr uint32_t kResolution = 5000;
constexpr int16_t kUntouched = 0x5A5A;

std::vector<uint8_t> Slots(uint32_t n) {
  std::vector<uint8_t> v(n);
  for (uint32_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i);
  return v;
}

// Samples whose second differences are d (16-bit wrap), so that the coded
// size is known bit for bit.
std::vector<int16_t> FromDifferences(const std::vector<int16_t>& d) {
  std::vector<int16_t> x(d);
  for (size_t n = 2; n < x.size(); ++n) x[n] = static_cast<int16_t>(2 * x[n - 1] - x[n - 2] + d[n]);
  return x;
}

std::vector<int16_t> SecondDifferences(const std::vector<int16_t>& x) {
  std::vector<int16_t> d(x);
  for (size_t n = 2; n < x.size(); ++n) d[n] = static_cast<int16_t>(x[n] - 2 * x[n - 1] + x[n - 2]);
  return d;
}

// A waveform whose lead on slot k is SyntheticEcg(rate, k), except slots in
// `noisy`, which get full-range noise.
EcgWaveform* MakeWave(uint32_t s, const std::vector<uint8_t>& slots, uint32_t rate = kRate,
                      uint32_t resolution = kResolution, std::vector<uint8_t> noisy = {}) {
  auto* w = new EcgWaveform(static_cast<uint32_t>(slots.size()), s, rate, resolution, slots);
  for (uint8_t k : slots) {
    int16_t* a = w->Channel(k);
    const bool noise = std::find(noisy.begin(), noisy.end(), k) != noisy.end();
    SyntheticEcg ecg(rate, k);
    for (uint32_t n = 0; n < s; ++n) a[n] = noise ? NoiseSample(n, k) : ecg(n);
  }
  return w;
}

// An empty waveform to read into: every allocated place holds kUntouched,
// so that writes past S or into skipped leads show.
EcgWaveform* EmptyWave(uint32_t s, const std::vector<uint8_t>& slots, uint32_t rate = kRate,
                       uint32_t resolution = kResolution) {
  auto* w = new EcgWaveform(static_cast<uint32_t>(slots.size()), s, rate, resolution, slots);
  for (uint8_t k : slots)
    std::fill(w->Channel(k), w->Channel(k) + w->AllocatedSamplesPerLead(), kUntouched);
  return w;
}

std::vector<int16_t> Lead(const EcgWaveform& w, uint32_t k, uint32_t count) {
  return std::vector<int16_t>(w.Channel(k), w.Channel(k) + count);
}

// Every place of every present channel from S on still holds kUntouched.
bool TailUntouched(const EcgWaveform& w) {
  for (uint32_t k = 0; k < EcgWaveform::kChannelSlots; ++k) {
    const int16_t* a = w.Channel(k);
    if (a == nullptr) continue;
    for (uint32_t n = w.SamplesPerLead(); n < w.AllocatedSamplesPerLead(); ++n)
      if (a[n] != kUntouched) return false;
  }
  return true;
}

class Section6 : public ::testing::Test {
 protected:
  LogCapture capture_;
  EventLog log_{plat::ThisModule()};

  // Sections 2, 3 and 6 of the record as the writer makes them, in a
  // buffer of the given capacity.
  std::vector<uint8_t> Save(TestRecord& record, uint32_t capacity = 1000000) {
    ScpEcg codec(nullptr, &log_);
    EXPECT_TRUE(codec.FormatRecordHeader(capacity));
    codec.PutHuffmanTables();
    if (EcgWaveform* wave = codec.PutLeadDefinition(&record)) codec.PutRhythmData(wave);
    uint32_t length = 0;
    const uint8_t* buffer = codec.FinalizeRecordHeader(&length);
    return std::vector<uint8_t>(buffer, buffer + length);
  }

  // Takes the waveform over (a record owns its waveform).
  std::vector<uint8_t> Save(EcgWaveform* wave, uint32_t capacity = 1000000) {
    TestRecord record;
    record.SetWaveform(wave);
    return Save(record, capacity);
  }

  std::unique_ptr<ScpEcg> Open(const std::vector<uint8_t>& file) {
    static int serial = 0;
    const std::string path = TempPath("s6_" + std::to_string(++serial) + ".scp");
    EXPECT_TRUE(WriteFileBytes(path, file));
    auto codec = std::make_unique<ScpEcg>(nullptr, &log_);
    EXPECT_TRUE(codec->OpenRecord(path.c_str()));
    return codec;
  }

  // Reads the file's rhythm data into wave as a fetch does; `mode`
  // replaces the section 2 result when given. Log lines before it are
  // dropped.
  void Read(const std::vector<uint8_t>& file, EcgWaveform* wave, std::optional<HuffmanMode> mode = {},
            bool noMode = false) {
    auto codec = Open(file);
    capture_.Clear();
    std::unique_ptr<HuffmanMode> fromFile = codec->GetHuffmanTables();
    std::unique_ptr<LeadTable> leads = codec->GetLeadDefinition();
    ASSERT_NE(leads, nullptr) << capture_.Dump();
    const HuffmanMode* use = noMode ? nullptr : mode ? &*mode : fromFile.get();
    codec->GetRhythmData(wave, leads.get(), use);
  }

  ValidFormatInfo Summary(const std::vector<uint8_t>& file, bool withTable = true) {
    ValidFormatInfo info;
    std::memset(&info, 0xEE, sizeof info);
    auto codec = Open(file);
    capture_.Clear();
    std::unique_ptr<LeadTable> leads = withTable ? codec->GetLeadDefinition() : nullptr;
    codec->GetRhythmSummary(leads.get(), &info);
    return info;
  }

  size_t CountLines(const char* call, int line) const {
    size_t n = 0;
    for (const auto& l : capture_.Lines()) n += l.call == call && l.source == "scpecg" && l.line == line;
    return n;
  }
};

// Byte counts of the section 6 data, for the given width and lead count.
std::vector<uint32_t> Counts(const std::vector<uint8_t>& d, uint32_t width, uint32_t n) {
  std::vector<uint32_t> c;
  for (uint32_t i = 0; i < n; ++i) c.push_back(width == 2 ? Get16(&d[6 + 2 * i]) : Get32(&d[6 + 4 * i]));
  return c;
}

// ------------------------------------------------------------- writing

struct WidthCase {
  uint32_t samples;
  uint32_t width;
};

class CountWidth : public Section6, public ::testing::WithParamInterface<WidthCase> {};

TEST_P(CountWidth, FollowsTheSamplesPerLead) {
  const auto [s, width] = GetParam();
  std::vector<uint8_t> file = Save(MakeWave(s, {0, 1, 6}, kRate, kResolution, {6}));
  Sections sections = ParseRecord(file);
  ASSERT_EQ(sections.count(6), 1u) << capture_.Dump();
  const std::vector<uint8_t>& d = sections[6];
  EXPECT_EQ(Get16(&d[0]), kResolution);
  EXPECT_EQ(Get16(&d[2]), 1000000 / kRate);
  EXPECT_EQ(d[4], 2);
  EXPECT_EQ(d[5], 0);
  const std::vector<uint32_t> counts = Counts(d, width, 3);
  uint64_t total = 6 + width * 3;
  for (uint32_t c : counts) {
    EXPECT_GT(c, 0u);
    total += c;
  }
  // The counts account for every byte (the section may carry one pad byte).
  EXPECT_EQ(d.size(), (total + 1) / 2 * 2);
  // The noise lead takes the long escapes (26 bits for nearly every value).
  EXPECT_GT(counts[2], 3ull * s);

  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(s, {0, 1, 6}));
  Read(file, target.get());
  std::unique_ptr<EcgWaveform> original(MakeWave(s, {0, 1, 6}, kRate, kResolution, {6}));
  for (uint8_t k : {0, 1, 6}) EXPECT_EQ(Lead(*target, k, s), Lead(*original, k, s)) << int{k};
  EXPECT_EQ(target->GetValidSampleCount(), s);
}

// Below 32000 samples 2-byte counts, from 32000 on 4-byte ones. With 31999
// noise samples a lead codes to 104 KB: too large for a 2-byte count, so
// that case uses a shorter lead (8000 noise samples code to about 26 KB).
INSTANTIATE_TEST_SUITE_P(Widths, CountWidth,
                         ::testing::Values(WidthCase{1000, 2}, WidthCase{8000, 2}, WidthCase{32000, 4},
                                           WidthCase{40000, 4}));

TEST_F(Section6, CountWidthSwitchesAtThirtyTwoThousandSamples) {
  for (const auto& [s, width] : {WidthCase{31999, 2}, WidthCase{32000, 4}}) {
    std::vector<uint8_t> file = Save(MakeWave(s, {2, 3}));
    const std::vector<uint8_t> d = ParseRecord(file)[6];
    const std::vector<uint32_t> counts = Counts(d, width, 2);
    EXPECT_EQ(d.size(), (6 + width * 2 + counts[0] + counts[1] + 1) / 2 * 2) << s;
    ValidFormatInfo info = Summary(file);
    EXPECT_EQ(info.longestLead, s);
    auto target = std::unique_ptr<EcgWaveform>(EmptyWave(s, {2, 3}));
    Read(file, target.get());
    std::unique_ptr<EcgWaveform> original(MakeWave(s, {2, 3}));
    EXPECT_EQ(Lead(*target, 3, s), Lead(*original, 3, s)) << s;
  }
}

// Two leads of 1000 samples whose first `zeros` second differences are 0
// (1 bit) and the rest alternate +-2 (4 bits); the last is 0 when
// `zeroLast`.
TEST_F(Section6, SaveReportsSizesAndRatio) {
  struct Case {
    size_t zeros;
    bool zeroLast;
    uint32_t bytes;
    const char* report;
  };
  for (const Case& c : {Case{0, true, 500, "SAVE: 4000:1000 (25%)"},  // 3997 bits
                        // 980 of 4000 bytes is 24.5 %: MulDiv rounds halves away from zero.
                        Case{29, false, 490, "SAVE: 4000:980 (25%)"}}) {  // 3913 bits
    SCOPED_TRACE(c.report);
    capture_.Clear();
    std::vector<int16_t> d(1000);
    for (size_t n = 0; n < d.size(); ++n) d[n] = n < c.zeros ? 0 : (n % 2 ? -2 : 2);
    if (c.zeroLast) d.back() = 0;
    const std::vector<int16_t> x = FromDifferences(d);
    auto* wave = new EcgWaveform(2, 1000, kRate, kResolution, Slots(2));
    for (uint32_t k : {0u, 1u}) std::copy(x.begin(), x.end(), wave->Channel(k));
    std::vector<uint8_t> file = Save(wave);
    EXPECT_EQ(Counts(ParseRecord(file)[6], 2, 2), (std::vector<uint32_t>{c.bytes, c.bytes}));
    EXPECT_TRUE(capture_.HasText("LOGOEMMESSAGE", c.report)) << capture_.Dump();
  }
}

TEST_F(Section6, SaveReportAddsUpTheCodedLeads) {
  std::vector<uint8_t> file = Save(MakeWave(5000, {0, 1, 2, 7, 8}, kRate, kResolution, {8}));
  const std::vector<uint32_t> counts = Counts(ParseRecord(file)[6], 2, 5);
  uint64_t total = 0;
  for (uint32_t c : counts) total += c;
  const uint64_t unc = 5 * 5000 * 2;
  char expected[64];
  std::snprintf(expected, sizeof expected, "SAVE: %llu:%llu (%llu%%)", (unsigned long long)unc,
                (unsigned long long)total, (unsigned long long)((200 * total + unc) / (2 * unc)));
  EXPECT_TRUE(capture_.HasText("LOGOEMMESSAGE", expected)) << expected << "\n" << capture_.Dump();
  EXPECT_EQ(capture_.Count("LOGOEMMESSAGE"), 1u);
}

// A lead of no samples still takes its closing byte; the ratio of an empty
// waveform is -1 %, as MulDiv gives for a zero divisor.
TEST_F(Section6, EmptyLeadReportsMinusOnePercent) {
  std::vector<uint8_t> file = Save(MakeWave(0, {0}));
  EXPECT_TRUE(capture_.HasText("LOGOEMMESSAGE", "SAVE: 0:1 (-1%)")) << capture_.Dump();
  const std::vector<uint8_t> d = ParseRecord(file)[6];
  ASSERT_EQ(d.size(), 10u);  // header, one 2-byte count, one byte, the pad
  EXPECT_EQ(Get16(&d[6]), 1u);
}

// Room for the first lead only (the codec asks for 2 bytes per sample):
// the others get count 0, are logged, and still count as saved.
TEST_F(Section6, LeadsWithoutRoomGetCountZero) {
  constexpr uint32_t kS = 1000;
  TestRecord record;
  record.SetWaveform(MakeWave(kS, {0, 1, 2}));
  // Sections 2 and 3 take 18 + 46 bytes; section 6 begins behind them.
  const uint32_t section6 = ScpEcg::kEmptyRecordSize + 18 + 46;
  std::vector<uint8_t> file = Save(record, section6 + 16 + 6 + 6 + 2 * kS + 50);
  const std::vector<uint8_t> d = ParseRecord(file)[6];
  ASSERT_FALSE(d.empty()) << capture_.Dump();
  const std::vector<uint32_t> counts = Counts(d, 2, 3);
  EXPECT_GT(counts[0], 0u);
  EXPECT_EQ(counts[1], 0u);
  EXPECT_EQ(counts[2], 0u);
  EXPECT_EQ(CountLines(kOem, 2705), 2u) << capture_.Dump();
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2705, "0 byte compression."));
  EXPECT_EQ(CountLines(kOem, 2713), 0u);
}

// Decision: a lead coded into 32768 bytes or more cannot be told by a 2-byte
// count. It is stored like a lead that did not fit (count 0, "0 byte
// compression."), and the next lead's data follows the table directly.
TEST_F(Section6, LeadTooLargeForATwoByteCountIsDropped) {
  constexpr uint32_t kS = 20000;  // noise: 26 bits per sample, 65 KB
  std::vector<uint8_t> file = Save(MakeWave(kS, {0, 1}, kRate, kResolution, {0}));
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2705, "0 byte compression.")) << capture_.Dump();
  const std::vector<uint8_t> d = ParseRecord(file)[6];
  const std::vector<uint32_t> counts = Counts(d, 2, 2);
  EXPECT_EQ(counts[0], 0u);
  ASSERT_GT(counts[1], 0u);
  EXPECT_LT(counts[1], 32768u);
  EXPECT_EQ(d.size(), (6 + 4 + counts[1] + 1) / 2 * 2);

  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(kS, {0, 1}));
  Read(file, target.get());
  std::unique_ptr<EcgWaveform> original(MakeWave(kS, {0, 1}, kRate, kResolution, {0}));
  EXPECT_EQ(Lead(*target, 1, kS), Lead(*original, 1, kS));
  EXPECT_TRUE(TailUntouched(*target));
}

TEST_F(Section6, SamplingRateZeroLeavesTheSectionOut) {
  std::vector<uint8_t> file = Save(MakeWave(100, {0}, 0));
  EXPECT_TRUE(capture_.Has(kMem, "scpecg", 2735, "")) << capture_.Dump();
  EXPECT_EQ(ParseRecord(file).count(6), 0u);
  EXPECT_EQ(capture_.Count("LOGOEMMESSAGE"), 0u);
}

TEST_F(Section6, HeaderWithoutRoom) {
  const uint32_t section6 = ScpEcg::kEmptyRecordSize + 18 + 28;  // section 3 of one lead
  std::vector<uint8_t> file = Save(MakeWave(100, {0}), section6 + 16 + 5);
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2737, "Rhythm section missing header information."))
      << capture_.Dump();
  EXPECT_EQ(ParseRecord(file).count(6), 0u);
}

TEST_F(Section6, ChannelsMissingFromTheWaveformAreReported) {
  TestRecord record;
  record.SetWaveform(MakeWave(300, {0, 3, 5}));
  EcgWaveform* wave = record.GetWaveform();
  int16_t* kept = wave->channels[3];
  wave->channels[3] = nullptr;
  std::vector<uint8_t> file = Save(record);
  wave->channels[3] = kept;
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2713, "Not all channels saved.")) << capture_.Dump();
  const std::vector<uint32_t> counts = Counts(ParseRecord(file)[6], 2, 3);
  EXPECT_GT(counts[0], 0u);
  EXPECT_GT(counts[1], 0u);
  EXPECT_EQ(counts[2], 0u);
  EXPECT_TRUE(capture_.HasText("LOGOEMMESSAGE", "SAVE: 1800:" + std::to_string(counts[0] + counts[1]) + " (" +
                                                    std::to_string((200 * (counts[0] + counts[1]) + 1800) / 3600) +
                                                    "%)"));
}

// Above 1 MHz the sample interval is 0; it is written as 0, the samples
// read back on the direct path, and the summary reports rate 0.
TEST_F(Section6, SamplingRateAboveOneMegahertz) {
  constexpr uint32_t kRateHigh = 2000000;
  std::vector<uint8_t> file = Save(MakeWave(3000, {0}, kRateHigh));
  const std::vector<uint8_t> d = ParseRecord(file)[6];
  ASSERT_GE(d.size(), 6u);
  EXPECT_EQ(Get16(&d[2]), 0u);
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(3000, {0}, kRateHigh));
  Read(file, target.get());
  std::unique_ptr<EcgWaveform> original(MakeWave(3000, {0}, kRateHigh));
  EXPECT_EQ(Lead(*target, 0, 3000), Lead(*original, 0, 3000));
  EXPECT_EQ(Summary(file).samplingRate, 0u);
}

// ------------------------------------------------------------- reading

class Decoders : public Section6, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(Decoders, BothDecodersReadTheWrittenLeads) {
  const std::vector<uint8_t> slots = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  std::vector<uint8_t> file = Save(MakeWave(2500, slots, kRate, kResolution, {13}));
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(2500, slots));
  Read(file, target.get(), HuffmanMode{1, GetParam()});
  std::unique_ptr<EcgWaveform> original(MakeWave(2500, slots, kRate, kResolution, {13}));
  for (uint8_t k : slots) EXPECT_EQ(Lead(*target, k, 2500), Lead(*original, k, 2500)) << int{k};
  EXPECT_TRUE(TailUntouched(*target));
  EXPECT_EQ(target->GetValidSampleCount(), 2500u);
  EXPECT_TRUE(capture_.Messages().empty()) << capture_.Dump();
}

INSTANTIATE_TEST_SUITE_P(FastAndPortable, Decoders, ::testing::Values(uint8_t{0}, uint8_t{1}));

// A file saved with a shorter waveform than the host passes in: Huffman
// decoding always delivers S values, so the places behind the file's lead
// hold the decoder's continuation, and nothing is written past S.
TEST_F(Section6, HostWaveformLongerThanTheFile) {
  std::vector<uint8_t> file = Save(MakeWave(1000, {0}));
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(1200, {0}));
  Read(file, target.get());
  std::unique_ptr<EcgWaveform> original(MakeWave(1000, {0}));
  EXPECT_EQ(Lead(*target, 0, 1000), Lead(*original, 0, 1000));
  EXPECT_TRUE(TailUntouched(*target));
}

std::vector<uint8_t> Patched(const std::vector<uint8_t>& file, uint16_t id, size_t at, uint8_t value) {
  Sections s = ParseRecord(file);
  s[id].at(at) = value;
  return BuildRecord(s);
}

TEST_F(Section6, FirstDifferencesAreStoredWithoutReconstruction) {
  std::vector<uint8_t> file = Patched(Save(MakeWave(800, {0})), 6, 4, 1);
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(800, {0}));
  Read(file, target.get());
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2548, "1st difference encoding not supported yet.")) << capture_.Dump();
  std::unique_ptr<EcgWaveform> original(MakeWave(800, {0}));
  EXPECT_EQ(Lead(*target, 0, 800), SecondDifferences(Lead(*original, 0, 800)));
  EXPECT_EQ(target->GetValidSampleCount(), 800u);
}

TEST_F(Section6, NoDifferencesStoresTheCodedValues) {
  std::vector<uint8_t> file = Patched(Save(MakeWave(800, {0})), 6, 4, 0);
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(800, {0}));
  Read(file, target.get());
  EXPECT_TRUE(capture_.Messages().empty()) << capture_.Dump();
  std::unique_ptr<EcgWaveform> original(MakeWave(800, {0}));
  EXPECT_EQ(Lead(*target, 0, 800), SecondDifferences(Lead(*original, 0, 800)));
}

TEST_F(Section6, BimodalCompressionIsRefused) {
  std::vector<uint8_t> file = Patched(Save(MakeWave(800, {0, 1})), 6, 5, 1);
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(800, {0, 1}));
  Read(file, target.get());
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2601, "Have only considerd bimodal compression not used files."))
      << capture_.Dump();
  EXPECT_EQ(Lead(*target, 0, 800), std::vector<int16_t>(800, kUntouched));
  EXPECT_EQ(Lead(*target, 1, 800), std::vector<int16_t>(800, kUntouched));
  EXPECT_EQ(target->GetValidSampleCount(), 0u);
}

struct InvalidCase {
  const char* name;
  uint32_t rate;
  uint32_t resolution;
  bool emptyTable;
};

class InvalidShape : public Section6, public ::testing::WithParamInterface<InvalidCase> {};

TEST_P(InvalidShape, NothingIsDecoded) {
  const InvalidCase& c = GetParam();
  std::vector<uint8_t> file = Save(MakeWave(500, {0}));
  if (c.emptyTable) {
    Sections s = ParseRecord(file);
    s[3] = {0, 4};
    file = BuildRecord(s);
  }
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(500, {0}, c.rate, c.resolution));
  Read(file, target.get());
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2602, "Invalid SR, QNT, LD CNT")) << capture_.Dump();
  EXPECT_EQ(Lead(*target, 0, 500), std::vector<int16_t>(500, kUntouched));
  EXPECT_EQ(target->GetValidSampleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, InvalidShape,
                         ::testing::Values(InvalidCase{"RateZero", 0, kResolution, false},
                                           InvalidCase{"ResolutionZero", kRate, 0, false},
                                           InvalidCase{"NoLeads", kRate, kResolution, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Custom Huffman tables (no mode): the waveform keeps what it held.
TEST_F(Section6, WithoutHuffmanModeNothingIsDecoded) {
  std::vector<uint8_t> file = Save(MakeWave(500, {0}));
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(500, {0}));
  Read(file, target.get(), {}, /*noMode=*/true);
  EXPECT_EQ(Lead(*target, 0, 500), std::vector<int16_t>(500, kUntouched));
  EXPECT_EQ(target->GetValidSampleCount(), 0u);
}

// A file as other producers write it without section 2: plain samples.
std::vector<uint8_t> PlainFile(const std::vector<std::vector<int16_t>>& leads, uint32_t declared) {
  Sections s;
  std::vector<LeadEntry> entries;
  std::vector<uint8_t> d3{static_cast<uint8_t>(leads.size()), static_cast<uint8_t>(leads.size() * 8 + 4)};
  for (size_t i = 0; i < leads.size(); ++i) {
    Put32(d3, 0);
    Put32(d3, declared);
    d3.push_back(kChannelLeadIds[i]);
  }
  s[3] = d3;
  std::vector<uint8_t> d6;
  Put16(d6, kResolution);
  Put16(d6, 1000000 / kRate);
  d6.push_back(0);
  d6.push_back(0);
  for (const auto& l : leads) Put16(d6, static_cast<uint16_t>(2 * l.size()));
  for (const auto& l : leads)
    for (int16_t v : l) Put16(d6, static_cast<uint16_t>(v));
  s[6] = d6;
  return BuildRecord(s);
}

TEST_F(Section6, PlainSamplesWithoutSection2) {
  constexpr uint32_t kS = 400;
  std::vector<int16_t> a(kS), b(kS + 1), c(kS - 1);
  for (uint32_t n = 0; n < kS + 1; ++n) {
    if (n < kS) a[n] = static_cast<int16_t>(n * 7 - 1000);
    b[n] = NoiseSample(n, 3);
    if (n < kS - 1) c[n] = static_cast<int16_t>(-static_cast<int>(n));
  }
  std::vector<uint8_t> file = PlainFile({a, b, c}, kS);
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(kS, {0, 1, 2}));
  Read(file, target.get());
  EXPECT_EQ(Lead(*target, 0, kS), a);
  // Lead 1 holds one sample too many, lead 2 one too few: both reported.
  EXPECT_EQ(CountLines(kOem, 2574), 2u) << capture_.Dump();
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2574, "Rhythm section missing points or MMX not present."));
  EXPECT_EQ(Lead(*target, 2, kS - 1), c);
  EXPECT_TRUE(TailUntouched(*target));
}

// On the reference beat path the scratch array holds the longest lead: a
// plain lead of S samples in a table that claims 2 S delivers S, which is
// no missing point.
TEST_F(Section6, ScaledCopyDecodesIntoAnArrayOfTheLongestLead) {
  constexpr uint32_t kS = 300;
  std::vector<int16_t> a(kS);
  for (uint32_t n = 0; n < kS; ++n) a[n] = static_cast<int16_t>(n * 5 - 700);
  std::vector<uint8_t> file = PlainFile({a}, 2 * kS);
  file = Patched(file, 3, 1, ParseRecord(file)[3][1] | 1);
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(kS, {0}));
  Read(file, target.get());
  EXPECT_EQ(CountLines(kOem, 2587), 0u) << capture_.Dump();
  EXPECT_EQ(Lead(*target, 0, kS), a);
}

TEST_F(Section6, ShortHeaderIsReported) {
  std::vector<uint8_t> file = Save(MakeWave(300, {0}));
  Sections s = ParseRecord(file);
  s[6].resize(4);
  file = BuildRecord(s);
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(300, {0}));
  Read(file, target.get());
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2608, "Rhythm section missing header information."))
      << capture_.Dump();
  EXPECT_EQ(target->GetValidSampleCount(), 0u);
  ValidFormatInfo info = Summary(file);
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2650, "Rhythm section missing header information."));
  EXPECT_EQ(info.leadCount, 0u);
  EXPECT_EQ(info.longestLead, 0u);
}

// The section ends after lead 1's bytes: lead 2 stays as it was.
TEST_F(Section6, MissingLeadDataIsReported) {
  std::vector<uint8_t> file = Save(MakeWave(600, {0, 1, 2}));
  Sections s = ParseRecord(file);
  const std::vector<uint32_t> counts = Counts(s[6], 2, 3);
  s[6].resize(6 + 6 + counts[0] + counts[1]);
  file = BuildRecord(s);
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(600, {0, 1, 2}));
  Read(file, target.get());
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2577, "Rhythm section missing lead data.")) << capture_.Dump();
  std::unique_ptr<EcgWaveform> original(MakeWave(600, {0, 1, 2}));
  EXPECT_EQ(Lead(*target, 1, 600), Lead(*original, 1, 600));
  EXPECT_EQ(Lead(*target, 2, 600), std::vector<int16_t>(600, kUntouched));
  EXPECT_EQ(target->GetValidSampleCount(), 600u);
}

// Two-byte counts are signed: 0x8000 steps the walk 32768 bytes back (never
// before the data's start), not past the end, so the second lead is still
// decoded rather than reported missing.
TEST_F(Section6, TwoByteCountsAreSigned) {
  std::vector<uint8_t> file = Patched(Patched(Save(MakeWave(500, {0, 1})), 6, 6, 0x00), 6, 7, 0x80);
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(500, {0, 1}));
  Read(file, target.get());
  EXPECT_EQ(CountLines(kOem, 2577), 0u) << capture_.Dump();
  EXPECT_NE(Lead(*target, 1, 500), std::vector<int16_t>(500, kUntouched));
}

// Decision: a lead whose channel has no array in the host's waveform is
// stepped over (reported as missing points); the leads behind it still
// land on their own channels.
TEST_F(Section6, LeadWithoutAnArrayIsSkipped) {
  std::vector<uint8_t> file = Save(MakeWave(700, {0, 1, 2}));
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(700, {0, 2}));
  Read(file, target.get());
  EXPECT_EQ(CountLines(kOem, 2574), 1u) << capture_.Dump();
  std::unique_ptr<EcgWaveform> original(MakeWave(700, {0, 1, 2}));
  EXPECT_EQ(Lead(*target, 0, 700), Lead(*original, 0, 700));
  EXPECT_EQ(Lead(*target, 2, 700), Lead(*original, 2, 700));
  EXPECT_TRUE(TailUntouched(*target));

  // The same on the scaled copy path.
  capture_.Clear();
  auto scaled = std::unique_ptr<EcgWaveform>(EmptyWave(700, {0, 2}));
  Read(Patched(file, 3, 1, ParseRecord(file)[3][1] | 1), scaled.get());
  EXPECT_EQ(CountLines(kOem, 2587), 1u) << capture_.Dump();
  EXPECT_EQ(Lead(*scaled, 2, 700), Lead(*original, 2, 700));
  EXPECT_TRUE(TailUntouched(*scaled));
}

// Reference beat subtraction flagged in section 3: the scaled copy path.
struct ScaledCase {
  const char* name;
  uint32_t fileSamples, fileRate, fileResolution;
  uint32_t waveSamples, waveRate, waveResolution;
  size_t missingPoints;  // "Rhythm section missing points." lines (one lead)
};

class ScaledCopy : public Section6, public ::testing::WithParamInterface<ScaledCase> {};

TEST_P(ScaledCopy, RepeatsAndScalesEachSample) {
  const ScaledCase& c = GetParam();
  std::unique_ptr<EcgWaveform> original(MakeWave(c.fileSamples, {4}, c.fileRate, c.fileResolution));
  std::vector<uint8_t> file = Save(MakeWave(c.fileSamples, {4}, c.fileRate, c.fileResolution));
  file = Patched(file, 3, 1, ParseRecord(file)[3][1] | 1);
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(c.waveSamples, {4}, c.waveRate, c.waveResolution));
  Read(file, target.get());
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2549, "reference beat compression not supported yet."))
      << capture_.Dump();
  EXPECT_EQ(CountLines(kOem, 2587), c.missingPoints) << capture_.Dump();
  const uint32_t gain = c.fileResolution / c.waveResolution;
  const uint32_t repeat = (1000000 / c.fileRate) / (1000000 / c.waveRate);
  const int16_t* got = target->Channel(4);
  const uint32_t written = repeat == 0 ? 0 : std::min<uint64_t>(c.waveSamples, uint64_t{c.fileSamples} * repeat);
  for (uint32_t d = 0; d < c.waveSamples; ++d) {
    const int16_t want = d < written ? static_cast<int16_t>(original->Channel(4)[d / repeat] * gain) : kUntouched;
    ASSERT_EQ(got[d], want) << d;
  }
  EXPECT_TRUE(TailUntouched(*target));
  EXPECT_EQ(target->GetValidSampleCount(), c.waveSamples);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScaledCopy,
    ::testing::Values(ScaledCase{"SameShape", 1000, 500, 5000, 1000, 500, 5000, 0},
                      ScaledCase{"DoubleRateDoubleGain", 1000, 500, 10000, 1000, 1000, 5000, 0},
                      ScaledCase{"TripleRate", 400, 250, 5000, 1000, 750, 5000, 1},
                      ScaledCase{"FileLongerThanWaveform", 1000, 500, 5000, 600, 500, 5000, 1},
                      ScaledCase{"FileShorterThanWaveform", 600, 500, 5000, 1000, 500, 5000, 1},
                      // The file's interval is shorter than the waveform's:
                      // each sample is written 0 times.
                      ScaledCase{"SlowerWaveform", 1000, 500, 5000, 1000, 250, 5000, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Decision: above 1 MHz the waveform's interval is 0 and the repeat factor
// cannot be formed; the scaled copy is refused with the path's failure
// report and the waveform is left exactly as it was.
TEST_F(Section6, ScaledCopyIntoAWaveformAboveOneMegahertz) {
  std::vector<uint8_t> file = Save(MakeWave(500, {0}));
  file = Patched(file, 3, 1, ParseRecord(file)[3][1] | 1);
  auto target = std::unique_ptr<EcgWaveform>(EmptyWave(500, {0}, 1500000));
  Read(file, target.get());
  EXPECT_TRUE(capture_.Has(kMem, "scpecg", 2597, "")) << capture_.Dump();
  EXPECT_EQ(Lead(*target, 0, 500), std::vector<int16_t>(500, kUntouched));
  EXPECT_TRUE(TailUntouched(*target));
  EXPECT_EQ(target->GetValidSampleCount(), 0u);
}

// ------------------------------------------------------------- summary

TEST_F(Section6, SummaryOfTwelveLeads) {
  std::vector<uint8_t> file = Save(MakeWave(5000, Slots(12)));
  ValidFormatInfo info = Summary(file);
  EXPECT_EQ(info.longestLead, 5000u);
  EXPECT_EQ(info.samplingRate, 500u);
  EXPECT_EQ(info.amplitudeMultiplier, 5000u);
  EXPECT_EQ(info.leadCount, 12u);
  for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(info.channel[i], i);
  EXPECT_EQ(info.complexCount, 0xEEEEEEEEu);  // not the summary's to fill
  EXPECT_TRUE(capture_.Messages().empty()) << capture_.Dump();
}

TEST_F(Section6, SummaryLeavesChannelFieldsBeyondTheLeads) {
  std::vector<uint8_t> file = Save(MakeWave(1234, {3, 9, 13}, 250, 2500));
  ValidFormatInfo info = Summary(file);
  EXPECT_EQ(info.longestLead, 1234u);
  EXPECT_EQ(info.samplingRate, 250u);
  EXPECT_EQ(info.amplitudeMultiplier, 2500u);
  EXPECT_EQ(info.leadCount, 3u);
  EXPECT_EQ(info.channel[0], 3u);
  EXPECT_EQ(info.channel[1], 9u);
  EXPECT_EQ(info.channel[2], 13u);
  for (int i = 3; i < 8; ++i) EXPECT_EQ(info.channel[i], 0xEEEEEEEEu) << i;
}

TEST_F(Section6, SummaryWithoutLeadTableClearsTheShape) {
  std::vector<uint8_t> file = Save(MakeWave(1000, {0, 1}));
  ValidFormatInfo info = Summary(file, /*withTable=*/false);
  EXPECT_EQ(info.longestLead, 0u);
  EXPECT_EQ(info.samplingRate, 0u);
  EXPECT_EQ(info.amplitudeMultiplier, 0u);
  EXPECT_EQ(info.leadCount, 0u);
  EXPECT_EQ(info.channel[0], 0xEEEEEEEEu);
}

TEST_F(Section6, SummaryWithoutSection6) {
  Sections s = ParseRecord(Save(MakeWave(1000, {0, 1})));
  s.erase(6);
  ValidFormatInfo info = Summary(BuildRecord(s));
  EXPECT_EQ(info.leadCount, 0u);
  EXPECT_EQ(info.longestLead, 0u);
  EXPECT_EQ(info.channel[0], 0xEEEEEEEEu);
}

TEST_F(Section6, SummaryWithReferenceBeatsHasNoRateOrMultiplier) {
  std::vector<uint8_t> file = Save(MakeWave(1000, {0, 1}));
  file = Patched(file, 3, 1, ParseRecord(file)[3][1] | 1);
  ValidFormatInfo info = Summary(file);
  EXPECT_EQ(info.samplingRate, 0u);
  EXPECT_EQ(info.amplitudeMultiplier, 0u);
  EXPECT_EQ(info.leadCount, 2u);
  EXPECT_EQ(info.longestLead, 1000u);
  EXPECT_EQ(info.channel[1], 1u);
}

// The header's values are signed 16-bit: an interval of 40000 µs (25 Hz)
// reads as negative and gives rate 0.
TEST_F(Section6, SummaryOfANegativeInterval) {
  std::vector<uint8_t> file = Save(MakeWave(100, {0}, 25));
  EXPECT_EQ(Summary(file).samplingRate, 0u);
  file = Save(MakeWave(100, {0}, 40));  // 25000 µs
  EXPECT_EQ(Summary(file).samplingRate, 40u);
}

// ------------------------------------------------------ damaged sections

// Random damage to sections 3 and 6 (CRCs recomputed, so the container
// hands them over): reading must stay in bounds, must not write past S in
// any channel, and must finish.
TEST_F(Section6, DamagedSectionsAreReadInBounds) {
  std::mt19937 rng(20240611);
  const std::vector<uint8_t> slots = {0, 1, 5, 13};
  const std::vector<std::vector<uint8_t>> bases = {Save(MakeWave(700, slots, kRate, kResolution, {5})),
                                                   Save(MakeWave(32000, {0, 1}))};
  auto pick = [&](uint32_t n) { return n ? static_cast<uint32_t>(rng() % n) : 0u; };
  for (int round = 0; round < 400; ++round) {
    Sections s = ParseRecord(bases[round % 2]);
    std::vector<uint8_t>& d6 = s[6];
    std::vector<uint8_t>& d3 = s[3];
    switch (round % 7) {
      case 0:  // flipped bytes anywhere in section 6
        for (int i = 0, m = 1 + pick(8); i < m; ++i) d6[pick(d6.size())] ^= static_cast<uint8_t>(1 + pick(255));
        break;
      case 1:  // cut section 6
        d6.resize(pick(d6.size() + 1));
        break;
      case 2: {  // absurd byte counts
        const uint32_t values[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF, static_cast<uint32_t>(rng())};
        for (size_t at = 6; at + 4 <= d6.size() && at < 6 + 16; at += 2)
          if (rng() % 2) Set32(&d6[at], values[pick(8)]);
        break;
      }
      case 3:  // header fields
        Set16(&d6[0], static_cast<uint16_t>(rng()));
        Set16(&d6[2], static_cast<uint16_t>(rng()));
        d6[4] = static_cast<uint8_t>(pick(4));
        d3[1] |= static_cast<uint8_t>(pick(2));
        break;
      case 4: {  // lead table with odd ranges and identifiers, reference beats
        const uint8_t n = static_cast<uint8_t>(pick(32));
        d3.assign({n, static_cast<uint8_t>(n * 8 + 4 + pick(2))});
        for (uint8_t i = 0; i < n; ++i) {
          Put32(d3, rng() % 3 ? 0 : rng());
          Put32(d3, rng() % 2 ? pick(70000) : rng());
          d3.push_back(static_cast<uint8_t>(rng() % 2 ? kChannelLeadIds[pick(14)] : rng()));
        }
        break;
      }
      case 5:  // cut section 3
        d3.resize(pick(d3.size() + 1));
        break;
      case 6:  // everything at once
        d6.resize(pick(d6.size() + 1));
        for (auto& b : d6)
          if (rng() % 64 == 0) b = static_cast<uint8_t>(rng());
        if (!d3.empty()) d3[pick(d3.size())] = static_cast<uint8_t>(rng());
        break;
    }
    const std::vector<uint8_t> file = BuildRecord(s);
    auto codec = Open(file);
    std::unique_ptr<HuffmanMode> mode = codec->GetHuffmanTables();
    std::unique_ptr<LeadTable> leads = codec->GetLeadDefinition();
    const uint32_t samples = round % 2 ? 32000 : 700;
    const HuffmanMode modes[] = {{1, 0}, {1, 1}, {0, 0}, {0, 1}};
    auto target = std::unique_ptr<EcgWaveform>(EmptyWave(samples - pick(3) + pick(3), slots));
    if (leads) codec->GetRhythmData(target.get(), leads.get(), round % 3 ? mode.get() : &modes[pick(4)]);
    ASSERT_TRUE(TailUntouched(*target)) << "round " << round;
    ValidFormatInfo info{};
    codec->GetRhythmSummary(leads.get(), &info);
    if (leads && s[6].size() >= 6) {
      EXPECT_EQ(info.leadCount, static_cast<uint32_t>(leads->count));
      EXPECT_EQ(info.longestLead, leads->longestLead());
    }
  }
}

}  // namespace
