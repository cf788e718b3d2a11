// Manufacturer sections 130, 131, 138, 139, 140, 144, 145, 146 and 147:
// framing and messages of writers and readers, the sub-record layouts as
// they appear in the file, a full save and fetch, and every reader on cut
// and damaged sections.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "log_capture.h"
#include "platform/platform.h"
#include "record_builder.h"
#include "scp/mfr_framing.h"
#include "scp/scpecg.h"
#include "scp/service.h"
#include "test_util.h"

namespace {

using recb::Bytes;
using recb::Word;

constexpr uint32_t kAnnMark = 0xFF000002u;
constexpr uint32_t kOldMark = 0xFF000001u;
constexpr uint32_t kHolter = 4;

struct Msg {
  std::string call;
  int line;
  std::string text;
};
Msg Oem(int line, std::string text) { return Msg{"LOGOEMERROR", line, std::move(text)}; }
Msg Mem(int line) { return Msg{"LOGMEMORYERROR", line, ""}; }

// --------------------------------------------------------- sub-record data

AnnotationEntry AnnEntry(uint32_t i) {
  return AnnotationEntry{0x01020304u * (i + 1), static_cast<uint8_t>(i * 3 + 1), static_cast<uint8_t>(0xF0 - i),
                         static_cast<uint16_t>(0x8000 + i * 77)};
}
AnnotationExtension AnnExt(uint32_t array, uint32_t i) {
  AnnotationExtension e{};
  for (int b = 0; b < 6; ++b) e.bytes[b] = static_cast<uint8_t>(array * 7 + i * 3 + b);
  for (int w = 0; w < 7; ++w) e.words[w] = static_cast<uint16_t>(array * 1000 + i * 10 + w + 0x4000);
  return e;
}

AnnotationList* FilledAnnotations(uint32_t count, uint32_t mask, uint32_t seed) {
  auto* list = new AnnotationList(count + 2, mask);
  list->count = count;
  list->valueA = 0xA0000000u + seed;
  list->valueB = 0x0B000000u + seed;
  for (uint32_t i = 0; i < count; ++i) list->entries[i] = AnnEntry(i + seed);
  for (uint32_t a = 0; a < AnnotationList::kExtensionArrays; ++a)
    if (list->extensions[a])
      for (uint32_t i = 0; i < count; ++i) list->extensions[a][i] = AnnExt(a, i + seed);
  return list;
}

bool SameAnnotations(const AnnotationList& a, const AnnotationList& b, bool extensions) {
  if (a.count != b.count || a.valueA != b.valueA || a.valueB != b.valueB) return false;
  if (std::memcmp(a.entries, b.entries, a.count * sizeof(AnnotationEntry)) != 0) return false;
  if (!extensions) return true;
  for (uint32_t x = 17; x < 20; ++x) {
    if ((a.extensions[x] == nullptr) != (b.extensions[x] == nullptr)) return false;
    if (a.extensions[x] && std::memcmp(a.extensions[x], b.extensions[x], a.count * sizeof(AnnotationExtension)) != 0)
      return false;
  }
  return true;
}

struct EpisodeValues {
  uint32_t v1, v2, v3, type, v5, v4;
  const char* text;
};
const std::vector<EpisodeValues> kEpisodes = {
    {10, 20, 30, 5, 50, 40, "ST"},
    {0xFFFFFFFFu, 1, 2, 40, 3, 4, nullptr},
    {7, 8, 9, 35, 11, 10, "AF run, 12 beats"},
};

EpisodeList* FilledEpisodes(const std::vector<EpisodeValues>& wanted) {
  auto* list = new EpisodeList(static_cast<uint32_t>(wanted.size()) + 1, 0);
  for (uint32_t i = 0; i < wanted.size(); ++i) {
    const EpisodeValues& s = wanted[i];
    list->entries[i] = EpisodeEntry{s.v1, s.v2, s.v3, s.type, s.v5, nullptr, s.v4};
    EXPECT_TRUE(list->SetText(i, s.text));
  }
  list->count = static_cast<uint32_t>(wanted.size());
  return list;
}

// The text store bytes that a read of wanted should leave.
std::vector<uint8_t> ExpectedStore(const std::vector<EpisodeValues>& wanted) {
  Bytes b;
  for (uint32_t i = 0; i < wanted.size(); ++i) {
    if (wanted[i].text == nullptr || wanted[i].text[0] == '\0') continue;
    uint16_t n = static_cast<uint16_t>(std::strlen(wanted[i].text));
    b.u32(i).u16(n).raw(wanted[i].text, n);
  }
  b.u32(static_cast<uint32_t>(wanted.size()));
  return b.v;
}

bool SameEpisodes(const EpisodeList& got, const std::vector<EpisodeValues>& wanted) {
  if (got.count != wanted.size()) return false;
  for (uint32_t i = 0; i < wanted.size(); ++i) {
    const EpisodeEntry& e = got.entries[i];
    const EpisodeValues& s = wanted[i];
    if (e.value1 != s.v1 || e.value2 != s.v2 || e.value3 != s.v3 || e.value4 != s.v4 || e.value5 != s.v5 ||
        e.typeCode != (s.type < 36 ? s.type : 36))
      return false;
  }
  auto store = ExpectedStore(wanted);
  return got.textStoreCapacity >= store.size() && std::memcmp(got.textStore, store.data(), store.size()) == 0;
}

PacemakerList* FilledPacemaker(uint32_t n) {
  auto* p = new PacemakerList(n + 1);
  p->count = n;
  for (uint32_t i = 0; i < n; ++i) p->values[i] = 0x11110000u + i * 0x1357;
  return p;
}

BloodPressureData* FilledBloodPressure(uint32_t n) {
  auto* d = new BloodPressureData(n + 1);
  d->count = n;
  for (uint32_t r = 0; r < n; ++r)
    for (uint32_t w = 0; w < BloodPressureReading::kWords; ++w) d->readings[r].words[w] = r * 1000 + w * 7 + 1;
  return d;
}

BloodPressureResults* FilledResults() {
  auto* r = new BloodPressureResults();
  r->value1 = 123;
  r->value2 = 0x80000001u;
  for (uint32_t g = 0; g < BloodPressureResults::kGroups; ++g) {
    for (uint32_t v = 0; v < 7; ++v) r->groups[g].values[v] = g * 100 + v;
    r->groups[g].extra[0] = 900 + g;
    r->groups[g].extra[1] = 950 + g;
  }
  return r;
}

SpirometryData* FilledSpirometry() {
  auto* s = new SpirometryData();
  for (uint32_t w = 0; w < SpirometryData::kWords; ++w) s->words[w] = 0x5000 + w * 31;
  return s;
}

void FillAudit(AuditTrail& t, int32_t count) {
  t.count = count;
  for (int32_t i = 0; i < count && i < 16; ++i) {
    AuditEntry* e = t.entries[i];
    e->year = 2000 + i;
    e->month = 1 + i % 12;
    e->day = 1 + i;
    e->hour = (5 * i) % 24;
    e->minute = (13 * i) % 60;
    e->milliseconds = 59999 - i * 1000;
    e->actionCode = i % 4;
    for (int c = 0; c < 32; ++c) e->text[c] = static_cast<char>('A' + (i + c) % 26);
  }
}

bool SameAudit(const AuditTrail& a, const AuditTrail& b) {
  if (a.count != b.count) return false;
  for (int32_t i = 0; i < a.count; ++i) {
    const AuditEntry& x = *a.entries[i];
    const AuditEntry& y = *b.entries[i];
    if (x.year != y.year || x.month != y.month || x.day != y.day || x.hour != y.hour || x.minute != y.minute ||
        x.milliseconds != y.milliseconds || x.actionCode != y.actionCode || std::memcmp(x.text, y.text, 32) != 0)
      return false;
  }
  return true;
}

// --------------------------------------------------------------- fixture

class MfrTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> Save(TestRecord& rec, const std::function<void(ScpEcg&, TestRecord*)>& put,
                            uint32_t capacity = 1 << 20) {
    ScpEcg codec(nullptr, &log);
    EXPECT_TRUE(codec.FormatRecordHeader(capacity));
    put(codec, &rec);
    return recb::Finish(codec);
  }
  std::vector<uint8_t> SaveData(TestRecord& rec, const std::function<void(ScpEcg&, TestRecord*)>& put, uint16_t id) {
    auto d = recb::DataOf(Save(rec, put), id);
    EXPECT_TRUE(d.has_value()) << "section " << id;
    return d.value_or(std::vector<uint8_t>{});
  }
  int ReadFile(const std::vector<uint8_t>& file, const std::function<int(ScpEcg&)>& get) {
    ScpEcg codec(nullptr, &log);
    EXPECT_TRUE(recb::OpenBytes(codec, dir, file));
    return get(codec);
  }
  int ReadData(uint16_t id, const std::vector<uint8_t>& data, const std::function<int(ScpEcg&)>& get) {
    return ReadFile(recb::Wrap(id, data), get);
  }
  // The messages logged so far, other than the start and stop lines, must be
  // exactly these (source "scpecg" unless given in the line itself).
  void ExpectLog(const std::vector<Msg>& expected, const std::string& source = "scpecg") {
    auto got = cap.Messages();
    ASSERT_EQ(got.size(), expected.size()) << cap.Dump();
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].call, expected[i].call) << cap.Dump();
      EXPECT_EQ(got[i].source, source) << cap.Dump();
      EXPECT_EQ(got[i].line, expected[i].line) << cap.Dump();
      EXPECT_EQ(got[i].text, expected[i].text) << cap.Dump();
    }
  }

  LogCapture cap;
  EventLog log{plat::ThisModule()};
  TempDir dir;
};

