// The writers of sections 129, 133, 137 and 148 to 151 at the edge of the
// record buffer and with sub-records they cannot write, and the parts of the
// trend class that only a host reaches (scaling, the sample limit).
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "codec_section_fixture.h"
#include "lib/dbclient/complex.h"
#include "lib/dbclient/document.h"
#include "lib/dbclient/holtercfg.h"
#include "lib/dbclient/rhythmmeas.h"
#include "lib/dbclient/trend.h"

namespace {

constexpr uint32_t kEmpty = ScpEcg::kEmptyRecordSize;

DocumentBuffer* Doc(uint32_t length) {
  auto* d = new DocumentBuffer(length);
  d->SetContent(std::vector<uint8_t>(length, 0x5A));
  return d;
}

ComplexData* Complex(uint32_t n, uint32_t s) {
  auto* c = new ComplexData(n, s);
  c->recordLength = ComplexData::kFixedRecordBytes + 8 * n + 2 * n * s;
  return c;
}

TrendRecord* Trend(uint32_t v, uint32_t c) {
  auto* t = new TrendRecord(v);
  for (uint32_t s = 0; s < c; ++s) t->AddSample(s, std::vector<int32_t>(v, 1));
  return t;
}

struct Writer {
  const char* name;
  uint16_t id;
  void (ScpEcg::*put)(TestRecord*);
  uint32_t data;                       // the section's data length when it fits
  uint32_t spare;                      // free bytes the writer wants beyond the data
  std::vector<std::string> sizeLimit;  // "CALL line text" of a buffer one byte short
  std::string begin;                   // of a buffer without room for the header ("" for none)
};

// The sub-records each writer of the table writes.
void Fill(TestRecord& r, uint16_t id) {
  switch (id) {
    case 129: r.SetTrendAt(31, Trend(2, 10)); break;
    case 133: r.AddComplex(Complex(0, 0)), r.AddComplex(Complex(1, 3)); break;
    case 137: r.AddRhythm(new RhythmMeasurement), r.AddRhythm(new RhythmMeasurement); break;
    case 148: r.SetDiaryDocument(Doc(1000)); break;
    case 149: r.SetReportDocument(Doc(998)); break;
    case 150: r.SetHolterConfig(new HolterConfig); break;
    default: r.SetHolterConfigBlock(Doc(10));
  }
}

std::vector<std::string> Lines(const LogCapture& cap) {
  std::vector<std::string> out;
  for (const auto& l : cap.Messages())
    out.push_back(l.call + " " + std::to_string(l.line) + (l.hasText ? " " + l.text : ""));
  return out;
}

using Strings = std::vector<std::string>;
const std::string kOem = "LOGOEMERROR ";
const std::string kOverflow = kOem + "4440 SCP-ECG: Buffer overflow";
const std::string kLimit = " SCP-ECG: size limit";

// clang-format off
const Writer kWriters[] = {
    {"Trends", 129, &ScpEcg::PutTrendData, 132 + 136, 0, {kOem + "3140" + kLimit, kOem + "3152" + kLimit}, ""},
    {"Complexes", 133, &ScpEcg::PutComplexData, 4 + 2984 + 2998, 4, {kOem + "3361" + kLimit},
     kOem + "3367 SCP-ECG: PutComplexData"},
    {"Rhythms", 137, &ScpEcg::PutRhythmMeasData, 4 + 2 * 672, 0, {kOem + "3470" + kLimit},
     kOem + "3474 SCP-ECG: PutRhythmMeasData"},
    {"Diary", 148, &ScpEcg::PutDiaryPDF, 1012, 0, {kOem + "3967" + kLimit}, kOem + "3968 SCP-ECG: PutDiaryPDF"},
    {"Report", 149, &ScpEcg::PutReportPDF, 1010, 0, {kOem + "4064" + kLimit}, kOem + "4065 SCP-ECG: PutReportPDF"},
    {"HolterConfig", 150, &ScpEcg::PutHolterCfgData, 708, 0, {kOem + "4164" + kLimit},
     kOem + "4165 SCP-ECG: PutHolterCfgData"},
    {"HolterBlock", 151, &ScpEcg::PutHolterCfgBlock, 22, 0, {kOem + "4261" + kLimit},
     kOem + "4262 SCP-ECG: PutHolterCfgData"},
};
// clang-format on

using WriterLimits = CodecSectionTest;

class WriterEdge : public CodecSectionTest, public ::testing::WithParamInterface<Writer> {};

// An exact fit is written; one byte less leaves the section out with its
// header's 16 bytes behind; no room for the header gives the begin failure.
TEST_P(WriterEdge, ExactFitOneByteShortAndNoRoomForTheHeader) {
  const Writer& w = GetParam();
  TestRecord rec;
  Fill(rec, w.id);
  const uint32_t exact = kEmpty + 16 + w.data + w.spare;
  uint32_t end = 0;
  auto file = Save(rec, w.put, exact, &end);
  EXPECT_EQ(recb::EntryOf(file, w.id)->length, 16 + w.data + w.data % 2);
  EXPECT_EQ(recb::Word(*recb::DataOf(file, w.id), 0), w.id == 129 ? 32u : w.id == 133 || w.id == 137 ? 2u : 1u);
  EXPECT_EQ(Lines(cap), Strings{});

  cap.Clear();
  file = Save(rec, w.put, exact - 1, &end);
  EXPECT_EQ(recb::EntryOf(file, w.id)->length, 0u);
  EXPECT_EQ(end, kEmpty + 16);
  EXPECT_EQ(Lines(cap), w.sizeLimit);

  cap.Clear();
  file = Save(rec, w.put, kEmpty + 15, &end);
  EXPECT_EQ(recb::EntryOf(file, w.id)->length, 0u);
  EXPECT_EQ(Lines(cap), w.begin.empty() ? Strings{kOverflow} : (Strings{kOverflow, w.begin}));
}

INSTANTIATE_TEST_SUITE_P(Sections, WriterEdge, ::testing::ValuesIn(kWriters),
                         [](const auto& info) { return std::string(info.param.name); });

// What cannot be written leaves the whole section out, the items before it too.
TEST_F(WriterLimits, UnwritableItemsLeaveTheirSectionOut) {
  const std::string kMem = "LOGMEMORYERROR 3363";
  struct Case {
    uint16_t id;
    void (ScpEcg::*put)(TestRecord*);
    Strings log;
  };
  const Case cases[] = {
      {133, &ScpEcg::PutComplexData, {kOem + "3364 SCP-ECG: complex missing"}},
      {133, &ScpEcg::PutComplexData, {kMem}},  // length one short of the samples
      {133, &ScpEcg::PutComplexData, {kMem}},  // length short of the fixed parts
      {133, &ScpEcg::PutComplexData, {kMem}},  // length 0
      {133, &ScpEcg::PutComplexData, {kMem}},  // an empty lead slot below n
      {133, &ScpEcg::PutComplexData, {kMem}},  // 25 leads
      {137, &ScpEcg::PutRhythmMeasData, {kOem + "3471 SCP-ECG: rhythm summary missing"}},
      {129, &ScpEcg::PutTrendData, {"LOGMEMORYERROR 3146", kOem + "3152" + kLimit}},  // a trend without data block
  };
  auto damage = [](TestRecord& r, size_t k) {
    ComplexData* c = r.GetComplexAt(1);
    switch (k) {
      case 0: r.SetComplexAt(1, nullptr); break;
      case 1: c->recordLength -= 1; break;
      case 2: r.GetComplexAt(0)->recordLength = ComplexData::kFixedRecordBytes - 1; break;
      case 3: c->recordLength = 0; break;
      case 4: c->SetLead(0, nullptr); break;
      case 5: c->leadCount = 25, c->recordLength = 100000; break;
      case 6: r.SetRhythmAt(1, nullptr); break;
      default: delete[] reinterpret_cast<uint32_t*>(r.GetTrendAt(3)->dataBlock); r.GetTrendAt(3)->dataBlock = nullptr;
    }
  };
  for (size_t k = 0; k < std::size(cases); ++k) {
    const Case& c = cases[k];
    SCOPED_TRACE("case " + std::to_string(k));
    TestRecord rec;
    rec.AddComplex(Complex(1, 10));
    rec.AddComplex(Complex(2, 600));
    rec.AddComplex(Complex(0, 0));
    rec.AddRhythm(new RhythmMeasurement);
    rec.AddRhythm(new RhythmMeasurement);
    rec.SetTrendAt(0, Trend(1, 1));
    rec.SetTrendAt(3, Trend(2, 2));
    const auto whole = Save(rec, c.put);
    ASSERT_GT(recb::EntryOf(whole, c.id)->length, 0u);
    ASSERT_EQ(Lines(cap), Strings{});
    damage(rec, k);
    uint32_t end = 0;
    const auto file = Save(rec, c.put, 1000000, &end);
    EXPECT_EQ(recb::EntryOf(file, c.id)->length, 0u);
    EXPECT_EQ(end, kEmpty + 16);
    EXPECT_EQ(Lines(cap), c.log);
    cap.Clear();
  }
}

// Nothing to write: no section, no header, no message.
TEST_F(WriterLimits, NothingToWriteReservesNothing) {
  TestRecord rec;
  rec.SetDiaryDocument(new DocumentBuffer(100));
  rec.SetHolterConfigBlock(new DocumentBuffer(0));
  for (auto put : {&ScpEcg::PutComplexData, &ScpEcg::PutRhythmMeasData, &ScpEcg::PutDiaryPDF, &ScpEcg::PutReportPDF,
                   &ScpEcg::PutHolterCfgData, &ScpEcg::PutHolterCfgBlock}) {
    uint32_t end = 0;
    Save(rec, put, 1000000, &end);
    EXPECT_EQ(end, kEmpty);
  }
  // Room runs out among empty trend slots: reported once.
  for (uint32_t room : {128u, 130u}) Save(rec, &ScpEcg::PutTrendData, kEmpty + 16 + room);
  // Room for the header but not the slot count: silent.
  Save(rec, &ScpEcg::PutTrendData, kEmpty + 16 + 3);
  EXPECT_EQ(Lines(cap), (Strings{kOem + "3152 SCP-ECG: size limit", kOem + "3152 SCP-ECG: size limit"}));
  cap.Clear();
  // Room for the header but not the count word of 133 or 137.
  rec.AddComplex(Complex(0, 0));
  rec.AddRhythm(new RhythmMeasurement);
  Save(rec, &ScpEcg::PutComplexData, kEmpty + 16 + 3);
  Save(rec, &ScpEcg::PutRhythmMeasData, kEmpty + 16 + 3);
  EXPECT_EQ(Lines(cap), (Strings{kOem + "3367 SCP-ECG: PutComplexData", kOem + "3474 SCP-ECG: PutRhythmMeasData"}));
}

// ------------------------------------------------------- the trend class

// Values come out as value * numerator / denominator, rounded like MulDiv:
// half away from zero, -1 when the result does not fit or the denominator is 0.
TEST(TrendRecordScale, RoundsLikeMulDiv) {
  const int32_t cases[][4] = {{2, 1, 3, 1},   {1, 1, 3, 0},  {3, 1, 2, 2},           {-3, 1, 2, -2},
                              {-2, 1, 3, -1}, {7, 5, 5, 7},  {0x40000000, 4, 2, -1}, {100000, 100000, 1000, 10000000},
                              {5, 1, 0, -1},  {-7, -1, 2, 4}};
  for (const auto& c : cases) {
    TrendRecord t(1);
    t.AddSample(0, std::vector<int32_t>{c[0]});
    t.SetScale(c[1], c[2]);
    EXPECT_EQ(t.GetValue(0, 0), c[3]) << c[0] << " * " << c[1] << " / " << c[2];
  }
}

// A sample takes the trend's own number of values (0 for missing ones) and
// its time less the base time; 16384 samples are all a trend holds; indexes
// out of range read as 0.
TEST(TrendRecordSamples, AddSampleAndItsLimits) {
  TrendRecord t(3, 100);
  EXPECT_TRUE(t.AddSample(1100, std::vector<int32_t>{8, 9}));
  EXPECT_TRUE(t.AddSample(50, std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ((std::vector<int64_t>{t.GetTime(0), t.GetValue(0, 0), t.GetValue(0, 1), t.GetValue(0, 2), t.GetValue(1, 2),
                                  t.GetTime(1), t.GetValue(2, 0), t.GetValue(0, 3), t.GetTime(2)}),
            (std::vector<int64_t>{1000, 8, 9, 0, 3, 0xFFFFFFCE, 0, 0, 0}));
  t.SetPerValue(3, 99);
  EXPECT_EQ(t.GetPerValue(3), 0u);
  for (uint32_t s = 2; s < TrendRecord::kMaxSamples; ++s) ASSERT_TRUE(t.AddSample(s, std::vector<int32_t>{1, 2, 3}));
  EXPECT_FALSE(t.AddSample(7, std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(t.GetSampleCount(), 16384u);
  uint32_t length = 0;
  ASSERT_NE(t.Serialize(&length), nullptr);
  EXPECT_EQ(length, 8u + 4 * 16384 + 4 * 16384 * 3 + 12);
}

// A trend is built from a record only when its L covers the header and the
// arrays its counts call for, and lies within the bytes given.
TEST(TrendRecordBuild, NeedsItsArraysWithinLAndLWithinTheBytes) {
  struct Case {
    uint16_t c, v;
    uint32_t L;
    size_t bytes;
    bool built;
  };
  const Case cases[] = {
      {2, 3, 52, 52, true}, {2, 3, 51, 52, false}, {2, 3, 56, 56, true}, {2, 3, 52, 51, false},
      {0, 0, 8, 8, true},   {0, 0, 7, 8, false},   {0, 0, 8, 7, false},  {0xFFFF, 0xFFFF, 64, 64, false}};
  for (const Case& k : cases) {
    std::vector<uint8_t> r(std::max<size_t>(k.bytes, 8));
    for (size_t i = 0; i + 4 <= r.size(); i += 4) r[i] = static_cast<uint8_t>(i);
    r[0] = static_cast<uint8_t>(k.L);
    r[4] = static_cast<uint8_t>(k.c), r[5] = static_cast<uint8_t>(k.c >> 8);
    r[6] = static_cast<uint8_t>(k.v), r[7] = static_cast<uint8_t>(k.v >> 8);
    r.resize(k.bytes);
    auto t = TrendRecord::BuildFromRecord(r);
    ASSERT_EQ(t != nullptr, k.built) << k.L << " of " << k.bytes;
    // The arrays are where the record puts them.
    if (t && k.c) {
      const int64_t word0 = reinterpret_cast<const uint32_t*>(t->dataBlock)[0];  // the block is a copy of the record
      EXPECT_EQ((std::vector<int64_t>{t->GetTime(1), t->GetValue(0, 0), t->GetPerValue(2), word0}),
                (std::vector<int64_t>{12, 16, 48, k.L}));
    }
  }
}

}  // namespace
