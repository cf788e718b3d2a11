// Section 129 (the 32 trend slots), at the section level.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec_section_fixture.h"

namespace {

using recb::Bytes;

constexpr const char* kOem = "LOGOEMERROR";
constexpr const char* kMem = "LOGMEMORYERROR";

// A host trend with c samples of v values; value j of sample s is
// seed * 1000 + s * 10 + j (negative for odd seeds), time 1000 + 7s.
TrendRecord* MakeTrend(uint32_t v, uint32_t c, int32_t seed, uint32_t baseTime = 0) {
  auto* t = new TrendRecord(v, baseTime);
  std::vector<int32_t> values(v);
  for (uint32_t s = 0; s < c; ++s) {
    for (uint32_t j = 0; j < v; ++j) values[j] = (seed % 2 ? -1 : 1) * (seed * 1000 + int32_t(s) * 10 + int32_t(j));
    EXPECT_TRUE(t->AddSample(baseTime + 1000 + 7 * s, values));
  }
  for (uint32_t j = 0; j < v; ++j) t->SetPerValue(j, 0xA0 + j);
  return t;
}

// The record of a trend, built independently of the class.
std::vector<uint8_t> TrendBytes(uint32_t v, uint32_t c, int32_t seed) {
  Bytes b;
  b.u32(8 + 4 * c + 4 * c * v + 4 * v).u16(static_cast<uint16_t>(c)).u16(static_cast<uint16_t>(v));
  for (uint32_t s = 0; s < c; ++s) b.u32(1000 + 7 * s);
  for (uint32_t s = 0; s < c; ++s)
    for (uint32_t j = 0; j < v; ++j)
      b.u32(static_cast<uint32_t>((seed % 2 ? -1 : 1) * (seed * 1000 + int32_t(s) * 10 + int32_t(j))));
  for (uint32_t j = 0; j < v; ++j) b.u32(0xA0 + j);
  return b.v;
}

class TrendSectionTest : public CodecSectionTest {
 protected:
  std::vector<uint8_t> Save(TestRecord& rec, uint32_t capacity = 1000000, uint32_t* end = nullptr) {
    return CodecSectionTest::Save(rec, &ScpEcg::PutTrendData, capacity, end);
  }
  int Read(const std::vector<uint8_t>& file, TestRecord& rec) {
    return CodecSectionTest::Read(file, &ScpEcg::GetTrendData, rec);
  }
  // Section data of 32 slots, slot i holding records[i] (and a zero word)
  // or a single zero word.
  static std::vector<uint8_t> Slots(uint32_t count, const std::vector<std::vector<uint8_t>>& records) {
    Bytes b;
    b.u32(count);
    for (size_t i = 0; i < 32; ++i) {
      if (i < records.size() && !records[i].empty())
        b.raw(records[i]).u32(0);
      else
        b.u32(0);
    }
    return b.v;
  }
};

TEST_F(TrendSectionTest, NoTrendsGive132BytesOfData) {
  TestRecord rec;
  const auto file = Save(rec);
  auto data = recb::DataOf(file, 129);
  ASSERT_TRUE(data);
  ASSERT_EQ(data->size(), 132u);
  EXPECT_EQ(recb::Word(*data, 0), 32u);
  for (size_t at = 4; at < 132; at += 4) EXPECT_EQ(recb::Word(*data, at), 0u) << at;
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(TrendSectionTest, TwoSamplesOfThreeValuesTake56Bytes) {
  TestRecord rec;
  rec.SetTrendAt(1, MakeTrend(3, 2, 4));
  const auto data = recb::DataOf(Save(rec), 129);
  ASSERT_TRUE(data);
  ASSERT_EQ(data->size(), 132u + 52u);
  const std::vector<uint8_t> expected = Slots(32, {{}, TrendBytes(3, 2, 4)});
  EXPECT_EQ(*data, expected);
}

// Slots holding records of other value counts than the host's trend: extra
// host values are 0, surplus record values are dropped.
TEST_F(TrendSectionTest, SamplesAreAddedWithTheHostsOwnValueCount) {
  TestRecord rec;
  rec.SetTrendAt(0, MakeTrend(3, 5, 1));
  rec.SetTrendAt(5, MakeTrend(2, 3, 2));
  rec.SetTrendAt(31, MakeTrend(16, 2, 3));
  const auto file = Save(rec);

  TestRecord back;
  back.SetTrendAt(0, new TrendRecord(3));
  back.SetTrendAt(5, new TrendRecord(4));   // two more than the record
  back.SetTrendAt(31, new TrendRecord(1));  // fifteen fewer
  EXPECT_EQ(Read(file, back), 1);
  struct Slot {
    int i;
    uint32_t fileValues;
  };
  for (Slot s : {Slot{0, 3}, Slot{5, 2}, Slot{31, 16}}) {
    const TrendRecord* src = rec.GetTrendAt(s.i);
    const TrendRecord* dst = back.GetTrendAt(s.i);
    ASSERT_EQ(dst->GetSampleCount(), src->GetSampleCount()) << s.i;
    for (uint32_t k = 0; k < src->GetSampleCount(); ++k) {
      EXPECT_EQ(dst->GetTime(k), src->GetTime(k));
      for (uint32_t j = 0; j < dst->GetValueCount(); ++j)
        EXPECT_EQ(dst->GetValue(k, j), j < s.fileValues ? src->GetValue(k, j) : 0) << s.i << " " << k << " " << j;
    }
  }
  // Slots without a host trend are skipped, slots without a record leave
  // the host's trend empty.
  TestRecord partial;
  partial.SetTrendAt(1, new TrendRecord(3));
  partial.SetTrendAt(5, new TrendRecord(2));
  EXPECT_EQ(Read(file, partial), 1);
  EXPECT_EQ(partial.GetTrendAt(1)->GetSampleCount(), 0u);
  EXPECT_EQ(partial.GetTrendAt(5)->GetSampleCount(), 3u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(TrendSectionTest, BaseTimeIsTakenOffEveryTime) {
  const auto file = recb::Wrap(129, Slots(32, {TrendBytes(1, 3, 0)}));
  TestRecord back;
  back.SetTrendAt(0, new TrendRecord(1, 100));
  EXPECT_EQ(Read(file, back), 1);
  const TrendRecord* t = back.GetTrendAt(0);
  ASSERT_EQ(t->GetSampleCount(), 3u);
  for (uint32_t k = 0; k < 3; ++k) EXPECT_EQ(t->GetTime(k), 1000 + 7 * k - 100);
}

// A trend holds 16384 samples; what the file holds beyond that is dropped
// without a message, also when the trend already held samples.
TEST_F(TrendSectionTest, SamplesBeyond16384AreDropped) {
  const auto file = recb::Wrap(129, Slots(32, {TrendBytes(1, 16385, 2), TrendBytes(1, 10, 2)}));
  TestRecord back;
  back.SetTrendAt(0, new TrendRecord(1));
  back.SetTrendAt(1, MakeTrend(1, 16380, 5));
  EXPECT_EQ(Read(file, back), 1);
  EXPECT_EQ(back.GetTrendAt(0)->GetSampleCount(), 16384u);
  EXPECT_EQ(back.GetTrendAt(0)->GetTime(16383), 1000u + 7 * 16383);
  EXPECT_EQ(back.GetTrendAt(1)->GetSampleCount(), 16384u);
  EXPECT_EQ(back.GetTrendAt(1)->GetTime(16380), 1000u) << "first sample of the file follows the old ones";
  EXPECT_EQ(back.GetTrendAt(1)->GetValue(16383, 0), 2000 + 30);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(TrendSectionTest, SlotCount33ReadsThirtyTwoSlotsThenStops) {
  auto data = Slots(33, {TrendBytes(2, 1, 0)});
  Bytes extra;
  extra.raw(data).raw(TrendBytes(2, 1, 0)).u32(0);
  const auto file = recb::Wrap(129, extra.v);
  TestRecord back;
  back.SetTrendAt(0, new TrendRecord(2));
  EXPECT_EQ(Read(file, back), 0);
  EXPECT_EQ(back.GetTrendAt(0)->GetSampleCount(), 1u);
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3102, "invalid record - too many trends")) << cap.Dump();
}

TEST_F(TrendSectionTest, FewerSlotsThanTheCountReadsAllThereAre) {
  const auto file = recb::Wrap(129, Bytes().u32(2).raw(TrendBytes(1, 2, 0)).u32(0).u32(0).v);
  TestRecord back;
  back.SetTrendAt(0, new TrendRecord(1));
  EXPECT_EQ(Read(file, back), 1);
  EXPECT_EQ(back.GetTrendAt(0)->GetSampleCount(), 2u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

struct DamagedSlot {
  const char* name;
  std::vector<uint8_t> data;
  int line;
  const char* text;
  uint32_t samplesInSlot0;
};

class TrendDamageTest : public TrendSectionTest, public ::testing::WithParamInterface<DamagedSlot> {};

const DamagedSlot kDamaged[] = {
    {"NoRoomForTheLengthWord", Bytes().u32(3).raw(TrendBytes(1, 2, 0)).u32(0).u16(0).v, 3097,
     "invalid record - too short", 2},
    {"RecordPastTheData", Bytes().u32(2).raw(TrendBytes(1, 2, 0)).u32(0).u32(100).zeros(92).v, 3091,
     "invalid record - too short 2", 2},
    {"LengthBelowTheHeader", Bytes().u32(2).raw(TrendBytes(1, 2, 0)).u32(0).u32(4).u32(0).v, 3091,
     "invalid record - too short 2", 2},
};

TEST_P(TrendDamageTest, StopsAtTheDamagedSlotKeepingEarlierOnes) {
  const auto file = recb::Wrap(129, GetParam().data);
  TestRecord back;
  back.SetTrendAt(0, new TrendRecord(1));
  back.SetTrendAt(1, new TrendRecord(1));
  back.SetTrendAt(2, new TrendRecord(1));
  EXPECT_EQ(Read(file, back), 0);
  EXPECT_EQ(back.GetTrendAt(0)->GetSampleCount(), GetParam().samplesInSlot0);
  EXPECT_EQ(back.GetTrendAt(1)->GetSampleCount(), 0u);
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", GetParam().line, GetParam().text)) << cap.Dump();
}

INSTANTIATE_TEST_SUITE_P(Trend, TrendDamageTest, ::testing::ValuesIn(kDamaged),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TrendSectionTest, AbsentOrTinySectionReadsNothing) {
  TestRecord back;
  back.SetTrendAt(0, new TrendRecord(1));
  EXPECT_EQ(Read(recb::Wrap(1, Bytes().u32(0).v), back), 0);
  EXPECT_EQ(Read(recb::Wrap(129, Bytes().u16(1).v), back), 0);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(TrendSectionTest, TrendThatDoesNotFitLeavesTheSectionOut) {
  TestRecord rec;
  rec.SetTrendAt(31, MakeTrend(2, 10, 1));  // 8 + 40 + 80 + 8 = 136 bytes, in the last slot
  const uint32_t exact = ScpEcg::kEmptyRecordSize + 16 + 132 + 136;
  auto file = Save(rec, exact);
  EXPECT_EQ(recb::EntryOf(file, 129)->length, 16u + 132u + 136u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
  uint32_t end = 0;
  file = Save(rec, exact - 1, &end);
  EXPECT_EQ(recb::EntryOf(file, 129)->length, 0u);
  EXPECT_EQ(end, ScpEcg::kEmptyRecordSize + 16);
  auto lines = cap.Messages();
  ASSERT_EQ(lines.size(), 2u) << cap.Dump();
  EXPECT_EQ(lines[0].line, 3140);
  EXPECT_EQ(lines[0].text, "SCP-ECG: size limit");
  EXPECT_EQ(lines[1].line, 3152);
  EXPECT_EQ(lines[1].text, "SCP-ECG: size limit");
}

// Room runs out among empty slots: no trend is refused, only the count of
// slots written is short.
TEST_F(TrendSectionTest, RoomRunningOutAmongEmptySlotsIsReportedOnce) {
  TestRecord rec;
  for (uint32_t extra : {0u, 2u}) {
    cap.Clear();
    const auto file = Save(rec, ScpEcg::kEmptyRecordSize + 16 + 128 + extra);
    EXPECT_EQ(recb::EntryOf(file, 129)->length, 0u);
    ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
    EXPECT_TRUE(cap.Has(kOem, "scpecg", 3152, "SCP-ECG: size limit")) << cap.Dump();
  }
}

TEST_F(TrendSectionTest, TrendWithoutDataBlockIsAMemoryErrorThenASizeLimit) {
  TestRecord rec;
  auto* t = new TrendRecord(2);
  delete[] reinterpret_cast<uint32_t*>(t->dataBlock);
  t->dataBlock = nullptr;
  rec.SetTrendAt(0, t);
  const auto file = Save(rec);
  EXPECT_EQ(recb::EntryOf(file, 129)->length, 0u);
  auto lines = cap.Messages();
  ASSERT_EQ(lines.size(), 2u) << cap.Dump();
  EXPECT_EQ(lines[0].call, kMem);
  EXPECT_EQ(lines[0].line, 3146);
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 3152, "SCP-ECG: size limit")) << cap.Dump();
}

TEST_F(TrendSectionTest, NoRoomForHeaderOrSlotCountIsSilent) {
  TestRecord rec;
  Save(rec, ScpEcg::kEmptyRecordSize + 16 + 3);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
  Save(rec, ScpEcg::kEmptyRecordSize + 15);
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 4440, "SCP-ECG: Buffer overflow")) << "only the container's own message";
}

}  // namespace