// ---------------------------------------------------- the section subjects

// One manufacturer section as the tests see it.
struct Subject {
  uint16_t id;
  const char* name;
  int framing;  // 1: one record checked against the length; 2: self-length records; 3: length word
  // Attaches a sub-record with data to save.
  void (*attachFilled)(TestRecord&);
  // Attaches a sub-record to read into, marked so that an import shows.
  void (*attachTarget)(TestRecord&);
  bool (*untouched)(const TestRecord&);
  // The target equals what attachFilled attached.
  bool (*restored)(const TestRecord&);
  void (*put)(ScpEcg&, TestRecord*);
  int (*get)(ScpEcg&, TestRecord*);
  uint32_t dataLength;  // of the section that attachFilled gives
  int sizeLimitLine;
  const char* beginText;
  int beginLine;
  const char* invalidText;  // framing 1
  int invalidLine;
  int tooShortLine;  // framings 2 and 3
  int tooShort2Line;
};

constexpr uint32_t kSentinel = 0xDEADBEEFu;

const Subject kSubjects[] = {
    {130, "Annotations", 1,
     [](TestRecord& r) {
       r.SetProcedureType(kHolter);
       r.SetAnnotations(FilledAnnotations(5, AnnotationList::kHolterExtensions, 1));
     },
     [](TestRecord& r) {
       r.SetProcedureType(kHolter);
       auto* l = new AnnotationList(8, AnnotationList::kHolterExtensions);
       l->valueA = kSentinel;
       r.SetAnnotations(l);
     },
     [](const TestRecord& r) { return r.GetAnnotations()->valueA == kSentinel && r.GetAnnotations()->count == 0; },
     [](const TestRecord& r) {
       std::unique_ptr<AnnotationList> want(FilledAnnotations(5, AnnotationList::kHolterExtensions, 1));
       return SameAnnotations(*r.GetAnnotations(), *want, true);
     },
     [](ScpEcg& c, TestRecord* r) { c.PutAnnotationData(r); },
     [](ScpEcg& c, TestRecord* r) {
       c.GetAnnotationData(r);
       return 1;
     },
     8 + 20 + 5 * 8 + 3 * 5 * 20, 3211, "SCP-ECG: PutAnnotationData", 3212, "SCP-ECG: invalid ann section", 3180, 0, 0},
    {131, "Episodes", 1, [](TestRecord& r) { r.SetEpisodes(FilledEpisodes(kEpisodes)); },
     [](TestRecord& r) {
       auto* l = new EpisodeList(8, 256);
       l->readerReset = kSentinel;
       r.SetEpisodes(l);
     },
     [](const TestRecord& r) { return r.GetEpisodes()->readerReset == kSentinel; },
     [](const TestRecord& r) { return SameEpisodes(*r.GetEpisodes(), kEpisodes); },
     [](ScpEcg& c, TestRecord* r) { c.PutEpisodeData(r); },
     [](ScpEcg& c, TestRecord* r) {
       c.GetEpisodeData(r);
       return 1;
     },
     8 + 8 + 3 * 26 + 2 + 16, 3269, "SCP-ECG: PutEpisodeData", 3270, "SCP-ECG: invalid episode section", 3239, 0, 0},
    {138, "Pacemaker", 1, [](TestRecord& r) { r.SetPacemakerList(FilledPacemaker(4)); },
     [](TestRecord& r) {
       auto* p = new PacemakerList(8);
       p->count = 1;
       p->values[0] = kSentinel;
       r.SetPacemakerList(p);
     },
     [](const TestRecord& r) {
       return r.GetPacemakerList()->count == 1 && r.GetPacemakerList()->values[0] == kSentinel;
     },
     [](const TestRecord& r) {
       std::unique_ptr<PacemakerList> want(FilledPacemaker(4));
       return r.GetPacemakerList()->count == 4 && std::memcmp(r.GetPacemakerList()->values, want->values, 16) == 0;
     },
     [](ScpEcg& c, TestRecord* r) { c.PutPacemakerData(r); },
     [](ScpEcg& c, TestRecord* r) {
       c.GetPacemakerData(r);
       return 1;
     },
     8 + 68 * 4 + 12, 3529, "SCP-ECG: PutPacemakerData", 3530, "SCP-ECG: invalid pmk section", 3499, 0, 0},
    {139, "BloodPressureData", 2, [](TestRecord& r) { r.SetBloodPressureDataRecord(FilledBloodPressure(2)); },
     [](TestRecord& r) {
       auto* d = new BloodPressureData(4);
       d->count = 1;
       d->readings[0].words[0] = kSentinel;
       r.SetBloodPressureDataRecord(d);
     },
     [](const TestRecord& r) {
       auto* d = r.GetBloodPressureDataRecord();
       return d->count == 1 && d->readings[0].words[0] == kSentinel;
     },
     [](const TestRecord& r) {
       std::unique_ptr<BloodPressureData> want(FilledBloodPressure(2));
       auto* d = r.GetBloodPressureDataRecord();
       return d->count == 2 && std::memcmp(d->readings, want->readings, 2 * 280) == 0;
     },
     [](ScpEcg& c, TestRecord* r) { c.PutBloodPressureData(r); },
     [](ScpEcg& c, TestRecord* r) { return c.GetBloodPressureData(r); }, 8 + 280 * 2 + 12, 3597,
     "SCP-ECG: PutBloodPressureData", 3598, nullptr, 0, 3565, 3564},
    {140, "BloodPressureResults", 2, [](TestRecord& r) { r.SetBloodPressureResultsRecord(FilledResults()); },
     [](TestRecord& r) {
       auto* b = new BloodPressureResults();
       b->value1 = kSentinel;
       r.SetBloodPressureResultsRecord(b);
     },
     [](const TestRecord& r) { return r.GetBloodPressureResultsRecord()->value1 == kSentinel; },
     [](const TestRecord& r) {
       std::unique_ptr<BloodPressureResults> want(FilledResults());
       return std::memcmp(r.GetBloodPressureResultsRecord(), want.get(), 440) == 0;
     },
     [](ScpEcg& c, TestRecord* r) { c.PutBloodPressureResults(r); },
     [](ScpEcg& c, TestRecord* r) { return c.GetBloodPressureResults(r); }, 8 + 448, 3666,
     "SCP-ECG: PutBloodPressureResults", 3667, nullptr, 0, 3634, 3633},
    {144, "Spirometry", 2, [](TestRecord& r) { r.SetSpirometryDataRecord(FilledSpirometry()); },
     [](TestRecord& r) {
       auto* s = new SpirometryData();
       s->words[5] = kSentinel;
       r.SetSpirometryDataRecord(s);
     },
     [](const TestRecord& r) { return r.GetSpirometryDataRecord()->words[5] == kSentinel; },
     [](const TestRecord& r) {
       std::unique_ptr<SpirometryData> want(FilledSpirometry());
       want->words[0] = 424;
       return std::memcmp(r.GetSpirometryDataRecord(), want.get(), 424) == 0;
     },
     [](ScpEcg& c, TestRecord* r) { c.PutSpirometryData(r); },
     [](ScpEcg& c, TestRecord* r) { return c.GetSpirometryData(r); }, 8 + 424, 3735, "SCP-ECG: PutSpirometryData",
     3736, nullptr, 0, 3703, 3702},
    {146, "PAnnotations", 1,
     [](TestRecord& r) { r.SetPAnnotations(FilledAnnotations(3, 0, 40)); },
     [](TestRecord& r) {
       auto* l = new AnnotationList(8);
       l->valueA = kSentinel;
       r.SetPAnnotations(l);
     },
     [](const TestRecord& r) { return r.GetPAnnotations()->valueA == kSentinel && r.GetPAnnotations()->count == 0; },
     [](const TestRecord& r) {
       std::unique_ptr<AnnotationList> want(FilledAnnotations(3, 0, 40));
       return SameAnnotations(*r.GetPAnnotations(), *want, false);
     },
     [](ScpEcg& c, TestRecord* r) { c.PutPAnnotationData(r); },
     [](ScpEcg& c, TestRecord* r) {
       c.GetPAnnotationData(r);
       return 1;
     },
     8 + 20 + 3 * 8, 3833, "SCP-ECG: PutAnnotationData", 3834, "SCP-ECG: invalid p ann section", 3803, 0, 0},
    {147, "AuditTrail", 3, [](TestRecord& r) { FillAudit(*r.GetAuditTrailRecord(), 3); },
     [](TestRecord& r) { r.GetAuditTrailRecord()->entries[0]->year = 1234; },
     [](const TestRecord& r) {
       return r.GetAuditTrailRecord()->count == 0 && r.GetAuditTrailRecord()->entries[0]->year == 1234;
     },
     [](const TestRecord& r) {
       TestRecord want;
       FillAudit(*want.GetAuditTrailRecord(), 3);
       return SameAudit(*r.GetAuditTrailRecord(), *want.GetAuditTrailRecord());
     },
     [](ScpEcg& c, TestRecord* r) { c.PutAuditTrail(r); },
     [](ScpEcg& c, TestRecord* r) { return c.GetAuditTrail(r); }, 8 + 4 + 3 * 44, 3900, "SCP-ECG: PutAuditTrail",
     3901, nullptr, 0, 3870, 3869},
};

