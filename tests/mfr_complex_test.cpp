// Sections 133 (averaged complexes) and 137 (rhythm measurements) and their
// count probes, at the section level.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec_section_fixture.h"

namespace {

using recb::Bytes;

constexpr const char* kOem = "LOGOEMERROR";
constexpr const char* kMem = "LOGMEMORYERROR";

using SectionTest = CodecSectionTest;

// ------------------------------------------------------------------- 133

// A complex with n leads of s samples and every field filled from seed.
ComplexData* MakeComplex(uint32_t n, uint32_t s, uint32_t seed) {
  auto* c = new ComplexData(n, s);
  uint32_t x = seed * 2246822519u + 3;
  auto next = [&] { return x = x * 1103515245u + 12345u; };
  c->value1 = static_cast<int16_t>(next());
  c->codeA = next() % 4;
  c->value5 = next();
  c->codeB = next() % 2;
  for (auto& v : c->values7to15) v = next();
  for (uint32_t k = 0; k < n; ++k) {
    c->leads[k]->leadCode = next() % 20;
    for (uint32_t i = 0; i < s; ++i) c->leads[k]->samples[i] = static_cast<int16_t>(next());
  }
  c->measurements.m1 = next();
  c->measurements.flag = 1;
  for (auto& v : c->measurements.m2to9) v = static_cast<uint16_t>(next());
  for (auto& g : c->measurements.groups)
    for (auto& v : g) v = static_cast<uint16_t>(next());
  c->textBlock.t1 = next();
  c->textBlock.t4 = next();
  std::snprintf(c->textBlock.text, sizeof c->textBlock.text, "complex %u", seed);
  std::memcpy(c->textBlock.code, "AB", 3);
  return c;
}

void ExpectSameComplex(const ComplexData& a, const ComplexData& b) {
  EXPECT_EQ(a.recordLength, b.recordLength);
  EXPECT_EQ(a.value1, b.value1);
  EXPECT_EQ(a.leadCount, b.leadCount);
  EXPECT_EQ(a.sampleCount, b.sampleCount);
  EXPECT_EQ(a.codeA, b.codeA);
  EXPECT_EQ(a.value5, b.value5);
  EXPECT_EQ(a.codeB, b.codeB);
  EXPECT_EQ(0, std::memcmp(a.values7to15, b.values7to15, sizeof a.values7to15));
  EXPECT_EQ(0, std::memcmp(&a.measurements, &b.measurements, sizeof a.measurements));
  EXPECT_EQ(0, std::memcmp(&a.textBlock, &b.textBlock, sizeof a.textBlock));
  for (uint32_t k = 0; k < ComplexData::kMaxLeads; ++k) {
    ASSERT_EQ(a.leads[k] == nullptr, b.leads[k] == nullptr) << k;
    if (a.leads[k] == nullptr) continue;
    EXPECT_EQ(a.leads[k]->leadCode, b.leads[k]->leadCode);
    EXPECT_EQ(0, std::memcmp(a.leads[k]->samples, b.leads[k]->samples, 2 * a.sampleCount)) << k;
  }
}

using ComplexSectionTest = SectionTest;

TEST_F(ComplexSectionTest, RecordsFollowEachOtherAndReadBack) {
  TestRecord rec;
  rec.AddComplex(MakeComplex(0, 0, 1));
  rec.AddComplex(MakeComplex(2, 600, 2));
  ASSERT_EQ(rec.GetComplexAt(0)->recordLength, 2984u);
  ASSERT_EQ(rec.GetComplexAt(1)->recordLength, 5400u);
  const auto file = Save(rec, &ScpEcg::PutComplexData);
  auto data = recb::DataOf(file, 133);
  ASSERT_TRUE(data);
  ASSERT_EQ(data->size(), 4u + 2984u + 5400u);
  EXPECT_EQ(recb::Word(*data, 0), 2u);
  EXPECT_EQ(recb::Word(*data, 4), 2984u);
  EXPECT_EQ(recb::Word(*data, 4 + 2984), 5400u) << "no bytes between the records";
  EXPECT_EQ(Probe(file, &ScpEcg::GetComplexCount), 2u);

  TestRecord back;
  back.AddComplex(new ComplexData());
  back.AddComplex(new ComplexData(2, 600));
  EXPECT_EQ(Read(file, &ScpEcg::GetComplexData, back), 1);
  ExpectSameComplex(*rec.GetComplexAt(0), *back.GetComplexAt(0));
  ExpectSameComplex(*rec.GetComplexAt(1), *back.GetComplexAt(1));
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(ComplexSectionTest, CountZeroWritesNoSectionAndProbesZero) {
  TestRecord rec;
  uint32_t end = 0;
  const auto file = Save(rec, &ScpEcg::PutComplexData, 1000000, &end);
  EXPECT_EQ(recb::EntryOf(file, 133)->length, 0u);
  EXPECT_EQ(end, ScpEcg::kEmptyRecordSize);
  EXPECT_EQ(Probe(file, &ScpEcg::GetComplexCount), 0u);
  EXPECT_EQ(Read(file, &ScpEcg::GetComplexData, rec), 0);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

// Each failing item leaves the whole section out, the items before it too.
struct ComplexFailure {
  const char* name;
  void (*damage)(TestRecord&);
  const char* call;
  int line;
  const char* text;
};

class ComplexWriterFailureTest : public SectionTest, public ::testing::WithParamInterface<ComplexFailure> {};

const ComplexFailure kComplexFailures[] = {
    {"Missing", [](TestRecord& r) { r.SetComplexAt(1, nullptr); }, kOem, 3364, "SCP-ECG: complex missing"},
    {"LengthTooSmallForSamples", [](TestRecord& r) { r.GetComplexAt(1)->recordLength = 5399; }, kMem, 3363, ""},
    {"LengthTooSmallForTheFixedParts", [](TestRecord& r) { r.GetComplexAt(1)->recordLength = 2999; }, kMem, 3363,
     ""},
    {"EmptyLeadSlotBelowN", [](TestRecord& r) { r.GetComplexAt(1)->SetLead(0, nullptr); }, kMem, 3363, ""},
    {"TooManyLeads", [](TestRecord& r) { r.GetComplexAt(1)->leadCount = 25; }, kMem, 3363, ""},
    {"LengthZero", [](TestRecord& r) { r.GetComplexAt(1)->recordLength = 0; }, kMem, 3363, ""},
};

TEST_P(ComplexWriterFailureTest, LeavesTheSectionOut) {
  TestRecord rec;
  rec.AddComplex(MakeComplex(1, 10, 1));
  rec.AddComplex(MakeComplex(2, 600, 2));
  rec.AddComplex(MakeComplex(1, 10, 3));
  GetParam().damage(rec);
  uint32_t end = 0;
  const auto file = Save(rec, &ScpEcg::PutComplexData, 1000000, &end);
  EXPECT_EQ(recb::EntryOf(file, 133)->length, 0u);
  EXPECT_EQ(end, ScpEcg::kEmptyRecordSize + 16);
  auto lines = cap.Messages();
  ASSERT_EQ(lines.size(), 1u) << cap.Dump();
  EXPECT_EQ(lines[0].call, GetParam().call);
  EXPECT_EQ(lines[0].source, "scpecg");
  EXPECT_EQ(lines[0].line, GetParam().line);
  if (*GetParam().text) {
    EXPECT_EQ(lines[0].text, GetParam().text);
  }
}

INSTANTIATE_TEST_SUITE_P(Complex, ComplexWriterFailureTest, ::testing::ValuesIn(kComplexFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ComplexSectionTest, SizeLimitNeedsFourBytesBeyondEachRecord) {
  TestRecord rec;
  rec.AddComplex(MakeComplex(0, 0, 1));
  // Header, count word, the record and four bytes more.
  const uint32_t exact = ScpEcg::kEmptyRecordSize + 16 + 4 + 2984 + 4;
  auto file = Save(rec, &ScpEcg::PutComplexData, exact);
  EXPECT_EQ(recb::EntryOf(file, 133)->length, 16u + 4u + 2984u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
  uint32_t end = 0;
  file = Save(rec, &ScpEcg::PutComplexData, exact - 1, &end);
  EXPECT_EQ(recb::EntryOf(file, 133)->length, 0u);
  EXPECT_EQ(end, ScpEcg::kEmptyRecordSize + 16);
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3361, "SCP-ECG: size limit")) << cap.Dump();
}

TEST_F(ComplexSectionTest, OddRecordLengthIsPadded) {
  TestRecord rec;
  ComplexData* c = MakeComplex(1, 3, 4);
  c->recordLength = 2999;  // 2984 + 8 + 6 needed, one spare zero byte
  rec.AddComplex(c);
  const auto file = Save(rec, &ScpEcg::PutComplexData, ScpEcg::kEmptyRecordSize + 16 + 4 + 2999 + 4);
  EXPECT_EQ(recb::EntryOf(file, 133)->length, 16u + 4u + 2999u + 1u);
  TestRecord back;
  back.AddComplex(new ComplexData(1, 3));
  EXPECT_EQ(Read(file, &ScpEcg::GetComplexData, back), 1);
  ExpectSameComplex(*c, *back.GetComplexAt(0));
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(ComplexSectionTest, NoRoomForHeaderOrCountWordLogsTheBeginFailure) {
  TestRecord rec;
  rec.AddComplex(MakeComplex(0, 0, 1));
  Save(rec, &ScpEcg::PutComplexData, ScpEcg::kEmptyRecordSize + 15);
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 4440, "SCP-ECG: Buffer overflow")) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3367, "SCP-ECG: PutComplexData")) << cap.Dump();
  cap.Clear();
  Save(rec, &ScpEcg::PutComplexData, ScpEcg::kEmptyRecordSize + 16 + 3);
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3367, "SCP-ECG: PutComplexData")) << cap.Dump();
}

