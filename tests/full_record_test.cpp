// A test record carrying every kind of sub-record: saved, checked with the
// format check, fetched back equal; then every reader of sections 129, 133,
// 137 and 148 to 151 (and the six probes) on every cut of its section and
// on randomly damaged copies with correct CRCs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "log_capture.h"
#include "platform/platform.h"
#include "record_builder.h"
#include "scp/crc.h"
#include "scp/scpecg.h"
#include "scp/scpsrv.h"
#include "scp/service.h"
#include "test_util.h"

namespace {

// ----------------------------------------------------------------- PDF

// A one-page PDF whose content stream draws deterministic line segments
// until the file is about `bytes` long; the cross-reference table holds the
// real offsets of its objects.
std::vector<uint8_t> MakePdf(size_t bytes, uint32_t seed) {
  std::string content;
  uint32_t x = seed * 2654435761u + 17;
  auto next = [&] { return (x = x * 1664525u + 1013904223u) >> 8; };
  char line[96];
  while (content.size() + 600 < bytes) {
    std::snprintf(line, sizeof line, "%u %u m %u %u l %u.%02u w S\n", next() % 612, next() % 792, next() % 612,
                  next() % 792, next() % 3, next() % 100);
    content += line;
  }
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  size_t offsets[5] = {};
  auto object = [&](int id, const std::string& body) {
    offsets[id] = pdf.size();
    pdf += std::to_string(id) + " 0 obj\n" + body + "\nendobj\n";
  };
  object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  object(4, "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  const size_t xref = pdf.size();
  pdf += "xref\n0 5\n0000000000 65535 f \n";
  for (int id = 1; id <= 4; ++id) {
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offsets[id]);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return std::vector<uint8_t>(pdf.begin(), pdf.end());
}

// The structure a PDF reader relies on: header, trailer, every offset of
// the cross-reference table, and the stream length.
bool IsWellFormedPdf(const std::vector<uint8_t>& bytes) {
  const std::string pdf(bytes.begin(), bytes.end());
  if (pdf.rfind("%PDF-1.", 0) != 0 || pdf.size() < 6 || pdf.substr(pdf.size() - 6) != "%%EOF\n") return false;
  const size_t sx = pdf.rfind("startxref\n");
  if (sx == std::string::npos) return false;
  const size_t xref = std::stoul(pdf.substr(sx + 10));
  if (pdf.compare(xref, 10, "xref\n0 5\n0") != 0) return false;
  for (int id = 1; id <= 4; ++id) {
    const size_t at = std::stoul(pdf.substr(xref + 9 + 20 * id, 10));
    if (pdf.compare(at, std::to_string(id).size() + 6, std::to_string(id) + " 0 obj") != 0) return false;
  }
  const size_t len = pdf.find("/Length ");
  const size_t begin = pdf.find("stream\n", len) + 7;
  const size_t end = pdf.find("\nendstream", begin);
  return std::stoul(pdf.substr(len + 8)) == end - begin;
}

TEST(FullRecordPdf, GeneratedDocumentIsAWellFormedPdf) {
  const auto pdf = MakePdf(300000, 1);
  EXPECT_GE(pdf.size(), 299300u);
  EXPECT_LE(pdf.size(), 300000u);
  EXPECT_TRUE(IsWellFormedPdf(pdf));
  auto broken = pdf;
  broken.insert(broken.begin() + 20, ' ');  // shifts every object
  EXPECT_FALSE(IsWellFormedPdf(broken)) << "the check looks at the offsets";
}

// --------------------------------------------------------- the record

uint32_t Mix(uint32_t& x) { return x = x * 1103515245u + 12345u; }

struct Shape {
  size_t diaryBytes;
  size_t reportBytes;
};

constexpr uint8_t kSlots[3] = {0, 1, 2};
constexpr uint32_t kWaveSamples = 2000;
constexpr uint32_t kRate = 500;
constexpr uint32_t kResolution = 5000;

struct ComplexShape {
  uint32_t n, s;
  bool extraSlot5;
};
constexpr ComplexShape kComplexShapes[] = {{2, 120, true}, {0, 0, false}, {3, 64, false}};

ComplexData* EmptyComplex(const ComplexShape& c) {
  auto* d = new ComplexData(c.n, c.s);
  if (c.extraSlot5) d->SetLead(5, new ComplexLead(0, c.s));
  d->recordLength = d->RequiredLength();
  return d;
}

struct TrendShape {
  int slot;
  uint32_t values, samples;
};
constexpr TrendShape kTrendShapes[] = {{0, 4, 50}, {7, 1, 3}, {31, 16, 10}};

void Fill(TestRecord& r, const Shape& shape) {
  uint32_t x = 7;
  r.SetProcedureType(4);  // Holter: the annotation lists carry their extensions
  r.SetPatientName("Ann", "", "Example");

  auto* wave = new EcgWaveform(3, kWaveSamples, kRate, kResolution, kSlots);
  for (uint8_t k : kSlots)
    for (uint32_t i = 0; i < kWaveSamples; ++i)
      wave->Channel(k)[i] = static_cast<int16_t>(900 * std::sin(i * 0.05 * (k + 1)) + (Mix(x) >> 28));
  r.SetWaveform(wave);

  auto annotations = [&](uint32_t count) {
    auto* a = new AnnotationList(count + 4, AnnotationList::kHolterExtensions);
    a->count = count;
    a->valueA = Mix(x);
    a->valueB = Mix(x);
    for (uint32_t i = 0; i < count; ++i) {
      a->entries[i] = AnnotationEntry{Mix(x), static_cast<uint8_t>(Mix(x)), static_cast<uint8_t>(Mix(x)),
                                      static_cast<uint16_t>(Mix(x))};
      for (uint32_t e = 17; e < 20; ++e)
        for (auto& b : a->extensions[e][i].bytes) b = static_cast<uint8_t>(Mix(x) >> 24);
    }
    return a;
  };
  r.SetAnnotations(annotations(12));
  r.SetPAnnotations(annotations(5));

  auto* episodes = new EpisodeList(6, 2048);
  episodes->count = 3;
  for (uint32_t i = 0; i < 3; ++i) {
    EpisodeEntry& e = episodes->entries[i];
    e.value1 = Mix(x), e.value2 = Mix(x), e.value3 = Mix(x), e.value4 = Mix(x), e.value5 = Mix(x);
    e.typeCode = Mix(x) % 36;
    episodes->SetText(i, ("episode " + std::to_string(i)).c_str());
  }
  r.SetEpisodes(episodes);

  auto* pacemaker = new PacemakerList(8);
  pacemaker->count = 5;
  for (uint32_t i = 0; i < 5; ++i) pacemaker->values[i] = Mix(x);
  r.SetPacemakerList(pacemaker);

  auto* bp = new BloodPressureData(4);
  bp->count = 3;
  for (uint32_t i = 0; i < 3; ++i)
    for (auto& w : bp->readings[i].words) w = Mix(x);
  r.SetBloodPressureDataRecord(bp);
  auto* results = new BloodPressureResults;
  results->value1 = Mix(x);
  results->value2 = Mix(x);
  for (auto& g : results->groups) {
    for (auto& v : g.values) v = Mix(x);
    for (auto& v : g.extra) v = Mix(x);
  }
  r.SetBloodPressureResultsRecord(results);
  auto* spiro = new SpirometryData;
  for (auto& w : spiro->words) w = Mix(x);
  r.SetSpirometryDataRecord(spiro);

  AuditTrail* audit = r.GetAuditTrailRecord();
  audit->SetCount(3);
  for (int32_t i = 0; i < 3; ++i) {
    AuditEntry* e = audit->GetEntry(i);
    e->year = 2020 + i, e->month = 1 + i, e->day = 10 + i, e->hour = 8 + i, e->minute = 30 + i;
    e->milliseconds = 12345 + i;
    e->actionCode = i;
    std::snprintf(e->text, sizeof e->text, "operator %d", i);
  }

  uint32_t seed = 1;
  for (const ComplexShape& c : kComplexShapes) {
    ComplexData* d = EmptyComplex(c);
    d->value1 = -static_cast<int32_t>(seed);
    d->codeA = seed % 4;
    d->codeB = seed % 2;
    d->value5 = Mix(x);
    for (auto& v : d->values7to15) v = Mix(x);
    for (ComplexLead* lead : d->leads) {
      if (lead == nullptr) continue;
      lead->leadCode = Mix(x) % 20;
      for (uint32_t i = 0; i < c.s; ++i) lead->samples[i] = static_cast<int16_t>(Mix(x) >> 16);
    }
    d->measurements.m1 = Mix(x);
    d->measurements.flag = 1;
    for (auto& g : d->measurements.groups)
      for (auto& v : g) v = static_cast<uint16_t>(Mix(x) >> 16);
    std::snprintf(d->textBlock.text, sizeof d->textBlock.text, "complex %u", seed++);
    r.AddComplex(d);
  }
  for (uint32_t i = 0; i < 3; ++i) {
    auto* m = new RhythmMeasurement;
    for (size_t b = 8; b < RhythmMeasurement::kBlockSize; ++b) m->block[b] = static_cast<uint8_t>(Mix(x) >> 24);
    r.AddRhythm(m);
  }
  for (const TrendShape& t : kTrendShapes) {
    auto* trend = new TrendRecord(t.values);
    std::vector<int32_t> values(t.values);
    for (uint32_t s = 0; s < t.samples; ++s) {
      for (auto& v : values) v = static_cast<int32_t>(Mix(x));
      trend->AddSample(1000 * s + t.slot, values);
    }
    r.SetTrendAt(t.slot, trend);
  }

  auto document = [](const std::vector<uint8_t>& bytes) {
    auto* d = new DocumentBuffer(static_cast<uint32_t>(bytes.size()));
    d->SetContent(bytes);
    return d;
  };
  r.SetDiaryDocument(document(MakePdf(shape.diaryBytes, 1)));
  r.SetReportDocument(document(MakePdf(shape.reportBytes, 2)));
  auto* cfg = new HolterConfig;
  for (auto& v : cfg->block3->values) v = Mix(x);
  cfg->block3->value68 = Mix(x);
  for (auto* e : cfg->block1->entries) e->code = Mix(x) % 14, e->value = Mix(x);
  for (auto* e : cfg->block4->entries) e->flag = Mix(x) & 1, e->values[2] = Mix(x);
  for (auto& v : cfg->block6->values) v = Mix(x);
  cfg->closingFlag = 1;
  r.SetHolterConfig(cfg);
  std::vector<uint8_t> block(1501);
  for (auto& b : block) b = static_cast<uint8_t>(Mix(x) >> 24);
  r.SetHolterConfigBlock(document(block));
}

// What a host attaches before a fetch, sized from the format check.
void AttachTargets(TestRecord& r, const ValidFormatInfo& info, const TestRecord& like) {
  std::vector<uint8_t> slots(info.channel, info.channel + std::min<uint32_t>(info.leadCount, 8));
  r.SetWaveform(new EcgWaveform(info.leadCount, info.longestLead, info.samplingRate, info.amplitudeMultiplier, slots));
  r.SetAnnotations(new AnnotationList(like.GetAnnotations()->capacity, AnnotationList::kHolterExtensions));
  r.SetPAnnotations(new AnnotationList(like.GetPAnnotations()->capacity, AnnotationList::kHolterExtensions));
  r.SetEpisodes(new EpisodeList(6, 2048));
  r.SetPacemakerList(new PacemakerList(8));
  r.SetBloodPressureDataRecord(new BloodPressureData(4));
  r.SetBloodPressureResultsRecord(new BloodPressureResults);
  r.SetSpirometryDataRecord(new SpirometryData);
  for (uint32_t i = 0; i < info.complexCount && i < std::size(kComplexShapes); ++i)
    r.AddComplex(EmptyComplex(kComplexShapes[i]));
  for (uint32_t i = 0; i < info.rhythmMeasCount; ++i) r.AddRhythm(new RhythmMeasurement);
  for (const TrendShape& t : kTrendShapes) r.SetTrendAt(t.slot, new TrendRecord(t.values));
  auto document = [](uint32_t w) {
    auto* d = new DocumentBuffer(w >= 4 ? w - 4 : 0);
    const uint8_t mark = 1;
    d->SetContent({&mark, w > 4 ? 1u : 0u});  // a length asks for the document
    return d;
  };
  r.SetDiaryDocument(document(info.diaryPdfSize));
  r.SetReportDocument(document(info.reportPdfSize));
  r.SetHolterConfig(new HolterConfig);
  r.SetHolterConfigBlock(document(info.holterCfgBlockSize));
}

template <class T>
std::vector<uint8_t> Serialized(const T* object) {
  uint32_t n = 0;
  auto bytes = object->Serialize(&n);
  return bytes ? std::vector<uint8_t>(bytes.get(), bytes.get() + n) : std::vector<uint8_t>{};
}

std::vector<uint8_t> DocBytes(const DocumentBuffer* d) {
  return std::vector<uint8_t>(d->GetData(), d->GetData() + d->GetLength());
}

void ExpectSameRecord(const TestRecord& a, const TestRecord& b) {
  EXPECT_STREQ(a.GetPatientName(), b.GetPatientName());
  EXPECT_EQ(b.GetProcedureType(), 4u);
  for (uint8_t k : kSlots)
    EXPECT_EQ(0, std::memcmp(a.GetWaveform()->Channel(k), b.GetWaveform()->Channel(k), 2 * kWaveSamples)) << int{k};
  EXPECT_EQ(b.GetWaveform()->GetValidSampleCount(), kWaveSamples);
  // Sub-records of the other sections, by what they serialize to.
  EXPECT_EQ(Serialized(a.GetAnnotations()), Serialized(b.GetAnnotations()));
  EXPECT_EQ(Serialized(a.GetPAnnotations()), Serialized(b.GetPAnnotations()));
  for (uint32_t e = 17; e < 20; ++e)
    EXPECT_EQ(0, std::memcmp(a.GetAnnotations()->extensions[e], b.GetAnnotations()->extensions[e],
                             12 * sizeof(AnnotationExtension)))
        << e;
  ASSERT_EQ(b.GetEpisodes()->count, 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    const EpisodeEntry& x = a.GetEpisodes()->entries[i];
    const EpisodeEntry& y = b.GetEpisodes()->entries[i];
    EXPECT_EQ(std::tie(x.value1, x.value2, x.value3, x.value4, x.value5, x.typeCode),
              std::tie(y.value1, y.value2, y.value3, y.value4, y.value5, y.typeCode));
  }
  EXPECT_EQ(0, std::memcmp(b.GetEpisodes()->textStore + 6, "episode 0", 9)) << "texts land in the store";
  EXPECT_EQ(Serialized(a.GetPacemakerList()), Serialized(b.GetPacemakerList()));
  EXPECT_EQ(Serialized(a.GetBloodPressureDataRecord()), Serialized(b.GetBloodPressureDataRecord()));
  EXPECT_EQ(Serialized(a.GetBloodPressureResultsRecord()), Serialized(b.GetBloodPressureResultsRecord()));
  EXPECT_EQ(b.GetSpirometryDataRecord()->words[0], 424u);
  EXPECT_EQ(0, std::memcmp(a.GetSpirometryDataRecord()->words + 1, b.GetSpirometryDataRecord()->words + 1, 420));
  EXPECT_EQ(Serialized(a.GetAuditTrailRecord()), Serialized(b.GetAuditTrailRecord()));

  // This part's own sections, field by field.
  ASSERT_EQ(b.GetComplexDataCount(), a.GetComplexDataCount());
  for (int32_t i = 0; i < a.GetComplexDataCount(); ++i) {
    const ComplexData* x = a.GetComplexAt(i);
    const ComplexData* y = b.GetComplexAt(i);
    EXPECT_EQ(std::tie(x->recordLength, x->value1, x->leadCount, x->sampleCount, x->codeA, x->value5, x->codeB),
              std::tie(y->recordLength, y->value1, y->leadCount, y->sampleCount, y->codeA, y->value5, y->codeB))
        << i;
    EXPECT_EQ(0, std::memcmp(x->values7to15, y->values7to15, sizeof x->values7to15));
    EXPECT_EQ(0, std::memcmp(&x->measurements, &y->measurements, sizeof x->measurements));
    EXPECT_EQ(0, std::memcmp(&x->textBlock, &y->textBlock, sizeof x->textBlock));
    for (uint32_t k = 0; k < ComplexData::kMaxLeads; ++k) {
      ASSERT_EQ(x->leads[k] == nullptr, y->leads[k] == nullptr);
      if (x->leads[k] == nullptr) continue;
      EXPECT_EQ(x->leads[k]->leadCode, y->leads[k]->leadCode);
      if (k < x->leadCount) {
        EXPECT_EQ(0, std::memcmp(x->leads[k]->samples, y->leads[k]->samples, 2 * x->sampleCount));
      }
    }
  }
  ASSERT_EQ(b.GetRhythmCount(), a.GetRhythmCount());
  for (int32_t i = 0; i < a.GetRhythmCount(); ++i)
    EXPECT_EQ(0, std::memcmp(a.GetRhythmAt(i)->block, b.GetRhythmAt(i)->block, RhythmMeasurement::kBlockSize)) << i;
  for (const TrendShape& t : kTrendShapes) {
    const TrendRecord* x = a.GetTrendAt(t.slot);
    const TrendRecord* y = b.GetTrendAt(t.slot);
    ASSERT_EQ(y->GetSampleCount(), t.samples);
    for (uint32_t s = 0; s < t.samples; ++s) {
      EXPECT_EQ(x->GetTime(s), y->GetTime(s));
      for (uint32_t j = 0; j < t.values; ++j) ASSERT_EQ(x->GetValue(s, j), y->GetValue(s, j)) << t.slot;
    }
  }
  EXPECT_EQ(DocBytes(a.GetDiaryDocument()), DocBytes(b.GetDiaryDocument()));
  EXPECT_EQ(DocBytes(a.GetReportDocument()), DocBytes(b.GetReportDocument()));
  EXPECT_TRUE(IsWellFormedPdf(DocBytes(b.GetDiaryDocument())));
  EXPECT_TRUE(IsWellFormedPdf(DocBytes(b.GetReportDocument())));
  EXPECT_EQ(Serialized(a.GetHolterConfig()), Serialized(b.GetHolterConfig()));
  EXPECT_EQ(DocBytes(a.GetHolterConfigBlock()), DocBytes(b.GetHolterConfigBlock()));
}

class FullRecordTest : public ::testing::Test {
 protected:
  std::string SaveFull(const Shape& shape, TestRecord& in, const std::string& name) {
    Fill(in, shape);
    const std::string path = dir.File(name);
    EXPECT_EQ(svc.SaveTestRecord(&in, path.c_str()), 1) << cap.Dump();
    return path;
  }

  LogCapture cap;
  TempDir dir;
  ScpService svc{plat::ThisModule()};
};

TEST_F(FullRecordTest, EverySubRecordSavesAndFetchesBackEqual) {
  TestRecord in;
  const std::string path = SaveFull({280000, 360000}, in, "full.scp");
  EXPECT_EQ(cap.Count("LOGOEMERROR"), 0u) << cap.Dump();
  EXPECT_EQ(cap.Count("LOGMEMORYERROR"), 0u) << cap.Dump();

  const auto file = ReadFileBytes(path);
  EXPECT_GT(file.size(), 640000u);
  // The record CRC is folded from the section CRCs; it must equal the CRC of
  // every byte after it, and each section CRC that of its own bytes.
  EXPECT_EQ(file[0] | file[1] << 8, scpcrc::Portable(file.data() + 2, file.size() - 2));
  for (uint16_t id : ScpEcg::kSectionIds) {
    const auto e = recb::EntryOf(file, id);
    ASSERT_TRUE(e.has_value()) << "section " << id;
    if (e->length == 0) continue;
    const uint8_t* at = file.data() + e->index - 1;
    EXPECT_EQ(at[0] | at[1] << 8, scpcrc::Portable(at + 2, e->length - 2)) << "section " << id;
  }
  for (uint16_t id : ScpEcg::kSectionIds) {
    const bool written = id <= 3 || id == 6 || id == 8 ||
                         (id >= 129 && id != 134 && id != 135 && id != 136 && id != 142 && id != 143 && id != 145);
    EXPECT_EQ(recb::EntryOf(file, id)->length > 0, written) << "section " << id;
  }

  ValidFormatInfo info;
  std::memset(&info, 0xEE, sizeof info);
  ASSERT_EQ(svc.IsValidFormat(path.c_str(), &info), 1) << cap.Dump();
  EXPECT_EQ(info.longestLead, kWaveSamples);
  EXPECT_EQ(info.leadCount, 3u);
  EXPECT_EQ(info.complexCount, 3u);
  EXPECT_EQ(info.rhythmMeasCount, 3u);
  EXPECT_EQ(info.diaryPdfSize, in.GetDiaryDocument()->GetLength() + 4);
  EXPECT_EQ(info.reportPdfSize, in.GetReportDocument()->GetLength() + 4);
  EXPECT_EQ(info.holterCfgSize, 704u);
  EXPECT_EQ(info.holterCfgBlockSize, 1505u);

  TestRecord out;
  out.SetFilePath(path.c_str());
  AttachTargets(out, info, in);
  cap.Clear();
  ASSERT_EQ(svc.FetchTest(&out), 1) << cap.Dump();
  EXPECT_EQ(cap.Count("LOGOEMERROR"), 0u) << cap.Dump();
  EXPECT_EQ(cap.Count("LOGMEMORYERROR"), 0u) << cap.Dump();
  ExpectSameRecord(in, out);
}

// The zero sizes the format check reports for such a record are checked in
// format_check_test; here the table: only the trend section (32 empty slots).
TEST_F(FullRecordTest, RecordWithoutManufacturerSubRecordsWritesOnlyTheTrendSection) {
  TestRecord in;
  const std::string path = dir.File("plain.scp");
  ASSERT_EQ(svc.SaveTestRecord(&in, path.c_str()), 1) << cap.Dump();
  const auto file = ReadFileBytes(path);
  for (uint16_t id : ScpEcg::kSectionIds) {
    if (id <= 129) continue;
    const auto e = recb::EntryOf(file, id);
    ASSERT_TRUE(e.has_value()) << id;
    EXPECT_EQ(e->length, 0u) << id;
    EXPECT_EQ(e->index, 0u) << id;
  }
  EXPECT_EQ(recb::EntryOf(file, 129)->length, 16u + 132u);
}

// ------------------------------------------------- damaged sections

struct ReaderCase {
  uint16_t id;
  int (ScpEcg::*read)(TestRecord*);
};

const ReaderCase kReaders[] = {
    {129, &ScpEcg::GetTrendData},     {133, &ScpEcg::GetComplexData}, {137, &ScpEcg::GetRhythmMeasData},
    {148, &ScpEcg::GetDiaryPDF},      {149, &ScpEcg::GetReportPDF},   {150, &ScpEcg::GetHolterCfgData},
    {151, &ScpEcg::GetHolterCfgBlock},
};

class DamagedSectionTest : public ::testing::TestWithParam<ReaderCase> {
 protected:
  void SetUp() override {
    // Small documents so that every cut of them can be tried.
    TestRecord in;
    Fill(in, {1200, 900});
    ScpEcg codec(nullptr, nullptr);
    ASSERT_TRUE(codec.FormatRecordHeader(1000000));
    codec.PutTrendData(&in);
    codec.PutComplexData(&in);
    codec.PutRhythmMeasData(&in);
    codec.PutDiaryPDF(&in);
    codec.PutReportPDF(&in);
    codec.PutHolterCfgData(&in);
    codec.PutHolterCfgBlock(&in);
    auto data = recb::DataOf(recb::Finish(codec), GetParam().id);
    ASSERT_TRUE(data);
    original = *data;
    // The host's objects, of the shapes the record was made with, plus a
    // complex with fewer lead slots than the record asks for.
    ValidFormatInfo info{};
    info.leadCount = 3;
    info.longestLead = 100;
    info.samplingRate = kRate;
    info.amplitudeMultiplier = kResolution;
    info.complexCount = 3;
    info.rhythmMeasCount = 2;
    info.diaryPdfSize = 1000;
    info.reportPdfSize = 2000;
    info.holterCfgBlockSize = 1505;
    AttachTargets(target, info, in);
    target.AddComplex(new ComplexData(1, 8));
  }

  // Reads section data through a whole record with correct CRCs; checks
  // what must hold of the objects afterwards.
  void ReadThrough(const std::vector<uint8_t>& data) {
    const auto file = recb::Wrap(GetParam().id, data);
    ScpEcg codec(nullptr, &log);
    ASSERT_TRUE(recb::OpenBytes(codec, dir, file));
    const int result = (codec.*GetParam().read)(&target);
    EXPECT_TRUE(result == 0 || result == 1);
    codec.GetComplexCount();
    codec.GetRhythmMeasCount();
    codec.GetDiaryPDFSize();
    codec.GetReportPDFSize();
    codec.GetHolterCfgSize();
    codec.GetHolterCfgBlockSize();
    for (const DocumentBuffer* d :
         {target.GetDiaryDocument(), target.GetReportDocument(), target.GetHolterConfigBlock()})
      ASSERT_LE(d->GetLength(), d->GetCapacity());
    for (const TrendShape& t : kTrendShapes) ASSERT_LE(target.GetTrendAt(t.slot)->GetSampleCount(), 16384u);
    for (int32_t i = 0; i < target.GetRhythmCount(); ++i) ASSERT_EQ(target.GetRhythmAt(i)->GetSize(), 672u);
  }

  LogCapture cap;
  EventLog log{plat::ThisModule()};
  TempDir dir;
  TestRecord target;
  std::vector<uint8_t> original;
};

TEST_P(DamagedSectionTest, EveryCutStaysWithinTheData) {
  for (size_t k = 0; k <= original.size(); ++k) {
    ReadThrough(std::vector<uint8_t>(original.begin(), original.begin() + k));
    if (HasFatalFailure()) return;
    if (k % 512 == 0) cap.Clear();
  }
}

TEST_P(DamagedSectionTest, RandomDamageStaysWithinTheData) {
  std::mt19937 rng(GetParam().id);
  const uint32_t size = static_cast<uint32_t>(original.size());
  const uint32_t interesting[] = {0, 1, 4, 8, 644, 652, 672, 700, 704, size, size - 4, size + 4, 0x7FFFFFFF,
                                  0xFFFFFFFC, 0xFFFFFFFF};
  for (int round = 0; round < 1500; ++round) {
    std::vector<uint8_t> data = original;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) {
      // Half the damage goes to the framing words near the start.
      const size_t span = (rng() & 1) ? std::min<size_t>(data.size(), 24) : data.size();
      const size_t at = rng() % span;
      if (rng() % 3 == 0 && at + 4 <= data.size()) {
        const uint32_t v = interesting[rng() % std::size(interesting)];
        for (int b = 0; b < 4; ++b) data[at + b] = static_cast<uint8_t>(v >> (8 * b));
      } else {
        data[at] ^= static_cast<uint8_t>(1 + rng() % 255);
      }
    }
    if (rng() % 4 == 0) data.resize(rng() % (data.size() + 1));
    ReadThrough(data);
    if (HasFatalFailure()) return;
    if (round % 100 == 0) cap.Clear();
  }
}

INSTANTIATE_TEST_SUITE_P(Readers, DamagedSectionTest, ::testing::ValuesIn(kReaders),
                         [](const auto& info) { return "Section" + std::to_string(info.param.id); });

// The large documents: the cuts near both ends of the section.
TEST_F(FullRecordTest, CutsOfALargeDocumentSectionStayWithinTheData) {
  TestRecord in;
  const auto file = ReadFileBytes(SaveFull({250000, 1000}, in, "large.scp"));
  const auto data = recb::DataOf(file, 148);
  ASSERT_TRUE(data);
  EventLog log(plat::ThisModule());
  TestRecord target;
  auto* doc = new DocumentBuffer(static_cast<uint32_t>(data->size()));
  target.SetDiaryDocument(doc);
  for (size_t k = 0; k <= data->size(); k = (k == 64 ? data->size() - 64 : k + 1)) {
    const uint8_t mark = 1;
    doc->SetContent({&mark, 1});
    ScpEcg codec(nullptr, &log);
    ASSERT_TRUE(recb::OpenBytes(codec, dir, recb::Wrap(148, std::vector<uint8_t>(data->begin(), data->begin() + k))));
    // An odd cut gets the container's pad byte; a section of no data at
    // all has no complete header and counts as absent.
    const size_t padded = k + (k & 1);
    EXPECT_EQ(codec.GetDiaryPDF(&target), k > 0 ? 1 : 0) << k;
    const uint32_t w = codec.GetDiaryPDFSize();
    // W counts the trailing zero word: only the whole section holds the
    // whole document.
    const bool whole = padded >= data->size();
    EXPECT_EQ(doc->GetLength(), whole ? in.GetDiaryDocument()->GetLength() : 1u) << k;
    EXPECT_EQ(w, padded >= 8 ? in.GetDiaryDocument()->GetLength() + 4 : 0u) << k;
  }
}

}  // namespace