std::string SubjectName(const ::testing::TestParamInfo<Subject>& info) { return info.param.name; }

class SectionTest : public MfrTest, public ::testing::WithParamInterface<Subject> {
 protected:
  std::vector<uint8_t> FilledData() {
    TestRecord rec;
    GetParam().attachFilled(rec);
    return SaveData(rec, GetParam().put, GetParam().id);
  }
  // Reads the section made of data into a fresh target.
  int ReadInto(TestRecord& target, const std::vector<uint8_t>& data) {
    GetParam().attachTarget(target);
    return ReadData(GetParam().id, data, [&](ScpEcg& c) { return GetParam().get(c, &target); });
  }
};

TEST_P(SectionTest, WritesItsFramingAndReadsBackEqual) {
  const Subject& s = GetParam();
  auto data = FilledData();
  ASSERT_EQ(data.size(), s.dataLength);
  EXPECT_EQ(Word(data, 0), 1u);  // one record
  // The record's or payload's length word, and what follows the record.
  if (s.framing == 3) {
    EXPECT_EQ(Word(data, 4), s.dataLength - 8);
  } else {
    EXPECT_EQ(Word(data, 4), s.dataLength - 8);
    EXPECT_EQ(Word(data, data.size() - 4), 0u);
  }
  ExpectLog({});
  TestRecord back;
  EXPECT_EQ(ReadInto(back, data), 1);
  EXPECT_TRUE(s.restored(back));
  ExpectLog({});
}