std::vector<uint8_t> ComplexRecord(uint32_t n, uint32_t s, uint32_t seed) {
  std::unique_ptr<ComplexData> c(MakeComplex(n, s, seed));
  uint32_t length = 0;
  auto bytes = c->Serialize(&length);
  return std::vector<uint8_t>(bytes.get(), bytes.get() + length);
}

TEST_F(ComplexSectionTest, ReaderStopsAtARecordWithoutRoomForItsLengthWord) {
  const auto r = ComplexRecord(0, 0, 5);
  const auto file = recb::Wrap(133, Bytes().u32(3).raw(r).u16(7).v);
  TestRecord back;
  back.AddComplex(new ComplexData());
  EXPECT_EQ(Read(file, &ScpEcg::GetComplexData, back), 1);
  EXPECT_EQ(back.GetComplexAt(0)->recordLength, 2984u) << "the first record was read";
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3320, "invalid record - too short")) << cap.Dump();
  EXPECT_EQ(Probe(file, &ScpEcg::GetComplexCount), 3u);
}

TEST_F(ComplexSectionTest, ReaderStopsAtARecordLongerThanWhatRemains) {
  auto r = ComplexRecord(0, 0, 6);
  const auto file = recb::Wrap(133, Bytes().u32(2).u32(2985).raw(r.data() + 4, r.size() - 4).v);
  TestRecord back;
  back.AddComplex(new ComplexData());
  EXPECT_EQ(Read(file, &ScpEcg::GetComplexData, back), 1);
  EXPECT_EQ(back.GetComplexAt(0)->recordLength, 0u) << "nothing read";
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3319, "invalid record - too short 2")) << cap.Dump();
}

