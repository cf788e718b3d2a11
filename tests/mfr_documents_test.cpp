// Sections 148, 149 and 151 (documents), 150 (Holter configuration) and the
// four length probes of the format check, at the section level.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec_section_fixture.h"

namespace {

using recb::Bytes;

constexpr const char* kOem = "LOGOEMERROR";

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
  return v;
}

DocumentBuffer* Doc(uint32_t capacity, const std::vector<uint8_t>& content) {
  auto* d = new DocumentBuffer(capacity);
  EXPECT_TRUE(d->SetContent(content));
  return d;
}

std::vector<uint8_t> Content(const DocumentBuffer* d) {
  return d ? std::vector<uint8_t>(d->GetData(), d->GetData() + d->GetLength()) : std::vector<uint8_t>{};
}

struct DocCase {
  const char* name;
  uint16_t id;
  void (TestRecord::*attach)(DocumentBuffer*);
  DocumentBuffer* (TestRecord::*get)() const;
  void (ScpEcg::*put)(TestRecord*);
  int (ScpEcg::*read)(TestRecord*);
  uint32_t (ScpEcg::*probe)();
  int sizeLimitLine;
  const char* beginText;
  int beginLine;
  int tooShortLine;
  int tooShort2Line;
  int probeLine;
  // Diary and report are filled only while they already hold something.
  bool needsLength;
};

const DocCase kDocCases[] = {
    {"Diary", 148, &TestRecord::SetDiaryDocument, &TestRecord::GetDiaryDocument, &ScpEcg::PutDiaryPDF,
     &ScpEcg::GetDiaryPDF, &ScpEcg::GetDiaryPDFSize, 3967, "SCP-ECG: PutDiaryPDF", 3968, 3937, 3936, 3997, true},
    {"Report", 149, &TestRecord::SetReportDocument, &TestRecord::GetReportDocument, &ScpEcg::PutReportPDF,
     &ScpEcg::GetReportPDF, &ScpEcg::GetReportPDFSize, 4064, "SCP-ECG: PutReportPDF", 4065, 4034, 4033, 4094, true},
    {"HolterBlock", 151, &TestRecord::SetHolterConfigBlock, &TestRecord::GetHolterConfigBlock,
     &ScpEcg::PutHolterCfgBlock, &ScpEcg::GetHolterCfgBlock, &ScpEcg::GetHolterCfgBlockSize, 4261,
     "SCP-ECG: PutHolterCfgData", 4262, 4231, 4230, 4291, false},
};

using SectionTest = CodecSectionTest;

class DocumentSectionTest : public SectionTest, public ::testing::WithParamInterface<DocCase> {
 protected:
  // A record whose document holds one placeholder byte, so that it is filled.
  DocumentBuffer* AttachTarget(TestRecord& rec, uint32_t capacity) {
    DocumentBuffer* d = Doc(capacity, {0xEE});
    (rec.*GetParam().attach)(d);
    return d;
  }
};

TEST_P(DocumentSectionTest, ThousandByteDocumentGives1012BytesOfDataAndReadsBack) {
  const DocCase& c = GetParam();
  const auto content = Pattern(1000, c.id);
  TestRecord rec;
  (rec.*c.attach)(Doc(1000, content));
  const auto file = Save(rec, c.put);
  auto data = recb::DataOf(file, c.id);
  ASSERT_TRUE(data);
  ASSERT_EQ(data->size(), 1012u);
  EXPECT_EQ(recb::Word(*data, 0), 1u);
  EXPECT_EQ(recb::Word(*data, 4), 1004u);
  EXPECT_TRUE(std::equal(content.begin(), content.end(), data->begin() + 8));
  EXPECT_EQ(recb::Word(*data, 1008), 0u);
  EXPECT_EQ(Probe(file, c.probe), 1004u);

  TestRecord back;
  DocumentBuffer* target = AttachTarget(back, 4096);
  EXPECT_EQ(Read(file, c.read, back), 1);
  EXPECT_EQ(Content(target), content);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_P(DocumentSectionTest, OddDocumentIsPaddedAndReadsBackWhole) {
  const DocCase& c = GetParam();
  const auto content = Pattern(999, c.id + 1);
  TestRecord rec;
  (rec.*c.attach)(Doc(999, content));
  const auto file = Save(rec, c.put);
  auto entry = recb::EntryOf(file, c.id);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->length, 16u + 1011u + 1u);
  EXPECT_EQ(Probe(file, c.probe), 1003u);
  TestRecord back;
  DocumentBuffer* target = AttachTarget(back, 999);
  EXPECT_EQ(Read(file, c.read, back), 1);
  EXPECT_EQ(Content(target), content);
}