TEST_P(SectionTest, MissingSubRecordWritesNothingAndLogsNothing) {
  TestRecord rec;
  if (GetParam().id == 147) rec.SetAuditTrailRecord(nullptr);
  auto file = Save(rec, GetParam().put);
  EXPECT_EQ(recb::EntryOf(file, GetParam().id)->length, 0u);
  EXPECT_EQ(file.size(), ScpEcg::kEmptyRecordSize);
  ExpectLog({});
}

TEST_P(SectionTest, SizeLimitLeavesTheSectionOutBehindItsReservedHeader) {
  const Subject& s = GetParam();
  const uint32_t base = ScpEcg::kEmptyRecordSize + 16;
  for (uint32_t shortBy : {1u, 2u, 4u, s.dataLength}) {
    cap.Clear();
    TestRecord rec;
    s.attachFilled(rec);
    ScpEcg codec(nullptr, &log);
    ASSERT_TRUE(codec.FormatRecordHeader(base + s.dataLength - shortBy));
    s.put(codec, &rec);
    // The next section begins 16 bytes further on.
    EXPECT_EQ(codec.position(), base);
    auto file = recb::Finish(codec);
    EXPECT_EQ(recb::EntryOf(file, s.id)->length, 0u);
    ExpectLog({Oem(s.sizeLimitLine, "SCP-ECG: size limit")});
  }
  // An exact fit is written.
  cap.Clear();
  TestRecord rec;
  s.attachFilled(rec);
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.FormatRecordHeader(base + s.dataLength));
  s.put(codec, &rec);
  EXPECT_EQ(codec.position(), base + s.dataLength);
  EXPECT_EQ(recb::EntryOf(recb::Finish(codec), s.id)->length, 16 + s.dataLength);
  ExpectLog({});
}

TEST_P(SectionTest, NoRoomForTheHeaderLogsTheBeginFailure) {
  const Subject& s = GetParam();
  for (uint32_t extra : {0u, 15u}) {
    cap.Clear();
    TestRecord rec;
    s.attachFilled(rec);
    ScpEcg codec(nullptr, &log);
    ASSERT_TRUE(codec.FormatRecordHeader(ScpEcg::kEmptyRecordSize + extra));
    s.put(codec, &rec);
    EXPECT_EQ(codec.position(), ScpEcg::kEmptyRecordSize);
    ExpectLog({Oem(4440, "SCP-ECG: Buffer overflow"), Oem(s.beginLine, s.beginText)});
  }
}

TEST_P(SectionTest, AbsentSectionLeavesTheTarget) {
  TestRecord back;
  int result = ReadInto(back, {});  // a section of no data bytes fails the container's checks
  if (GetParam().framing != 1) {
    EXPECT_EQ(result, 0);
  }
  EXPECT_TRUE(GetParam().untouched(back));
  cap.Clear();
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(recb::OpenBytes(codec, dir, recb::Wrap(1, {0, 0})));
  TestRecord other;
  GetParam().attachTarget(other);
  result = GetParam().get(codec, &other);
  if (GetParam().framing != 1) {
    EXPECT_EQ(result, 0);
  }
  EXPECT_TRUE(GetParam().untouched(other));
  ExpectLog({});
}

// Every cut of a written section: the reader imports only a whole record
// and reports the others with the message and line of where it ran out.
TEST_P(SectionTest, EveryTruncationIsReportedOrReadWhole) {
  const Subject& s = GetParam();
  auto data = FilledData();
  const uint32_t L = Word(data, 4);
  for (size_t t = 0; t <= data.size(); ++t) {
    cap.Clear();
    std::vector<uint8_t> cut(data.begin(), data.begin() + t);
    TestRecord back;
    int result = ReadInto(back, cut);
    const size_t seen = t + (t & 1);  // the container pads an odd section
    // The pad byte stands in for the cut byte: the import is exact only when
    // that byte was zero anyway.
    const bool exact = (t & 1) == 0 || data[t] == 0;
    auto expectImported = [&] {
      if (exact) {
        EXPECT_TRUE(s.restored(back));
      } else {
        EXPECT_FALSE(s.untouched(back));
      }
    };
    SCOPED_TRACE(t);
    if (seen == 0) {
      if (s.framing != 1) {
        EXPECT_EQ(result, 0);
      }
      EXPECT_TRUE(s.untouched(back));
      continue;
    }
    if (s.framing != 1) {
      EXPECT_EQ(result, 1);
    }
    if (s.framing == 1) {
      bool whole = seen == data.size() || (s.id == 130 && seen == L + 4);
      if (whole) {
        expectImported();
        ExpectLog({});
      } else {
        EXPECT_TRUE(s.untouched(back));
        ExpectLog({Oem(s.invalidLine, s.invalidText)});
      }
      continue;
    }
    // Count word, then the length word; then the record (framing 2) or the
    // payload (framing 3).
    const size_t needed = s.framing == 2 ? 4 + size_t{L} : 8 + size_t{L};
    if (seen < 8) {
      EXPECT_TRUE(s.untouched(back));
      ExpectLog({Oem(s.tooShortLine, "invalid record - too short")});
    } else if (seen < needed) {
      EXPECT_TRUE(s.untouched(back));
      ExpectLog({Oem(s.tooShort2Line, "invalid record - too short 2")});
    } else {
      expectImported();
      ExpectLog({});
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sections, SectionTest, ::testing::ValuesIn(kSubjects), SubjectName);

// --------------------------------------------------- framing-1 sections

class SingleRecordTest : public SectionTest {};

// The record of the filled sub-record with its count word and trailer
// rebuilt as given.
std::vector<uint8_t> Reframe(const std::vector<uint8_t>& data, uint32_t count, size_t trailer) {
  const uint32_t L = Word(data, 4);
  Bytes b;
  b.u32(count).raw(&data[4], L).zeros(trailer);
  return b.v;
}

TEST_P(SingleRecordTest, TrailerlessSectionIsAcceptedOnlyForAnnotations) {
  const Subject& s = GetParam();
  auto data = Reframe(FilledData(), 1, 0);
  TestRecord back;
  ReadInto(back, data);
  if (s.id == 130) {
    EXPECT_TRUE(s.restored(back));
    ExpectLog({});
  } else {
    EXPECT_TRUE(s.untouched(back));
    ExpectLog({Oem(s.invalidLine, s.invalidText)});
  }
}

TEST_P(SingleRecordTest, WrongCountOrExtraBytesAreInvalid) {
  const Subject& s = GetParam();
  auto data = FilledData();
  const std::vector<std::vector<uint8_t>> bad = {
      Reframe(data, 0, 4), Reframe(data, 2, 4), Reframe(data, 1, 8), Reframe(data, 1, 2), {1, 0, 0, 0, 0, 0}};
  for (const auto& d : bad) {
    cap.Clear();
    TestRecord back;
    ReadInto(back, d);
    EXPECT_TRUE(s.untouched(back));
    ExpectLog({Oem(s.invalidLine, s.invalidText)});
  }
}

TEST_P(SingleRecordTest, WithoutTargetTheSectionIsNotEvenChecked) {
  TestRecord back;
  ReadData(GetParam().id, {2, 0, 0, 0, 9, 0, 0, 0}, [&](ScpEcg& c) { return GetParam().get(c, &back); });
  ExpectLog({});
}

INSTANTIATE_TEST_SUITE_P(Framing1, SingleRecordTest,
                         ::testing::Values(kSubjects[0], kSubjects[1], kSubjects[2], kSubjects[6]), SubjectName);

TEST_F(MfrTest, OddLengthAnnotationRecordIsPaddedAndAccepted) {
  // A record of 45 bytes: three entries and one byte more.
  Bytes rec;
  rec.u32(45).u32(3).u32(7).u32(9).u32(kAnnMark);
  for (uint32_t i = 0; i < 3; ++i) {
    auto e = AnnEntry(i);
    rec.u32(e.value).u8(e.code1).u8(e.code2).u16(e.word);
  }
  rec.u8(0xEE);
  ASSERT_EQ(rec.v.size(), 45u);

  // Writer side: L + 8 bytes, and the container's pad byte makes L + 9.
  mfr::RecordBody body;
  body.recordLength = 45;
  body.bytes = rec.v;
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.FormatRecordHeader(1 << 16));
  ASSERT_TRUE(mfr::PutSingleRecord(codec, mfr::Messages(130), body));
  auto data = recb::DataOf(recb::Finish(codec), 130);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->size(), 45u + 9);

  for (const auto& d : {*data, Reframe(*data, 1, 0)}) {
    TestRecord back;
    back.SetAnnotations(new AnnotationList(4));
    ReadData(130, d, [&](ScpEcg& c) {
      c.GetAnnotationData(&back);
      return 1;
    });
    EXPECT_EQ(back.GetAnnotations()->count, 3u);
    EXPECT_EQ(back.GetAnnotations()->valueB, 9u);
  }
  ExpectLog({});
}