TEST_F(ComplexSectionTest, RecordsWithoutAComplexAreSteppedOver) {
  const auto a = ComplexRecord(1, 4, 7);
  const auto b = ComplexRecord(1, 4, 8);
  const auto file = recb::Wrap(133, Bytes().u32(2).raw(a).raw(b).v);
  TestRecord back;
  back.AddComplex(new ComplexData(1, 4));
  back.AddComplex(new ComplexData(1, 4));
  back.SetComplexAt(0, nullptr);
  EXPECT_EQ(Read(file, &ScpEcg::GetComplexData, back), 1);
  std::unique_ptr<ComplexData> expected(MakeComplex(1, 4, 8));
  ExpectSameComplex(*expected, *back.GetComplexAt(1));
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

// A record of length 0 does not move the walk; a huge count must still end.
TEST_F(ComplexSectionTest, ZeroLengthRecordEndsTheWalkWhateverTheCount) {
  const auto file = recb::Wrap(133, Bytes().u32(0xFFFFFFFFu).u32(0).v);
  TestRecord back;
  back.AddComplex(new ComplexData(1, 4));
  EXPECT_EQ(Read(file, &ScpEcg::GetComplexData, back), 1);
  EXPECT_EQ(back.GetComplexAt(0)->recordLength, 3000u) << "untouched";
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

// The record is laid over the complex's own lead slots: a record that asks
// for more leads than the complex holds reads only those it has, with all
// of the record's samples.
TEST_F(ComplexSectionTest, RecordLargerThanTheComplexStaysWithinBoth) {
  const auto r = ComplexRecord(3, 50, 9);
  const auto file = recb::Wrap(133, Bytes().u32(1).raw(r).v);
  TestRecord back;
  back.AddComplex(new ComplexData(1, 10));
  EXPECT_EQ(Read(file, &ScpEcg::GetComplexData, back), 1);
  const ComplexData* c = back.GetComplexAt(0);
  std::unique_ptr<ComplexData> expected(MakeComplex(3, 50, 9));
  EXPECT_EQ(c->leadCount, 3u);
  EXPECT_EQ(c->value5, expected->value5);
  EXPECT_EQ(c->leads[0]->leadCode, expected->leads[0]->leadCode);
  EXPECT_EQ(c->sampleCount, 50u);
  // One lead entry is read instead of three: the samples start 8 earlier.
  EXPECT_EQ(c->leads[0]->samples[49], expected->leads[0]->samples[41]);
  EXPECT_EQ(c->GetLead(1), nullptr) << "the reader never creates a lead";
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(ComplexSectionTest, ShortDataIsReportedAndProbesZero) {
  const auto file = recb::Wrap(133, Bytes().u16(5).v);
  TestRecord back;
  EXPECT_EQ(Read(file, &ScpEcg::GetComplexData, back), 1);
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3320, "invalid record - too short")) << cap.Dump();
  EXPECT_EQ(Probe(file, &ScpEcg::GetComplexCount), 0u);
}

// ------------------------------------------------------------------- 137

RhythmMeasurement* MakeRhythm(uint32_t seed) {
  auto* r = new RhythmMeasurement;
  for (size_t i = 8; i < RhythmMeasurement::kBlockSize; ++i) r->block[i] = static_cast<uint8_t>(i * 7 + seed);
  r->SetVersion(100 + seed);
  return r;
}

std::vector<uint8_t> BlockOf(const RhythmMeasurement* r) {
  return std::vector<uint8_t>(r->block, r->block + RhythmMeasurement::kBlockSize);
}

using RhythmSectionTest = SectionTest;

TEST_F(RhythmSectionTest, BlocksAreWrittenWholeAndReadBack) {
  TestRecord rec;
  rec.AddRhythm(MakeRhythm(1));
  rec.AddRhythm(MakeRhythm(2));
  const auto file = Save(rec, &ScpEcg::PutRhythmMeasData);
  auto data = recb::DataOf(file, 137);
  ASSERT_TRUE(data);
  ASSERT_EQ(data->size(), 4u + 2 * 672u);
  EXPECT_EQ(recb::Word(*data, 0), 2u);
  EXPECT_TRUE(std::equal(data->begin() + 4 + 672, data->end(), rec.GetRhythmAt(1)->block));
  EXPECT_EQ(Probe(file, &ScpEcg::GetRhythmMeasCount), 2u);

  TestRecord back;
  back.AddRhythm(new RhythmMeasurement);
  back.AddRhythm(new RhythmMeasurement);
  EXPECT_EQ(Read(file, &ScpEcg::GetRhythmMeasData, back), 1);
  EXPECT_EQ(BlockOf(back.GetRhythmAt(0)), BlockOf(rec.GetRhythmAt(0)));
  EXPECT_EQ(BlockOf(back.GetRhythmAt(1)), BlockOf(rec.GetRhythmAt(1)));
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(RhythmSectionTest, CountZeroWritesNothing) {
  TestRecord rec;
  const auto file = Save(rec, &ScpEcg::PutRhythmMeasData);
  EXPECT_EQ(recb::EntryOf(file, 137)->length, 0u);
  EXPECT_EQ(Probe(file, &ScpEcg::GetRhythmMeasCount), 0u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

class OldRhythmFormTest : public SectionTest, public ::testing::WithParamInterface<uint32_t> {};

// An older record is followed by four bytes; the next record starts L + 4
// bytes after it.
TEST_P(OldRhythmFormTest, OldRecordThenFourBytesThenACurrentOne) {
  const uint32_t old = GetParam();
  std::unique_ptr<RhythmMeasurement> a(MakeRhythm(3));
  a->SetSize(old);
  std::unique_ptr<RhythmMeasurement> b(MakeRhythm(4));
  const auto file = recb::Wrap(137, Bytes().u32(2).raw(a->block, old).u32(0xDEADBEEF).raw(b->block, 672).v);
  TestRecord back;
  back.AddRhythm(MakeRhythm(50));
  back.AddRhythm(new RhythmMeasurement);
  EXPECT_EQ(Read(file, &ScpEcg::GetRhythmMeasData, back), 1);
  const RhythmMeasurement* first = back.GetRhythmAt(0);
  EXPECT_EQ(first->GetSize(), 672u);
  EXPECT_EQ(first->GetVersion(), 103u) << "the record's second word is kept";
  EXPECT_TRUE(std::equal(first->block + 8, first->block + old, a->block + 8));
  for (uint32_t i = old; i < 672; ++i) ASSERT_EQ(first->block[i], 0) << "cleared beyond the old form, at " << i;
  EXPECT_EQ(BlockOf(back.GetRhythmAt(1)), BlockOf(b.get()));
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

INSTANTIATE_TEST_SUITE_P(Rhythm, OldRhythmFormTest, ::testing::Values(644u, 652u));

TEST_F(RhythmSectionTest, UnknownLengthReadsNothingIntoAnyMeasurement) {
  std::unique_ptr<RhythmMeasurement> a(MakeRhythm(5));
  const auto file =
      recb::Wrap(137, Bytes().u32(3).u32(700).raw(a->block + 4, 668).zeros(32).raw(a->block, 672).v);
  TestRecord back;
  for (uint32_t i = 0; i < 3; ++i) back.AddRhythm(MakeRhythm(60 + i));
  EXPECT_EQ(Read(file, &ScpEcg::GetRhythmMeasData, back), 1);
  for (uint32_t i = 0; i < 3; ++i) {
    std::unique_ptr<RhythmMeasurement> same(MakeRhythm(60 + i));
    EXPECT_EQ(BlockOf(back.GetRhythmAt(i)), BlockOf(same.get())) << i;
  }
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

// A missing measurement does not move the walk: the same record is offered
// to the next measurement.
TEST_F(RhythmSectionTest, MissingMeasurementPassesTheRecordOn) {
  std::unique_ptr<RhythmMeasurement> a(MakeRhythm(6));
  std::unique_ptr<RhythmMeasurement> b(MakeRhythm(7));
  const auto file = recb::Wrap(137, Bytes().u32(3).raw(a->block, 672).raw(b->block, 672).v);
  TestRecord back;
  back.AddRhythm(new RhythmMeasurement);
  back.AddRhythm(new RhythmMeasurement);
  back.AddRhythm(new RhythmMeasurement);
  back.SetRhythmAt(0, nullptr);
  EXPECT_EQ(Read(file, &ScpEcg::GetRhythmMeasData, back), 1);
  EXPECT_EQ(BlockOf(back.GetRhythmAt(1)), BlockOf(a.get()));
  EXPECT_EQ(BlockOf(back.GetRhythmAt(2)), BlockOf(b.get()));
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3426, "rhythm summary missing")) << cap.Dump();
}

TEST_F(RhythmSectionTest, EachIndexWithoutAMeasurementIsReported) {
  std::unique_ptr<RhythmMeasurement> a(MakeRhythm(8));
  const auto file = recb::Wrap(137, Bytes().u32(3).raw(a->block, 672).v);
  TestRecord back;
  EXPECT_EQ(Read(file, &ScpEcg::GetRhythmMeasData, back), 1);
  EXPECT_EQ(cap.Messages().size(), 3u) << cap.Dump();
  for (const auto& l : cap.Messages()) EXPECT_EQ(l.line, 3426);
}

// Only 256 records can be read into a test record; a huge count with a
// record the walk cannot pass must still end.
TEST_F(RhythmSectionTest, WalkEndsAfterTheLastPossibleSlot) {
  const auto file = recb::Wrap(137, Bytes().u32(0xFFFFFFFFu).u32(100).zeros(96).v);
  TestRecord back;
  back.AddRhythm(new RhythmMeasurement);
  EXPECT_EQ(Read(file, &ScpEcg::GetRhythmMeasData, back), 1);
  EXPECT_EQ(cap.Messages().size(), 255u) << "every index from 1 to 255 lacks a measurement";
  EXPECT_EQ(Probe(file, &ScpEcg::GetRhythmMeasCount), 0xFFFFFFFFu);
}

TEST_F(RhythmSectionTest, ReaderReportsShortRecords) {
  std::unique_ptr<RhythmMeasurement> a(MakeRhythm(9));
  struct Case {
    std::vector<uint8_t> data;
    int line;
    const char* text;
  };
  const Case cases[] = {
      {Bytes().u32(2).raw(a->block, 672).u16(1).v, 3428, "invalid record - too short"},
      // 670 bytes remain for a record of 672 (an even length: no pad byte).
      {Bytes().u32(1).raw(a->block, 670).v, 3427, "invalid record - too short 2"},
      // 652 + 4 bytes are stepped over although only 652 remain.
      {Bytes().u32(2).u32(652).zeros(648).v, 3428, "invalid record - too short"},
  };
  for (const Case& c : cases) {
    cap.Clear();
    TestRecord back;
    back.AddRhythm(new RhythmMeasurement);
    back.AddRhythm(new RhythmMeasurement);
    EXPECT_EQ(Read(recb::Wrap(137, c.data), &ScpEcg::GetRhythmMeasData, back), 1);
    ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
    EXPECT_TRUE(cap.Has(kOem, "scpecg", c.line, c.text)) << cap.Dump();
  }
}

struct RhythmFailure {
  const char* name;
  void (*damage)(TestRecord&);
  int line;
  const char* text;
};

class RhythmWriterFailureTest : public SectionTest, public ::testing::WithParamInterface<RhythmFailure> {};

const RhythmFailure kRhythmFailures[] = {
    {"Missing", [](TestRecord& r) { r.SetRhythmAt(1, nullptr); }, 3471, "SCP-ECG: rhythm summary missing"},
    {"SizeWordAboveTheBlock", [](TestRecord& r) { r.GetRhythmAt(1)->SetSize(673); }, 3470, "SCP-ECG: size limit"},
};

TEST_P(RhythmWriterFailureTest, LeavesTheSectionOut) {
  TestRecord rec;
  rec.AddRhythm(MakeRhythm(1));
  rec.AddRhythm(MakeRhythm(2));
  GetParam().damage(rec);
  const auto file = Save(rec, &ScpEcg::PutRhythmMeasData);
  EXPECT_EQ(recb::EntryOf(file, 137)->length, 0u);
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", GetParam().line, GetParam().text)) << cap.Dump();
}

INSTANTIATE_TEST_SUITE_P(Rhythm, RhythmWriterFailureTest, ::testing::ValuesIn(kRhythmFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RhythmSectionTest, SizeLimitAndBeginFailure) {
  TestRecord rec;
  rec.AddRhythm(MakeRhythm(1));
  const uint32_t exact = ScpEcg::kEmptyRecordSize + 16 + 4 + 672;
  auto file = Save(rec, &ScpEcg::PutRhythmMeasData, exact);
  EXPECT_EQ(recb::EntryOf(file, 137)->length, 16u + 676u) << "an exact fit is written";
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
  file = Save(rec, &ScpEcg::PutRhythmMeasData, exact - 1);
  EXPECT_EQ(recb::EntryOf(file, 137)->length, 0u);
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3470, "SCP-ECG: size limit")) << cap.Dump();
  cap.Clear();
  Save(rec, &ScpEcg::PutRhythmMeasData, ScpEcg::kEmptyRecordSize + 16 + 2);
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3474, "SCP-ECG: PutRhythmMeasData")) << cap.Dump();
}

// A block whose size word is odd fills the buffer exactly but leaves no
// room for the pad byte: it is reported as not fitting.
TEST_F(RhythmSectionTest, OddBlockWithoutRoomForThePadIsASizeLimit) {
  TestRecord rec;
  rec.AddRhythm(MakeRhythm(1));
  rec.GetRhythmAt(0)->SetSize(651);
  const uint32_t exact = ScpEcg::kEmptyRecordSize + 16 + 4 + 651;
  auto file = Save(rec, &ScpEcg::PutRhythmMeasData, exact);
  EXPECT_EQ(recb::EntryOf(file, 137)->length, 0u);
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3470, "SCP-ECG: size limit")) << cap.Dump();
  file = Save(rec, &ScpEcg::PutRhythmMeasData, exact + 1);
  EXPECT_EQ(recb::EntryOf(file, 137)->length, 16u + 4u + 651u + 1u);
}

}  // namespace