TEST_P(DocumentSectionTest, CapacityBelowTheDocumentLeavesItEmpty) {
  const DocCase& c = GetParam();
  TestRecord rec;
  (rec.*c.attach)(Doc(1000, Pattern(1000, 3)));
  const auto file = Save(rec, c.put);
  TestRecord back;
  DocumentBuffer* target = AttachTarget(back, 999);
  EXPECT_EQ(Read(file, c.read, back), 1);
  EXPECT_EQ(target->GetLength(), 0u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_P(DocumentSectionTest, OnlyDiaryAndReportWaitForTheHostToGiveALength) {
  const DocCase& c = GetParam();
  const auto content = Pattern(300, 9);
  const auto file = recb::Wrap(c.id, Bytes().u32(1).u32(304).raw(content).u32(0).v);
  TestRecord back;
  auto* target = new DocumentBuffer(500);  // length 0
  (back.*c.attach)(target);
  EXPECT_EQ(Read(file, c.read, back), 1);
  EXPECT_EQ(Content(target), c.needsLength ? std::vector<uint8_t>{} : content);
}

TEST_P(DocumentSectionTest, CountWordZeroReadsNothingAndProbesZero) {
  const DocCase& c = GetParam();
  for (const auto& data : {Bytes().u32(0).v, Bytes().u32(0).u32(304).zeros(304).v}) {
    const auto file = recb::Wrap(c.id, data);
    TestRecord back;
    DocumentBuffer* target = AttachTarget(back, 500);
    EXPECT_EQ(Read(file, c.read, back), 1);
    EXPECT_EQ(Content(target), std::vector<uint8_t>{0xEE});
    EXPECT_EQ(Probe(file, c.probe), 0u);
  }
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_P(DocumentSectionTest, DataWithoutALengthWordIsTooShortForReaderAndProbe) {
  const DocCase& c = GetParam();
  for (const auto& data : {Bytes().u32(1).v, Bytes().u32(1).u16(9).v, Bytes().u16(1).v}) {
    cap.Clear();
    const auto file = recb::Wrap(c.id, data);
    TestRecord back;
    DocumentBuffer* target = AttachTarget(back, 500);
    EXPECT_EQ(Read(file, c.read, back), 1);
    EXPECT_EQ(Content(target), std::vector<uint8_t>{0xEE});
    EXPECT_EQ(Probe(file, c.probe), 0u);
    auto lines = cap.Messages();
    ASSERT_EQ(lines.size(), 2u) << cap.Dump();
    EXPECT_TRUE(cap.Has(kOem, "scpecg", c.tooShortLine, "invalid record - too short")) << cap.Dump();
    EXPECT_TRUE(cap.Has(kOem, "scpecg", c.probeLine, "invalid record - too short")) << cap.Dump();
  }
}

TEST_P(DocumentSectionTest, LengthWordBeyondTheDataIsTooShort2) {
  const DocCase& c = GetParam();
  // W = 105 needs 105 bytes behind it; 104 are there.
  const auto file = recb::Wrap(c.id, Bytes().u32(1).u32(105).zeros(104).v);
  TestRecord back;
  DocumentBuffer* target = AttachTarget(back, 500);
  EXPECT_EQ(Read(file, c.read, back), 1);
  EXPECT_EQ(Content(target), std::vector<uint8_t>{0xEE});
  EXPECT_TRUE(cap.Has(kOem, "scpecg", c.tooShort2Line, "invalid record - too short 2")) << cap.Dump();
  // The probe only reports the word.
  EXPECT_EQ(Probe(file, c.probe), 105u);
  EXPECT_EQ(cap.Messages().size(), 1u) << cap.Dump();
}

TEST_P(DocumentSectionTest, AbsentSectionReadsNothingAndProbesZero) {
  const DocCase& c = GetParam();
  const auto file = recb::Wrap(1, Bytes().u32(0).v);
  TestRecord back;
  DocumentBuffer* target = AttachTarget(back, 500);
  EXPECT_EQ(Read(file, c.read, back), 0);
  EXPECT_EQ(Content(target), std::vector<uint8_t>{0xEE});
  EXPECT_EQ(Probe(file, c.probe), 0u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_P(DocumentSectionTest, EmptyOrMissingDocumentWritesNothing) {
  const DocCase& c = GetParam();
  TestRecord none;
  TestRecord empty;
  (empty.*c.attach)(new DocumentBuffer(100));
  for (TestRecord* rec : {&none, &empty}) {
    uint32_t end = 0;
    const auto file = Save(*rec, c.put, 1000000, &end);
    EXPECT_EQ(recb::EntryOf(file, c.id)->length, 0u);
    EXPECT_EQ(end, ScpEcg::kEmptyRecordSize) << "no header reserved";
  }
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_P(DocumentSectionTest, SizeLimitLeavesTheSectionOutAndItsHeaderBehind) {
  const DocCase& c = GetParam();
  const uint32_t exact = ScpEcg::kEmptyRecordSize + 16 + 1012;
  TestRecord rec;
  (rec.*c.attach)(Doc(1000, Pattern(1000, 1)));
  uint32_t end = 0;
  auto file = Save(rec, c.put, exact, &end);
  EXPECT_EQ(recb::EntryOf(file, c.id)->length, 16u + 1012u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();

  file = Save(rec, c.put, exact - 1, &end);
  EXPECT_EQ(recb::EntryOf(file, c.id)->length, 0u);
  EXPECT_EQ(end, ScpEcg::kEmptyRecordSize + 16) << "the next section starts 16 bytes further on";
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", c.sizeLimitLine, "SCP-ECG: size limit")) << cap.Dump();
}

TEST_P(DocumentSectionTest, NoRoomForTheHeaderLogsTheBeginFailure) {
  const DocCase& c = GetParam();
  TestRecord rec;
  (rec.*c.attach)(Doc(10, Pattern(10, 1)));
  const auto file = Save(rec, c.put, ScpEcg::kEmptyRecordSize + 15);
  EXPECT_EQ(recb::EntryOf(file, c.id)->length, 0u);
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 4440, "SCP-ECG: Buffer overflow")) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", c.beginLine, c.beginText)) << cap.Dump();
}

INSTANTIATE_TEST_SUITE_P(Documents, DocumentSectionTest, ::testing::ValuesIn(kDocCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------- 150

class HolterCfgSectionTest : public SectionTest {
 protected:
  static void Fill(HolterConfig& h, uint32_t seed) {
    uint32_t x = seed * 2654435761u + 1;
    auto next = [&] { return x = x * 1664525u + 1013904223u; };
    for (auto& v : h.block1->values) v = next();
    for (auto* e : h.block1->entries) {
      e->code = next() % 13 + 1;
      e->value = next();
    }
    for (auto& f : h.block2->flags) f = next() & 1;
    for (auto& v : h.block2->values) v = next();
    for (auto& v : h.block2->extra) v = next();
    for (auto& v : h.block3->values) v = next();
    h.block3->value68 = next();
    h.block3->flags = next() & HolterBlock3::kStoredFlagBits;
    h.block4->value = next();
    for (auto* e : h.block4->entries) {
      e->flag = next() & 1;
      for (auto& v : e->values) v = next();
    }
    for (auto& v : h.block5->values) v = next();
    for (auto& v : h.block6->values) v = next();
    h.closingFlag = 1;
  }
  static void ExpectEqual(const HolterConfig& a, const HolterConfig& b) {
    EXPECT_EQ(a.sizeWord, b.sizeWord);
    EXPECT_EQ(a.version, b.version);
    EXPECT_EQ(0, std::memcmp(a.block1->values, b.block1->values, sizeof a.block1->values));
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(a.block1->entries[i]->code, b.block1->entries[i]->code);
      EXPECT_EQ(a.block1->entries[i]->value, b.block1->entries[i]->value);
    }
    EXPECT_EQ(0, std::memcmp(a.block2, b.block2, sizeof *a.block2));
    EXPECT_EQ(0, std::memcmp(a.block3, b.block3, sizeof *a.block3));
    EXPECT_EQ(a.block4->value, b.block4->value);
    for (int i = 0; i < 25; ++i) {
      EXPECT_EQ(a.block4->entries[i]->flag, b.block4->entries[i]->flag);
      EXPECT_EQ(0, std::memcmp(a.block4->entries[i]->values, b.block4->entries[i]->values, 12));
    }
    EXPECT_EQ(0, std::memcmp(a.block5, b.block5, sizeof *a.block5));
    EXPECT_EQ(0, std::memcmp(a.block6, b.block6, sizeof *a.block6));
    EXPECT_EQ(a.closingFlag, b.closingFlag);
  }
};

TEST_F(HolterCfgSectionTest, Version13ConfigurationGives708BytesAndReadsBack) {
  TestRecord rec;
  auto* cfg = new HolterConfig;
  Fill(*cfg, 5);
  rec.SetHolterConfig(cfg);
  const auto file = Save(rec, &ScpEcg::PutHolterCfgData);
  auto data = recb::DataOf(file, 150);
  ASSERT_TRUE(data);
  ASSERT_EQ(data->size(), 708u);
  EXPECT_EQ(recb::Word(*data, 0), 1u);
  EXPECT_EQ(recb::Word(*data, 4), 704u);
  EXPECT_EQ(recb::Word(*data, 8), 696u) << "size word";
  EXPECT_EQ(recb::Word(*data, 12), 13u) << "version";
  EXPECT_EQ(recb::Word(*data, 8 + 692), 1u) << "closing flag";
  EXPECT_EQ(Probe(file, &ScpEcg::GetHolterCfgSize), 704u);

  TestRecord back;
  auto* target = new HolterConfig;
  back.SetHolterConfig(target);
  EXPECT_EQ(Read(file, &ScpEcg::GetHolterCfgData, back), 1);
  ExpectEqual(*cfg, *target);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(HolterCfgSectionTest, LargerSizeWordStillWritesTheVersion13Payload) {
  TestRecord rec;
  auto* cfg = new HolterConfig;
  cfg->sizeWord = 1000;
  rec.SetHolterConfig(cfg);
  const auto data = recb::DataOf(Save(rec, &ScpEcg::PutHolterCfgData), 150);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->size(), 708u);
  EXPECT_EQ(recb::Word(*data, 8), 1000u);
}

// The length word is compared with what remains counting itself: a W of 704
// exactly fills 708 bytes of data, 705 does not fit.
TEST_F(HolterCfgSectionTest, LengthWordIsComparedWithTheRemainderIncludingItself) {
  HolterConfig source;
  Fill(source, 11);
  uint32_t n = 0;
  auto payload = source.Serialize(&n);
  ASSERT_EQ(n, 700u);
  for (uint32_t w : {704u, 705u}) {
    cap.Clear();
    const auto file = recb::Wrap(150, Bytes().u32(1).u32(w).raw(payload.get(), 700).v);
    TestRecord back;
    auto* target = new HolterConfig;
    back.SetHolterConfig(target);
    EXPECT_EQ(Read(file, &ScpEcg::GetHolterCfgData, back), 1);
    if (w == 704) {
      ExpectEqual(source, *target);
      EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
    } else {
      EXPECT_EQ(target->block5->values[0], 0u) << "left as it was";
      EXPECT_TRUE(cap.Has(kOem, "scpecg", 4133, "GetHolterCfgData: invalid record - too short 2")) << cap.Dump();
    }
  }
}

TEST_F(HolterCfgSectionTest, ShortDataUsesTheSectionsOwnTextAndTheProbeTheCommonOne) {
  const auto file = recb::Wrap(150, Bytes().u32(1).v);
  TestRecord back;
  back.SetHolterConfig(new HolterConfig);
  EXPECT_EQ(Read(file, &ScpEcg::GetHolterCfgData, back), 1);
  EXPECT_EQ(Probe(file, &ScpEcg::GetHolterCfgSize), 0u);
  ASSERT_EQ(cap.Messages().size(), 2u) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 4134, "GetHolterCfgData: invalid record - too short")) << cap.Dump();
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 4194, "invalid record - too short")) << cap.Dump();
}

TEST_F(HolterCfgSectionTest, Version12RecordShiftsTheBlocksBehindBlock3) {
  HolterConfig source;
  Fill(source, 12);
  uint32_t n = 0;
  auto v13 = source.Serialize(&n);
  // The version-12 payload: block 3 without its word at 68.
  std::vector<uint8_t> p(v13.get(), v13.get() + 700);
  p.erase(p.begin() + 120 + 68, p.begin() + 120 + 72);
  p[4] = 12;
  ASSERT_EQ(p.size(), 696u);
  const auto file = recb::Wrap(150, Bytes().u32(1).u32(700).raw(p).v);
  TestRecord back;
  auto* target = new HolterConfig;
  target->version = 99;
  target->block3->value68 = 77;
  back.SetHolterConfig(target);
  EXPECT_EQ(Read(file, &ScpEcg::GetHolterCfgData, back), 1);
  EXPECT_EQ(target->version, 13u);
  EXPECT_EQ(target->block3->value68, 0u);
  EXPECT_EQ(target->block3->flags, source.block3->flags);
  EXPECT_EQ(target->block4->value, source.block4->value);
  EXPECT_EQ(0, std::memcmp(target->block6, source.block6, sizeof *target->block6));
  EXPECT_EQ(target->closingFlag, 1u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(HolterCfgSectionTest, WriterFailuresUseTheirOwnLines) {
  TestRecord rec;
  rec.SetHolterConfig(new HolterConfig);
  uint32_t end = 0;
  auto file = Save(rec, &ScpEcg::PutHolterCfgData, ScpEcg::kEmptyRecordSize + 16 + 707, &end);
  EXPECT_EQ(recb::EntryOf(file, 150)->length, 0u);
  EXPECT_EQ(end, ScpEcg::kEmptyRecordSize + 16);
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 4164, "SCP-ECG: size limit")) << cap.Dump();
  cap.Clear();
  file = Save(rec, &ScpEcg::PutHolterCfgData, ScpEcg::kEmptyRecordSize + 16 + 708);
  EXPECT_EQ(recb::EntryOf(file, 150)->length, 16u + 708u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
  file = Save(rec, &ScpEcg::PutHolterCfgData, ScpEcg::kEmptyRecordSize + 8);
  EXPECT_TRUE(cap.Has(kOem, "scpecg", 4165, "SCP-ECG: PutHolterCfgData")) << cap.Dump();
}

TEST_F(HolterCfgSectionTest, AbsentConfigurationIsNeitherWrittenNorRead) {
  TestRecord rec;
  const auto file = Save(rec, &ScpEcg::PutHolterCfgData);
  EXPECT_EQ(recb::EntryOf(file, 150)->length, 0u);
  EXPECT_EQ(Probe(file, &ScpEcg::GetHolterCfgSize), 0u);
  // A section present but no configuration attached: the walk still runs.
  const auto other = recb::Wrap(150, Bytes().u32(1).u32(704).zeros(700).v);
  EXPECT_EQ(Read(other, &ScpEcg::GetHolterCfgData, rec), 1);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

}  // namespace