TEST_F(MfrTest, OddExactFitCountsThePadByte) {
  std::vector<uint8_t> record(45, 1);
  mfr::RecordBody body;
  body.recordLength = 45;
  body.bytes = record;
  const uint32_t base = ScpEcg::kEmptyRecordSize + 16;
  ScpEcg tight(nullptr, &log);
  ASSERT_TRUE(tight.FormatRecordHeader(base + 53));
  EXPECT_FALSE(mfr::PutSingleRecord(tight, mfr::Messages(131), body));
  ExpectLog({Oem(3269, "SCP-ECG: size limit")});
  cap.Clear();
  ScpEcg room(nullptr, &log);
  ASSERT_TRUE(room.FormatRecordHeader(base + 54));
  EXPECT_TRUE(mfr::PutSingleRecord(room, mfr::Messages(131), body));
  ExpectLog({});
}

// ------------------------------------------------------ empty sub-records

TEST_F(MfrTest, EmptySubRecordsReportAsEachSectionSays) {
  struct Case {
    std::function<void(TestRecord&)> attach;
    void (*put)(ScpEcg&, TestRecord*);
    uint16_t id;
    std::vector<Msg> log;
  };
  const std::vector<Case> cases = {
      {[](TestRecord& r) { r.SetAnnotations(new AnnotationList(4)); },
       [](ScpEcg& c, TestRecord* r) { c.PutAnnotationData(r); }, 130, {Oem(3214, "SCP-ECG: no annotations")}},
      {[](TestRecord& r) { r.SetPAnnotations(new AnnotationList(4)); },
       [](ScpEcg& c, TestRecord* r) { c.PutPAnnotationData(r); }, 146, {}},
      {[](TestRecord& r) { r.SetEpisodes(new EpisodeList(4, 16)); },
       [](ScpEcg& c, TestRecord* r) { c.PutEpisodeData(r); }, 131, {Oem(3272, "SCP-ECG: no episodes")}},
      {[](TestRecord& r) { r.SetPacemakerList(new PacemakerList(4)); },
       [](ScpEcg& c, TestRecord* r) { c.PutPacemakerData(r); }, 138, {Mem(3532)}},
      {[](TestRecord& r) { r.SetBloodPressureDataRecord(new BloodPressureData(4)); },
       [](ScpEcg& c, TestRecord* r) { c.PutBloodPressureData(r); }, 139, {Mem(3600)}},
      // A trail with count 0, with count above its 16 slots, or with an
      // empty slot up to its count gives no record and no message.
      {[](TestRecord& r) { FillAudit(*r.GetAuditTrailRecord(), 0); },
       [](ScpEcg& c, TestRecord* r) { c.PutAuditTrail(r); }, 147, {}},
      {[](TestRecord& r) { FillAudit(*r.GetAuditTrailRecord(), 17); },
       [](ScpEcg& c, TestRecord* r) { c.PutAuditTrail(r); }, 147, {}},
      {[](TestRecord& r) {
         AuditTrail* t = r.GetAuditTrailRecord();
         FillAudit(*t, 3);
         delete t->entries[1];
         t->entries[1] = nullptr;
       },
       [](ScpEcg& c, TestRecord* r) { c.PutAuditTrail(r); }, 147, {}},
  };
  for (const auto& c : cases) {
    cap.Clear();
    TestRecord rec;
    c.attach(rec);
    auto file = Save(rec, c.put);
    EXPECT_EQ(recb::EntryOf(file, c.id)->length, 0u) << c.id;
    EXPECT_EQ(file.size(), ScpEcg::kEmptyRecordSize) << c.id;
    ExpectLog(c.log);
  }
}

// ------------------------------------------------------------ annotations

TEST_F(MfrTest, AnnotationRecordLayoutInTheSection) {
  TestRecord rec;
  rec.SetAnnotations(FilledAnnotations(3, 0, 0));
  rec.GetAnnotations()->valueA = 7;
  rec.GetAnnotations()->valueB = 9;
  auto d = SaveData(rec, [](ScpEcg& c, TestRecord* r) { c.PutAnnotationData(r); }, 130);
  ASSERT_EQ(d.size(), 44u + 8);
  EXPECT_EQ(Word(d, 4), 44u);
  EXPECT_EQ(Word(d, 8), 3u);
  EXPECT_EQ(Word(d, 12), 7u);
  EXPECT_EQ(Word(d, 16), 9u);
  EXPECT_EQ(Word(d, 20), kAnnMark);
  EXPECT_EQ(Word(d, 24), AnnEntry(0).value);

  TestRecord ext;
  ext.SetAnnotations(FilledAnnotations(3, (1u << 17) | (1u << 19), 0));
  auto e = SaveData(ext, [](ScpEcg& c, TestRecord* r) { c.PutAnnotationData(r); }, 130);
  ASSERT_EQ(e.size(), 164u + 8);
  EXPECT_EQ(Word(e, 4), 164u);
  EXPECT_EQ(e[4 + 44], AnnExt(17, 0).bytes[0]);
  EXPECT_EQ(e[4 + 104], AnnExt(19, 0).bytes[0]);
}

// Sections 130 and 146 choose the annotation reader alike.
class AnnotationReaderTest : public MfrTest, public ::testing::WithParamInterface<uint16_t> {
 protected:
  AnnotationList* Slot(TestRecord& r) { return GetParam() == 130 ? r.GetAnnotations() : r.GetPAnnotations(); }
  void Attach(TestRecord& r, AnnotationList* l) {
    if (GetParam() == 130)
      r.SetAnnotations(l);
    else
      r.SetPAnnotations(l);
  }
  void Get(ScpEcg& c, TestRecord* r) {
    if (GetParam() == 130)
      c.GetAnnotationData(r);
    else
      c.GetPAnnotationData(r);
  }
  void Put(ScpEcg& c, TestRecord* r) {
    if (GetParam() == 130)
      c.PutAnnotationData(r);
    else
      c.PutPAnnotationData(r);
  }
  std::vector<uint8_t> Written(uint32_t count, uint32_t mask) {
    TestRecord rec;
    Attach(rec, FilledAnnotations(count, mask, 3));
    return SaveData(rec, [this](ScpEcg& c, TestRecord* r) { Put(c, r); }, GetParam());
  }
  void ReadInto(TestRecord& r, const std::vector<uint8_t>& d) {
    ReadData(GetParam(), d, [&](ScpEcg& c) {
      Get(c, &r);
      return 1;
    });
  }
};

TEST_P(AnnotationReaderTest, HolterProcedureAlsoFillsExtensionArrays) {
  auto d = Written(4, AnnotationList::kHolterExtensions);
  std::unique_ptr<AnnotationList> want(FilledAnnotations(4, AnnotationList::kHolterExtensions, 3));
  for (uint32_t procedure : {1u, kHolter}) {
    TestRecord back;
    back.SetProcedureType(procedure);
    auto* l = new AnnotationList(6, AnnotationList::kHolterExtensions);
    for (uint32_t x = 17; x < 20; ++x) l->extensions[x][0].words[0] = 0x1234;
    Attach(back, l);
    ReadInto(back, d);
    EXPECT_TRUE(SameAnnotations(*l, *want, false));
    if (procedure == kHolter) {
      EXPECT_TRUE(SameAnnotations(*l, *want, true));
    } else {
      // The general reader leaves the extension entries behind the
      // annotations alone.
      for (uint32_t x = 17; x < 20; ++x) EXPECT_EQ(l->extensions[x][0].words[0], 0x1234);
    }
  }
  ExpectLog({});
}

TEST_P(AnnotationReaderTest, MoreAnnotationsThanCapacityAreCut) {
  auto d = Written(5, 0);
  for (uint32_t procedure : {1u, kHolter}) {
    cap.Clear();
    TestRecord back;
    back.SetProcedureType(procedure);
    Attach(back, new AnnotationList(4));
    ReadInto(back, d);
    EXPECT_EQ(Slot(back)->count, 4u);
    ExpectLog({Oem(procedure == kHolter ? 2071 : 2031, "ann too small")}, "lib/system");
  }
}

TEST_P(AnnotationReaderTest, WrongFormatMarkIsRefused) {
  auto d = Written(2, 0);
  d[20] = 0x01;  // 0xFF000001
  ASSERT_EQ(Word(d, 20), kOldMark);
  for (uint32_t procedure : {1u, kHolter}) {
    cap.Clear();
    TestRecord back;
    back.SetProcedureType(procedure);
    Attach(back, new AnnotationList(4));
    ReadInto(back, d);
    EXPECT_EQ(Slot(back)->count, 0u);
    ExpectLog({Oem(procedure == kHolter ? 2089 : 2049, "invalid version")}, "lib/system");
  }
}

INSTANTIATE_TEST_SUITE_P(Both, AnnotationReaderTest, ::testing::Values(uint16_t{130}, uint16_t{146}));

// --------------------------------------------------------------- episodes

TEST_F(MfrTest, EpisodeRecordsInTheSection) {
  TestRecord two;
  two.SetEpisodes(FilledEpisodes({{1, 2, 3, 4, 5, 6, nullptr}, {7, 8, 9, 10, 11, 12, nullptr}}));
  auto d = SaveData(two, [](ScpEcg& c, TestRecord* r) { c.PutEpisodeData(r); }, 131);
  EXPECT_EQ(d.size(), 60u + 8);
  EXPECT_EQ(Word(d, 4), 60u);

  TestRecord typed;
  typed.SetEpisodes(FilledEpisodes({{1, 2, 3, 40, 5, 6, "ST"}}));
  auto t = SaveData(typed, [](ScpEcg& c, TestRecord* r) { c.PutEpisodeData(r); }, 131);
  EXPECT_EQ(Word(t, 4), 8u + 28);
  EXPECT_EQ(Word(t, 12 + 16), 36u);  // type code 40 goes out as 36

  TestRecord back;
  back.SetEpisodes(new EpisodeList(4, 100));
  ReadData(131, t, [&](ScpEcg& c) {
    c.GetEpisodeData(&back);
    return 1;
  });
  EpisodeList* l = back.GetEpisodes();
  ASSERT_EQ(l->count, 1u);
  EXPECT_EQ(l->entries[0].typeCode, 36u);
  Bytes store;
  store.u32(0).u16(2).raw("ST", 2).u32(1);
  EXPECT_EQ(std::memcmp(l->textStore, store.v.data(), store.v.size()), 0);

  // A store of 8 bytes takes neither the text nor the trailing count.
  TestRecord small;
  small.SetEpisodes(new EpisodeList(4, 8));
  std::memset(small.GetEpisodes()->textStore, 0xAB, 8);
  ReadData(131, t, [&](ScpEcg& c) {
    c.GetEpisodeData(&small);
    return 1;
  });
  EXPECT_EQ(small.GetEpisodes()->count, 1u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(small.GetEpisodes()->textStore[i], 0xAB);
  ExpectLog({});
}

// ------------------------------------------ pacemaker and blood pressure

TEST_F(MfrTest, PacemakerAndBloodPressureRecordLengths) {
  TestRecord rec;
  rec.SetPacemakerList(FilledPacemaker(2));
  rec.SetBloodPressureDataRecord(FilledBloodPressure(3));
  auto file = Save(rec, [](ScpEcg& c, TestRecord* r) {
    c.PutPacemakerData(r);
    c.PutBloodPressureData(r);
  });
  auto p = recb::DataOf(file, 138);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->size(), 148u + 8);
  EXPECT_EQ(Word(*p, 4), 148u);
  EXPECT_EQ(Word(*p, 12), kOldMark);
  for (size_t i = 4 + 148 - 128; i < 4 + 148; ++i) EXPECT_EQ((*p)[i], 0) << i;
  auto b = recb::DataOf(file, 139);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->size(), 860u);
  EXPECT_EQ(Word(*b, 4), 852u);
}

TEST_F(MfrTest, SecondBloodPressureRecordTooLongImportsTheFirst) {
  TestRecord rec;
  rec.SetBloodPressureDataRecord(FilledBloodPressure(2));
  auto d = SaveData(rec, [](ScpEcg& c, TestRecord* r) { c.PutBloodPressureData(r); }, 139);
  Bytes two;
  two.u32(2).raw(std::vector<uint8_t>(d.begin() + 4, d.end())).u32(5000).zeros(40);
  TestRecord back;
  back.SetBloodPressureDataRecord(new BloodPressureData(4));
  EXPECT_EQ(ReadData(139, two.v, [&](ScpEcg& c) { return c.GetBloodPressureData(&back); }), 1);
  EXPECT_EQ(back.GetBloodPressureDataRecord()->count, 2u);
  EXPECT_EQ(back.GetBloodPressureDataRecord()->readings[1].words[3], 1000u + 21 + 1);
  ExpectLog({Oem(3564, "invalid record - too short 2")});
}

TEST_F(MfrTest, CountedRecordsSkipZeroLengthsAndStopWhenWordsRunOut) {
  // Count 3: a zero length word (stepped over as four bytes), a results
  // record with its gap, then no bytes for the third length word.
  std::unique_ptr<BloodPressureResults> filled(FilledResults());
  uint32_t n = 0;
  auto record = filled->Serialize(&n);
  Bytes d;
  d.u32(3).u32(0).raw(record.get(), n).u32(0);
  TestRecord back;
  back.SetBloodPressureResultsRecord(new BloodPressureResults());
  EXPECT_EQ(ReadData(140, d.v, [&](ScpEcg& c) { return c.GetBloodPressureResults(&back); }), 1);
  EXPECT_EQ(std::memcmp(back.GetBloodPressureResultsRecord(), filled.get(), 440), 0);
  ExpectLog({Oem(3634, "invalid record - too short")});
}

TEST_F(MfrTest, OlderResultsRecordGetsTheFixedExtraWords) {
  Bytes r;
  r.u32(8 + 8 + 12 * 28).u32(kOldMark).u32(11).u32(22);
  for (uint32_t g = 0; g < 12; ++g)
    for (uint32_t v = 0; v < 7; ++v) r.u32(g * 10 + v);
  Bytes d;
  d.u32(1).raw(r.v).u32(0);
  TestRecord back;
  back.SetBloodPressureResultsRecord(FilledResults());
  EXPECT_EQ(ReadData(140, d.v, [&](ScpEcg& c) { return c.GetBloodPressureResults(&back); }), 1);
  auto* res = back.GetBloodPressureResultsRecord();
  EXPECT_EQ(res->value1, 11u);
  EXPECT_EQ(res->value2, 22u);
  EXPECT_EQ(res->groups[3].values[6], 36u);
  EXPECT_EQ(res->groups[0].extra[0], 120u);
  EXPECT_EQ(res->groups[0].extra[1], 105u);
  EXPECT_EQ(res->groups[4].extra[0], 120u);
  EXPECT_EQ(res->groups[4].extra[1], 105u);
  EXPECT_EQ(res->groups[9].extra[0], 70u);
  EXPECT_EQ(res->groups[9].extra[1], 55u);
  EXPECT_EQ(res->groups[2].extra[0], 0u);
  ExpectLog({});
}

TEST_F(MfrTest, ResultsRecordOfLengthEightIsRefusedAndClears) {
  Bytes d;
  d.u32(1).u32(8).u32(BloodPressureResults::kFormatMark).u32(0);
  TestRecord back;
  back.SetBloodPressureResultsRecord(FilledResults());
  ReadData(140, d.v, [&](ScpEcg& c) { return c.GetBloodPressureResults(&back); });
  const uint8_t* block = reinterpret_cast<const uint8_t*>(back.GetBloodPressureResultsRecord());
  for (int i = 0; i < 440; ++i) ASSERT_EQ(block[i], 0) << i;
}

// ------------------------------------------------------------- spirometry

TEST_F(MfrTest, SpirometryItemsFillTheItemsTheRecordHolds) {
  auto item = [](uint32_t seed, uint32_t length) {
    Bytes b;
    b.u32(length);
    for (uint32_t w = 1; w < length / 4; ++w) b.u32(seed * 100000 + w);
    return b.v;
  };
  Bytes d;
  d.u32(3).raw(item(1, 6264)).u32(0).raw(item(2, 6264)).u32(0).raw(item(3, 6264)).u32(0);
  TestRecord back;
  for (int i = 0; i < 2; ++i) {
    auto* s = new SpirometryItem();
    s->words[7] = kSentinel;
    ASSERT_TRUE(back.AddSpirometryItem(s));
  }
  EXPECT_EQ(ReadData(145, d.v, [&](ScpEcg& c) { return c.GetSpirometryItems(&back); }), 1);
  EXPECT_EQ(back.GetSpirometryItemAt(0)->words[0], 6264u);
  EXPECT_EQ(back.GetSpirometryItemAt(0)->words[1565], 100000u + 1565);
  EXPECT_EQ(back.GetSpirometryItemAt(1)->words[7], 200000u + 7);
  ExpectLog({});

  // A record shorter than an item fills what it holds and zeroes the rest;
  // nothing of the next record gets in.
  Bytes s;
  s.u32(2).raw(item(4, 40)).u32(0).raw(item(5, 6264)).u32(0);
  EXPECT_EQ(ReadData(145, s.v, [&](ScpEcg& c) { return c.GetSpirometryItems(&back); }), 1);
  EXPECT_EQ(back.GetSpirometryItemAt(0)->words[0], 40u);
  EXPECT_EQ(back.GetSpirometryItemAt(0)->words[9], 400009u);
  for (uint32_t w = 10; w < SpirometryItem::kWords; ++w) ASSERT_EQ(back.GetSpirometryItemAt(0)->words[w], 0u) << w;
  EXPECT_EQ(back.GetSpirometryItemAt(1)->words[0], 6264u);
  ExpectLog({});
}

TEST_F(MfrTest, SpirometryItemSectionCutsAreReported) {
  Bytes d;
  d.u32(2).u32(64).zeros(60).u32(0).u32(64).zeros(60).u32(0);
  for (size_t t = 0; t <= d.v.size(); ++t) {
    cap.Clear();
    std::vector<uint8_t> cut(d.v.begin(), d.v.begin() + t);
    TestRecord back;
    for (int i = 0; i < 2; ++i) {
      auto* s = new SpirometryItem();
      s->words[3] = kSentinel;
      back.AddSpirometryItem(s);
    }
    int result = ReadData(145, cut, [&](ScpEcg& c) { return c.GetSpirometryItems(&back); });
    const size_t seen = t + (t & 1);
    SCOPED_TRACE(t);
    if (seen == 0) {
      EXPECT_EQ(result, 0);
      continue;
    }
    const bool first = seen >= 4 + 64, second = seen >= 4 + 68 + 64;
    EXPECT_EQ(back.GetSpirometryItemAt(0)->words[3] != kSentinel, first);
    EXPECT_EQ(back.GetSpirometryItemAt(1)->words[3] != kSentinel, second);
    if (seen < 8 || (first && !second && seen < 4 + 68 + 4)) {
      ExpectLog({Oem(3771, "invalid record - too short")});
    } else if (!second) {
      ExpectLog({Oem(3770, "invalid record - too short 2")});
    } else {
      ExpectLog({});
    }
  }
}

// ------------------------------------------------------------- audit trail

TEST_F(MfrTest, AuditTrailSectionLayoutAndCodes) {
  TestRecord rec;
  FillAudit(*rec.GetAuditTrailRecord(), 2);
  rec.GetAuditTrailRecord()->entries[0]->hour = 25;
  rec.GetAuditTrailRecord()->entries[1]->actionCode = 7;
  auto d = SaveData(rec, [](ScpEcg& c, TestRecord* r) { c.PutAuditTrail(r); }, 147);
  ASSERT_EQ(d.size(), 100u);
  EXPECT_EQ(Word(d, 0), 1u);
  EXPECT_EQ(Word(d, 4), 92u);
  EXPECT_EQ(Word(d, 8), 2u);
  EXPECT_EQ(d[12 + 4], 25);        // hour byte as it is
  EXPECT_EQ(d[12 + 44 + 8], 0xFF);  // an action code outside 0..3

  TestRecord back;
  back.GetAuditTrailRecord()->entries[1]->actionCode = 2;
  EXPECT_EQ(ReadData(147, d, [&](ScpEcg& c) { return c.GetAuditTrail(&back); }), 1);
  AuditTrail* t = back.GetAuditTrailRecord();
  EXPECT_EQ(t->count, 2);
  EXPECT_EQ(t->entries[0]->hour, 0);
  EXPECT_EQ(t->entries[1]->actionCode, 2);  // kept from before the read
  EXPECT_EQ(t->entries[1]->year, 2001);
  ExpectLog({});
}

TEST_F(MfrTest, AuditPayloadAnnouncingMoreThanItHolds) {
  auto entry = [](uint16_t year) {
    Bytes e;
    e.u16(year).u8(1).u8(2).u8(3).u8(4).u16(5000).u8(1).zeros(3).zeros(32);
    return e.v;
  };
  // Twenty announced, twenty present: sixteen slots filled.
  Bytes p20;
  p20.u32(20);
  for (uint16_t i = 0; i < 20; ++i) p20.raw(entry(1990 + i));
  Bytes d20;
  d20.u32(1).u32(static_cast<uint32_t>(p20.v.size())).raw(p20.v);
  TestRecord back;
  EXPECT_EQ(ReadData(147, d20.v, [&](ScpEcg& c) { return c.GetAuditTrail(&back); }), 1);
  EXPECT_EQ(back.GetAuditTrailRecord()->count, 16);
  EXPECT_EQ(back.GetAuditTrailRecord()->entries[15]->year, 2005);

  // W = 48 announcing two entries: the first slot is filled, the count stays.
  Bytes d48;
  d48.u32(1).u32(48).u32(2).raw(entry(1999));
  TestRecord two;
  EXPECT_EQ(ReadData(147, d48.v, [&](ScpEcg& c) { return c.GetAuditTrail(&two); }), 1);
  EXPECT_EQ(two.GetAuditTrailRecord()->count, 0);
  EXPECT_EQ(two.GetAuditTrailRecord()->entries[0]->year, 1999);
  ExpectLog({});
}

// ------------------------------------------------------ through the service

class ServiceTest : public MfrTest {
 protected:
  std::string path = dir.File("record.scp");
};

TEST_F(ServiceTest, EverySubRecordSavesAndFetchesBackEqual) {
  TestRecord rec;
  for (const Subject& s : kSubjects) s.attachFilled(rec);
  {
    ScpService service(plat::ThisModule());
    ASSERT_EQ(service.SaveTestRecord(&rec, path.c_str()), 1) << cap.Dump();
  }
  auto file = ReadFileBytes(path);
  for (const Subject& s : kSubjects) {
    auto e = recb::EntryOf(file, s.id);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->length, 16 + s.dataLength) << s.name;
  }
  TestRecord back;
  for (const Subject& s : kSubjects) s.attachTarget(back);
  back.SetFilePath(path.c_str());
  {
    ScpService service(plat::ThisModule());
    ASSERT_EQ(service.FetchTest(&back), 1) << cap.Dump();
  }
  for (const Subject& s : kSubjects) EXPECT_TRUE(s.restored(back)) << s.name;
  // None of these sections, nor the annotation reader, reported anything.
  for (const auto& m : cap.Messages()) {
    EXPECT_NE(m.source, "lib/system") << cap.Dump();
    for (const Subject& s : kSubjects)
      for (int line : {s.sizeLimitLine, s.beginLine, s.invalidLine, s.tooShortLine, s.tooShort2Line})
        EXPECT_FALSE(m.source == "scpecg" && m.line == line) << cap.Dump();
  }
}

}  // namespace
