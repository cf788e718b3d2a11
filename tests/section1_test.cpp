// Section 1 demographics at the codec level: the bytes PutDemographics
// writes, every reading rule of GetDemographics, the procedure type walk,
// and reading of cut and random section data.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "platform/platform.h"
#include "scp/scpecg.h"
#include "section1_fixture.h"
#include "support/log_capture.h"
#include "support/test_util.h"

namespace {

using s1test::Fields;
using Bytes = std::vector<uint8_t>;

struct Field {
  uint8_t tag;
  Bytes value;
};

// The fields of section 1 data up to and including the end tag.
std::vector<Field> ParseFields(const Bytes& d) {
  std::vector<Field> out;
  size_t p = 0;
  while (p + 3 <= d.size()) {
    const uint8_t tag = d[p];
    const size_t len = d[p + 1] | d[p + 2] << 8;
    if (p + 3 + len > d.size()) break;
    out.push_back({tag, Bytes(d.begin() + p + 3, d.begin() + p + 3 + len)});
    if (tag == 255) break;
    p += 3 + len;
  }
  return out;
}

std::vector<uint8_t> Tags(const std::vector<Field>& fields) {
  std::vector<uint8_t> t;
  for (auto& f : fields) t.push_back(f.tag);
  return t;
}

const Field* Find(const std::vector<Field>& fields, uint8_t tag) {
  for (auto& f : fields)
    if (f.tag == tag) return &f;
  return nullptr;
}

Bytes TextBytes(const std::string& s) {
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

std::vector<uint8_t> Range(int first, int last) {
  std::vector<uint8_t> v;
  for (int t = first; t <= last; ++t) v.push_back(static_cast<uint8_t>(t));
  return v;
}

// The whole tag catalogue in writing order.
std::vector<uint8_t> FullCatalogue() {
  std::vector<uint8_t> t = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 20, 21, 22, 23, 25, 26, 27, 28, 29, 34};
  for (uint8_t x : Range(181, 213)) t.push_back(x);
  for (uint8_t x : Range(215, 255)) t.push_back(x);
  return t;
}

class Section1Test : public ::testing::Test {
 protected:
  // Section 1 data as the writer produced it, through a whole record.
  Bytes Write(TestRecord& r, uint32_t capacity = 1000000) {
    ScpEcg c(nullptr, &log_);
    if (!c.FormatRecordHeader(capacity)) return {};
    c.PutDemographics(&r);
    uint32_t len = 0;
    const uint8_t* buf = c.FinalizeRecordHeader(&len);
    last_file_.assign(buf, buf + len);
    return s1test::SectionData(last_file_, 1);
  }

  std::string Store(const Bytes& file) {
    const std::string path = TempPath("section1.scp");
    EXPECT_TRUE(WriteFileBytes(path, file));
    return path;
  }

  int Read(const Bytes& data, TestRecord& r) {
    ScpEcg c(nullptr, &log_);
    EXPECT_TRUE(c.OpenRecord(Store(s1test::Section1File(data)).c_str()));
    return c.GetDemographics(&r);
  }

  int Procedure(const Bytes& data) {
    ScpEcg c(nullptr, &log_);
    EXPECT_TRUE(c.OpenRecord(Store(s1test::Section1File(data)).c_str()));
    return c.GetProcedureTypeFromFile();
  }

  bool Oem(int line, const std::string& text) const { return cap_.Has("LOGOEMERROR", "scpecg", line, text); }
  size_t OemCount() const { return cap_.Count("LOGOEMERROR"); }

  LogCapture cap_;
  EventLog log_{plat::ThisModule()};
  Bytes last_file_;
};

// ------------------------------------------------------------------ writer

TEST_F(Section1Test, TypicalRecordIsWrittenByteForByte) {
  TestRecord r;
  s1test::FillTypical(r);
  Bytes drugs = {0, 0, 0};
  for (char c : std::string("Aspirin 100mg")) drugs.push_back(static_cast<uint8_t>(c));
  drugs.push_back(0);
  Fields e;
  e.text(0, "Smith").text(1, "John").text(2, "ID-0042xZ").text(3, "Doe");
  e.unit(4, 0, 4).date(5, 1970, 5, 17).unit(6, 1778, 3).unit(7, 2472, 4).u8(8, 2).u8(9, 10);
  e.bytes(10, drugs).i16(11, 120).i16(12, 80).text(13, "Chest pain on exertion");
  e.bytes(14, {0, 0, 0, 0, 0, 0, 0, 255, 'Q', 'M', 'X', '4', '0', 0, 13, 0xA0, 0, 0xF0, 0,
               '1', '1', '1', '.', '1', '1', '1', '.', '1', '1', '1', '.', '1', '1', '1', 0,
               2, 'A', 0, 'B', 0, 'C', 0, 'D', 0, 'E', 0});
  e.text(20, "Dr. Referrer").text(21, "Dr. Confirmer").text(22, "Tech Anna").text(23, "42");
  e.date(25, 2023, 6, 15).bytes(26, {14, 30, 45}).i16(27, 5).i16(28, 150).u8(29, 0x0B);
  e.bytes(34, {0, 0, 0, 0, 0, 0});
  e.u32(181, 0x11223344).text(182, "K7x").u32(183, 183).text(184, "ACC-2023-0001");
  e.text(185, "t185").text(186, "t186").u32(187, 187).u32(188, 188);
  e.u32(189, 1890).u32(190, 1900).u32(191, 3).u32(192, 1920);
  e.u32(193, 1930).u32(194, 1940).u32(195, 9).u32(196, 1960);
  e.u32(197, 197).u32(198, 198).u32(199, 199);
  e.text(200, "1 Main Street").text(201, "Springfield").text(202, "IL").text(203, "62701");
  e.u8(204, 1).u8(205, 2).u8(206, 3).u8(207, 2).u8(208, 4).date(209, 2020, 1, 2);
  e.text(210, "Dr. Over").u32(211, 65000).u32(212, 1).u32(213, 4);
  e.text(215, "QMX40 cart").text(216, "SN-12345").text(217, "rev C");
  e.u32(218, 218).u32(219, 219).u32(220, 220);
  e.text(221, "t221").text(222, "t222").text(223, "t223").text(224, "t224").text(225, "t225");
  e.text(226, "Interp").text(227, "t227").text(228, "t228").text(229, "t229");
  e.bytes(230, {0xE7, 0x07, 6, 16, 9, 5, 7, 33}).text(231, "t231").text(232, "t232");
  e.u8(233, 0x81).i16(234, 150);
  e.u32(235, 235000).u32(236, 236000).u32(237, 237000).u32(238, 238000).u32(239, 72);
  e.text(240, "t240 long text");
  e.u32(241, 1).u32(242, 2).u32(243, 3).u32(244, 4).u32(245, 5).u32(246, 6);
  e.u32(247, 7).u32(248, 8).u32(249, 9).u32(250, 10).u32(251, 0xFFFFFFFFu).u32(252, 12);
  e.text(253, "t253").text(254, "t254").end();
  // An odd section gets one pad byte behind the end field.
  Bytes expected = e.v;
  if (expected.size() % 2) expected.push_back(0);

  const Bytes got = Write(r);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(Tags(ParseFields(got)), FullCatalogue());
}

TEST_F(Section1Test, EmptyRecordWritesOnlyTheAlwaysFields) {
  TestRecord r;
  const auto fields = ParseFields(Write(r));
  std::vector<uint8_t> expected = {4, 5, 6, 7, 8, 9, 14, 23, 25, 26, 27, 28, 29, 34, 181, 183};
  for (uint8_t t : Range(187, 199)) expected.push_back(t);
  for (uint8_t t : Range(204, 209)) expected.push_back(t);
  for (uint8_t t : {211, 212, 213, 218, 219, 220, 230, 233, 234}) expected.push_back(t);
  for (uint8_t t : Range(235, 239)) expected.push_back(t);
  for (uint8_t t : Range(241, 252)) expected.push_back(t);
  expected.push_back(255);
  EXPECT_EQ(Tags(fields), expected);
  EXPECT_EQ(Find(fields, 23)->value, TextBytes("0"));
  // A record without dates still writes them, as zeros.
  EXPECT_EQ(Find(fields, 5)->value, Bytes({0, 0, 0, 0}));
  EXPECT_EQ(Find(fields, 230)->value, Bytes(8, 0));
  EXPECT_EQ(Find(fields, 213)->value, Bytes({1, 0, 0, 0}));  // default procedure type
  EXPECT_EQ(Find(fields, 181)->value, Bytes({10, 0, 0, 0}));
  EXPECT_EQ(Find(fields, 191)->value, Bytes({6, 0, 0, 0}));
  EXPECT_EQ(Find(fields, 255)->value, Bytes());
  EXPECT_EQ(OemCount(), 0u) << cap_.Dump();
}

// What a setting writes under one tag; nullopt-like "absent" when empty.
struct WriteCase {
  const char* name;
  std::function<void(TestRecord&)> set;
  uint8_t tag;
  Bytes value;
  bool absent = false;
};

class Section1WriteRule : public Section1Test, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(Section1WriteRule, WritesTheEncodedValue) {
  TestRecord r;
  GetParam().set(r);
  const auto fields = ParseFields(Write(r));
  const Field* f = Find(fields, GetParam().tag);
  if (GetParam().absent) {
    EXPECT_EQ(f, nullptr);
    return;
  }
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->value, GetParam().value);
}

const std::string k300(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Rules, Section1WriteRule,
    ::testing::Values(
        WriteCase{"HeightToMillimetres", [](TestRecord& r) { r.SetHeight(7000); }, 6, {0xF2, 0x06, 3}},
        WriteCase{"HeightHalfRoundsUp", [](TestRecord& r) { r.SetHeight(250); }, 6, {64, 0, 3}},
        WriteCase{"HeightAtMaximum", [](TestRecord& r) { r.SetHeight(129003); }, 6, {0xFF, 0x7F, 3}},
        WriteCase{"WeightToOunces", [](TestRecord& r) { r.SetWeight(15453); }, 7, {0xA8, 0x09, 4}},
        WriteCase{"WeightRoundsToNearest", [](TestRecord& r) { r.SetWeight(4); }, 7, {1, 0, 4}},
        WriteCase{"WeightRoundsDown", [](TestRecord& r) { r.SetWeight(3); }, 7, {0, 0, 4}},
        WriteCase{"AgeInDays", [](TestRecord& r) { r.SetAge(65535); }, 4, {0xFF, 0xFF, 4}},
        WriteCase{"SexOutOfRange", [](TestRecord& r) { r.SetSex(3); }, 8, {0}},
        WriteCase{"SexMale", [](TestRecord& r) { r.SetSex(1); }, 8, {1}},
        WriteCase{"RaceFourAsTen", [](TestRecord& r) { r.SetRace(4); }, 9, {10}},
        WriteCase{"RaceThree", [](TestRecord& r) { r.SetRace(3); }, 9, {3}},
        WriteCase{"RaceFiveNotWritten", [](TestRecord& r) { r.SetRace(5); }, 9, {}, true},
        WriteCase{"PressureZeroNotWritten", [](TestRecord& r) { r.SetBloodPressure(0); }, 11, {}, true},
        WriteCase{"SystolicHighHalf", [](TestRecord& r) { r.SetBloodPressure(0x00780050); }, 11, {0x78, 0}},
        WriteCase{"DiastolicLowHalf", [](TestRecord& r) { r.SetBloodPressure(0x00780050); }, 12, {0x50, 0}},
        WriteCase{"DiastolicZeroStillWritten", [](TestRecord& r) { r.SetBloodPressure(0x00780000); }, 12,
                  {0, 0}},
        WriteCase{"DiagnosisCutTo255", [](TestRecord& r) { r.SetDiagnosis(k300.c_str()); }, 13,
                  TextBytes(std::string(255, 'x'))},
        WriteCase{"DrugsCutTo255",
                  [](TestRecord& r) { r.SetDrugs(k300.c_str()); }, 10,
                  [] {
                    Bytes b = {0, 0, 0};
                    Bytes t = TextBytes(std::string(255, 'x'));
                    b.insert(b.end(), t.begin(), t.end());
                    return b;
                  }()},
        WriteCase{"EmptyDrugsNotWritten", [](TestRecord&) {}, 10, {}, true},
        WriteCase{"RoomDecimal", [](TestRecord& r) { r.SetRoom(65535); }, 23, TextBytes("65535")},
        WriteCase{"AcquisitionTimeThreeBytes",
                  [](TestRecord& r) { *r.GetAcquisitionDateTime() = DateTime(2001, 2, 3, 4, 5, 6, 7); }, 26,
                  {4, 5, 6}},
        WriteCase{"AcquisitionDate",
                  [](TestRecord& r) { *r.GetAcquisitionDateTime() = DateTime(2001, 2, 3, 4, 5, 6, 7); }, 25,
                  {0xD1, 0x07, 2, 3}},
        WriteCase{"HighPassSixteenBits", [](TestRecord& r) { r.SetHighPassFilter(0x12345); }, 27, {0x45, 0x23}},
        WriteCase{"FilterBitmapByte", [](TestRecord& r) { r.SetFilterBitmap(0x10F); }, 29, {0x0F}},
        WriteCase{"LeadBOutOfRange", [](TestRecord& r) { r.SetMeasureLeadB(12); }, 191, {0, 0, 0, 0}},
        WriteCase{"LeadAEleven", [](TestRecord& r) { r.SetMeasureLeadA(11); }, 195, {11, 0, 0, 0}},
        WriteCase{"AmbulatoryThreeAsZero", [](TestRecord& r) { r.SetAmbulatory(3); }, 204, {0}},
        WriteCase{"SmokingFourAsZero", [](TestRecord& r) { r.SetSmoking(4); }, 205, {0}},
        WriteCase{"AlcoholThree", [](TestRecord& r) { r.SetAlcohol(3); }, 206, {3}},
        WriteCase{"FamilyThreeAsZero", [](TestRecord& r) { r.SetFamily(3); }, 207, {0}},
        WriteCase{"PacemakerFiveAsZero", [](TestRecord& r) { r.SetPacemaker(5); }, 208, {0}},
        WriteCase{"Flag212AsOne", [](TestRecord& r) { r.SetTag212Flag(7); }, 212, {1, 0, 0, 0}},
        WriteCase{"ProcedureNineAsSeven", [](TestRecord& r) { r.SetProcedureType(9); }, 213, {7, 0, 0, 0}},
        WriteCase{"ProcedureSix", [](TestRecord& r) { r.SetProcedureType(6); }, 213, {6, 0, 0, 0}},
        WriteCase{"ExerciseTypeTwoNotBitZero", [](TestRecord& r) { r.SetExercise(2, 0); }, 233, {0}},
        WriteCase{"ExerciseFlagAnyNonZero", [](TestRecord& r) { r.SetExercise(1, 5); }, 233, {0x81}},
        WriteCase{"ExerciseFlagOnly", [](TestRecord& r) { r.SetExercise(0, 1); }, 233, {0x80}},
        WriteCase{"TargetRateSixteenBits", [](TestRecord& r) { r.SetTargetHeartRate(150); }, 234, {150, 0}},
        WriteCase{"ScrambleKeyEmptyNotWritten", [](TestRecord&) {}, 182, {}, true},
        WriteCase{"NameAtCapacity",
                  [](TestRecord& r) { r.SetPatientName("FFFFFFFFF", "SSSSSSSSS", "LLLLLLLLL"); }, 3,
                  TextBytes("SSSSSSSSS")},
        WriteCase{"StoredIdFifteen", [](TestRecord& r) { r.SetStoredPatientId("0123456789ABCDEFGH"); }, 2,
                  TextBytes("0123456789ABCDE")},
        WriteCase{"Tag240Long", [](TestRecord& r) { r.SetTag240Text(k300.c_str()); }, 240, TextBytes(k300)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Section1Test, DeviceBlockIsFixed) {
  TestRecord r;
  const auto fields = ParseFields(Write(r));
  const Field* f = Find(fields, 14);
  ASSERT_NE(f, nullptr);
  const Bytes expected = {0,   0,   0,   0,   0,   0,   0,   0xFF, 'Q', 'M', 'X', '4', '0', 0,   0x0D, 0xA0,
                          0,   0xF0, 0,  '1', '1', '1', '.', '1',  '1', '1', '.', '1', '1', '1', '.',  '1',
                          '1', '1', 0,   2,   'A', 0,   'B', 0,    'C', 0,   'D', 0,   'E', 0};
  EXPECT_EQ(f->value, expected);
  EXPECT_EQ(f->value.size(), 46u);
}

TEST_F(Section1Test, NoBufferLogsAndWritesNothing) {
  TestRecord r;
  ScpEcg c(nullptr, &log_);
  c.PutDemographics(&r);
  EXPECT_TRUE(Oem(4445, "SCP-ECG: Buffer NULL")) << cap_.Dump();
  EXPECT_TRUE(Oem(2311, "SCP-ECG: PutDemographics")) << cap_.Dump();
}

TEST_F(Section1Test, NoRoomForTheHeaderLogsAndLeavesTheSectionOut) {
  TestRecord r;
  ScpEcg c(nullptr, &log_);
  ASSERT_TRUE(c.FormatRecordHeader(ScpEcg::kEmptyRecordSize + 15));
  c.PutDemographics(&r);
  EXPECT_TRUE(Oem(4440, "SCP-ECG: Buffer overflow")) << cap_.Dump();
  EXPECT_TRUE(Oem(2311, "SCP-ECG: PutDemographics")) << cap_.Dump();
  EXPECT_EQ(c.entry(1)->length, 0u);
  EXPECT_EQ(c.position(), ScpEcg::kEmptyRecordSize);
}

// A buffer with room for the section header but not for every field: the
// section is given up and stays absent, nothing is written past the end.
TEST_F(Section1Test, SectionThatDoesNotFitStaysAbsent) {
  TestRecord r;
  s1test::FillTypical(r);
  ScpEcg c(nullptr, &log_);
  ASSERT_TRUE(c.FormatRecordHeader(ScpEcg::kEmptyRecordSize + 200));
  c.PutDemographics(&r);
  EXPECT_EQ(c.entry(1)->length, 0u);
  EXPECT_EQ(c.entry(1)->index, 0u);
  EXPECT_EQ(c.position(), ScpEcg::kEmptyRecordSize + 16);
  uint32_t len = 0;
  ASSERT_NE(c.FinalizeRecordHeader(&len), nullptr);
  EXPECT_EQ(len, ScpEcg::kEmptyRecordSize + 16);
}

// ------------------------------------------------------------------ reader

TEST_F(Section1Test, MissingSectionLogsAndLeavesTheRecord) {
  TestRecord r;
  ScpEcg c(nullptr, &log_);
  ASSERT_TRUE(c.OpenRecord(Store(s1test::Build({{8, Bytes(20, 0)}})).c_str()));
  EXPECT_EQ(c.GetDemographics(&r), 0);
  EXPECT_TRUE(cap_.Has("LOGSYSTEMERROR", "", -1, "SCP-ECG File does not contain Section 1")) << cap_.Dump();
  EXPECT_FALSE(r.IsModified());
  EXPECT_STREQ(r.GetPatientName(), "^^");
}

struct UnitCase {
  uint8_t tag;
  int16_t number;
  uint8_t unit;
  uint32_t expected;
};

class Section1UnitRead : public Section1Test, public ::testing::WithParamInterface<UnitCase> {};

TEST_P(Section1UnitRead, ConvertsToRecordUnits) {
  const UnitCase& k = GetParam();
  TestRecord r;
  ASSERT_EQ(Read(Fields().unit(k.tag, k.number, k.unit).end().v, r), 1);
  const uint32_t got = k.tag == 4 ? r.GetAge() : k.tag == 6 ? r.GetHeight() : r.GetWeight();
  EXPECT_EQ(got, k.expected);
  EXPECT_EQ(OemCount(), 0u) << cap_.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Age, Section1UnitRead,
    ::testing::Values(UnitCase{4, 2, 1, 730}, UnitCase{4, 2, 5, 0}, UnitCase{4, 3, 2, 90}, UnitCase{4, 2, 3, 14},
                      UnitCase{4, 100, 4, 100}, UnitCase{4, 5, 0, 0}, UnitCase{4, 77, 9, 77},
                      UnitCase{4, -1, 4, 65535}, UnitCase{4, 200, 1, 73000 & 0xFFFF}));
INSTANTIATE_TEST_SUITE_P(
    Height, Section1UnitRead,
    ::testing::Values(UnitCase{6, 170, 1, 6693}, UnitCase{6, 70, 2, 7000}, UnitCase{6, 1778, 3, 7000},
                      UnitCase{6, 55, 0, 0}, UnitCase{6, 55, 7, 55},
                      UnitCase{6, -254, 3, static_cast<uint32_t>(-1000)}));
INSTANTIATE_TEST_SUITE_P(
    Weight, Section1UnitRead,
    ::testing::Values(UnitCase{7, 70, 1, 15453}, UnitCase{7, 500, 2, 110}, UnitCase{7, 150, 3, 15000},
                      UnitCase{7, 2472, 4, 15450}, UnitCase{7, 10, 4, 63},
                      UnitCase{7, -10, 4, static_cast<uint32_t>(-63)}, UnitCase{7, 33, 8, 33},
                      UnitCase{7, 33, 0, 0}));

struct CodeCase {
  const char* name;
  uint8_t tag;
  Bytes value;
  std::function<void(TestRecord&)> preset;
  std::function<uint32_t(const TestRecord&)> get;
  uint32_t expected;
  int line = 0;  // a LOGOEMERROR line expected, with word
  const char* word = "";
};

class Section1CodeRead : public Section1Test, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(Section1CodeRead, MapsTheCode) {
  const CodeCase& k = GetParam();
  TestRecord r;
  k.preset(r);
  ASSERT_EQ(Read(Fields().bytes(k.tag, k.value).end().v, r), 1);
  EXPECT_EQ(k.get(r), k.expected);
  if (k.line) {
    EXPECT_TRUE(Oem(k.line, k.word)) << cap_.Dump();
    EXPECT_EQ(OemCount(), 1u) << cap_.Dump();
  } else {
    EXPECT_EQ(OemCount(), 0u) << cap_.Dump();
  }
}

auto Sex = [](const TestRecord& r) { return r.GetSex(); };
auto Race = [](const TestRecord& r) { return r.GetRace(); };
auto Amb = [](const TestRecord& r) { return r.GetAmbulatory(); };
auto Smk = [](const TestRecord& r) { return r.GetSmoking(); };
auto Alc = [](const TestRecord& r) { return r.GetAlcohol(); };
auto Fam = [](const TestRecord& r) { return r.GetFamily(); };
auto Pace = [](const TestRecord& r) { return r.GetPacemaker(); };
auto LeadA = [](const TestRecord& r) { return r.GetMeasureLeadA(); };
auto LeadB = [](const TestRecord& r) { return r.GetMeasureLeadB(); };
auto Flag = [](const TestRecord& r) { return static_cast<uint32_t>(r.GetTag212Flag()); };
auto Proc = [](const TestRecord& r) { return r.GetProcedureType(); };
auto Exer = [](const TestRecord& r) { return r.GetExerciseType() * 256 + r.GetExerciseFlag(); };
auto Hpf = [](const TestRecord& r) { return r.GetHighPassFilter(); };
auto Lpf = [](const TestRecord& r) { return r.GetLowPassFilter(); };
auto Thr = [](const TestRecord& r) { return r.GetTargetHeartRate(); };
auto Bmp = [](const TestRecord& r) { return r.GetFilterBitmap(); };
auto None = [](TestRecord&) {};

INSTANTIATE_TEST_SUITE_P(
    Codes, Section1CodeRead,
    ::testing::Values(
        CodeCase{"SexZero", 8, {0}, [](TestRecord& r) { r.SetSex(2); }, Sex, 0},
        CodeCase{"SexOne", 8, {1}, None, Sex, 1}, CodeCase{"SexTwo", 8, {2}, None, Sex, 2},
        CodeCase{"SexNineUnknown", 8, {9}, [](TestRecord& r) { r.SetSex(1); }, Sex, 0},
        CodeCase{"SexThreeLeaves", 8, {3}, [](TestRecord& r) { r.SetSex(2); }, Sex, 2},
        CodeCase{"RaceThree", 9, {3}, None, Race, 3}, CodeCase{"RaceTen", 9, {10}, None, Race, 4},
        CodeCase{"RaceFourIsZero", 9, {4}, [](TestRecord& r) { r.SetRace(2); }, Race, 0},
        CodeCase{"RaceElevenIsZero", 9, {11}, [](TestRecord& r) { r.SetRace(2); }, Race, 0},
        CodeCase{"AmbulatoryTwo", 204, {2}, None, Amb, 2},
        CodeCase{"AmbulatoryThree", 204, {3}, [](TestRecord& r) { r.SetAmbulatory(1); }, Amb, 1, 1746,
                 "Ambulatory"},
        CodeCase{"SmokingThree", 205, {3}, None, Smk, 3},
        CodeCase{"SmokingFour", 205, {4}, [](TestRecord& r) { r.SetSmoking(1); }, Smk, 1, 1753, "Smoking"},
        CodeCase{"AlcoholZero", 206, {0}, [](TestRecord& r) { r.SetAlcohol(2); }, Alc, 0},
        CodeCase{"AlcoholNine", 206, {9}, [](TestRecord& r) { r.SetAlcohol(2); }, Alc, 2, 1760, "Alcohol"},
        CodeCase{"FamilyTwo", 207, {2}, None, Fam, 2},
        CodeCase{"FamilyThree", 207, {3}, None, Fam, 0, 1766, "Family"},
        CodeCase{"PacemakerFour", 208, {4}, None, Pace, 4},
        CodeCase{"PacemakerFive", 208, {5}, [](TestRecord& r) { r.SetPacemaker(3); }, Pace, 3, 1774,
                 "Pacemaker"},
        CodeCase{"LeadBEleven", 191, {11, 0, 0, 0}, None, LeadB, 11},
        CodeCase{"LeadBTwelveLeaves", 191, {12, 0, 0, 0}, None, LeadB, 6},
        CodeCase{"LeadAZero", 195, {0, 0, 0, 0}, None, LeadA, 0},
        CodeCase{"LeadAHugeLeaves", 195, {0xFF, 0xFF, 0xFF, 0xFF}, None, LeadA, 6},
        CodeCase{"Flag212Five", 212, {5, 0, 0, 0}, None, Flag, 1},
        CodeCase{"Flag212HighByte", 212, {0, 0, 0, 1}, None, Flag, 1},
        CodeCase{"Flag212Zero", 212, {0, 0, 0, 0}, [](TestRecord& r) { r.SetTag212Flag(1); }, Flag, 0},
        CodeCase{"ProcedureSix", 213, {6, 0, 0, 0}, None, Proc, 6},
        CodeCase{"ProcedureZero", 213, {0, 0, 0, 0}, None, Proc, 0},
        CodeCase{"ProcedureNine", 213, {9, 0, 0, 0}, None, Proc, 7},
        CodeCase{"ProcedureHighWord", 213, {3, 0, 1, 0}, None, Proc, 7},
        CodeCase{"Exercise129", 233, {129}, None, Exer, 0x101},
        CodeCase{"Exercise128", 233, {128}, None, Exer, 0x001},
        CodeCase{"ExerciseOne", 233, {1}, None, Exer, 0x100},
        CodeCase{"ExerciseOtherBits", 233, {0x7E}, [](TestRecord& r) { r.SetExercise(1, 1); }, Exer, 0},
        CodeCase{"HighPassSigned", 27, {0xFB, 0xFF}, None, Hpf, 0xFFFFFFFBu},
        CodeCase{"LowPassPlain", 28, {0x10, 0x27}, None, Lpf, 10000},
        CodeCase{"TargetRateSigned", 234, {0xFF, 0xFF}, None, Thr, 0xFFFFFFFFu},
        CodeCase{"FilterBitmap", 29, {0xFF}, None, Bmp, 255}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Section1Test, NamesAndIdentifierAreAppliedAtTheEnd) {
  TestRecord r;
  r.SetScrambleKey("");
  ASSERT_EQ(Read(Fields().text(0, "Smith").text(1, "John").text(2, "A1b").text(3, "Doe").text(182, "\x01\x01\x01")
                     .end().v,
                 r),
            1);
  EXPECT_STREQ(r.GetPatientName(), "Smith^John^Doe");
  EXPECT_STREQ(r.GetStoredPatientId(), "A1b");
  // The key of tag 182 came after tag 2, yet it is the one that unscrambles.
  EXPECT_STREQ(r.GetPatientId(), "Z0a");
}

TEST_F(Section1Test, AbsentNameTagsClearNameAndIdentifiers) {
  TestRecord r;
  r.SetPatientName("A", "B", "C");
  r.SetStoredPatientId("123");
  ASSERT_EQ(Read(Fields().u8(8, 1).end().v, r), 1);
  EXPECT_STREQ(r.GetPatientName(), "^^");
  EXPECT_STREQ(r.GetStoredPatientId(), "");
  EXPECT_STREQ(r.GetPatientId(), "");
}

TEST_F(Section1Test, TextEndsAtNulOrAtTheEndOfTheValue) {
  TestRecord r;
  Fields f;
  f.bytes(20, {'A', 'B', 'C'});                    // no NUL
  f.bytes(21, {'D', 'E', 0, 'F', 'G', 0});         // stops at the first NUL
  f.bytes(0, Bytes(40, 'L'));                       // held to 31 characters
  f.bytes(2, {'9', '8', '7'});                      // no NUL in a holding buffer
  f.text(240, std::string(3000, 'T'));              // cut by the field's capacity
  f.bytes(10, {1, 2, 3, 'M', 'e', 'd'});            // code bytes, then a text without NUL
  ASSERT_EQ(Read(f.end().v, r), 1);
  EXPECT_STREQ(r.GetReferringPhysician(), "ABC");
  EXPECT_STREQ(r.GetConfirmingPhysician(), "DE");
  EXPECT_EQ(std::string(r.GetPatientName()), std::string(29, 'L'));
  EXPECT_STREQ(r.GetStoredPatientId(), "987");
  EXPECT_EQ(std::string(r.GetTag240Text()), std::string(511, 'T'));
  EXPECT_STREQ(r.GetDrugs(), "Med");
}

// A drug field too short for its three code bytes holds no text.
TEST_F(Section1Test, ShortDrugFieldSetsEmptyDrugs) {
  for (const Bytes& value : {Bytes{}, Bytes{0, 0}, Bytes{0, 0, 0}}) {
    TestRecord r;
    r.SetDrugs("old");
    ASSERT_EQ(Read(Fields().bytes(10, value).end().v, r), 1);
    EXPECT_STREQ(r.GetDrugs(), "") << value.size();
  }
}

TEST_F(Section1Test, SystolicAloneLeavesDiastolicZero) {
  TestRecord r;
  r.SetBloodPressure(0x00500050);
  ASSERT_EQ(Read(Fields().i16(11, 120).end().v, r), 1);
  EXPECT_EQ(r.GetBloodPressure(), 120u << 16);
  TestRecord both;
  ASSERT_EQ(Read(Fields().i16(12, 80).i16(11, 130).end().v, both), 1);
  EXPECT_EQ(both.GetBloodPressure(), (130u << 16) | 80u);
}

TEST_F(Section1Test, ShortBirthDateClearsIt) {
  TestRecord r;
  CalendarDate birth{1960, 3, 4};
  r.SetBirthDate(&birth);
  ASSERT_EQ(Read(Fields().bytes(5, {0xA0, 0x07}).end().v, r), 1);
  EXPECT_EQ(r.GetBirthDate()->year, 0);
  EXPECT_EQ(r.GetBirthDate()->month, 0);
  EXPECT_EQ(r.GetBirthDate()->day, 0);
}

TEST_F(Section1Test, ShortTag209LeavesTheDate) {
  TestRecord r;
  CalendarDate d{1999, 9, 8};
  r.SetTag209Date(&d);
  ASSERT_EQ(Read(Fields().bytes(209, {1, 2, 3}).end().v, r), 1);
  EXPECT_EQ(r.GetTag209Date()->year, 1999);
  EXPECT_EQ(r.GetTag209Date()->day, 9);
  EXPECT_EQ(r.GetTag209Date()->month, 8);
}

TEST_F(Section1Test, OverreadStampByLength) {
  TestRecord r;
  *r.GetOverreadDateTime() = DateTime(1990, 1, 1, 10, 11, 12, 13);
  ASSERT_EQ(Read(Fields().bytes(230, {0xE8, 0x07, 5, 6}).end().v, r), 1);
  EXPECT_EQ(r.GetOverreadDateTime()->year, 2024);
  EXPECT_EQ(r.GetOverreadDateTime()->month, 5);
  EXPECT_EQ(r.GetOverreadDateTime()->day, 6);
  EXPECT_EQ(r.GetOverreadDateTime()->hour, 10);
  EXPECT_EQ(r.GetOverreadDateTime()->hundredths, 13);
  ASSERT_EQ(Read(Fields().bytes(230, {0xE8, 0x07, 5, 6, 7, 8, 9, 10}).end().v, r), 1);
  EXPECT_EQ(r.GetOverreadDateTime()->hour, 7);
  EXPECT_EQ(r.GetOverreadDateTime()->minute, 8);
  EXPECT_EQ(r.GetOverreadDateTime()->second, 9);
  EXPECT_EQ(r.GetOverreadDateTime()->hundredths, 10);
  ASSERT_EQ(Read(Fields().bytes(230, {1, 2, 3}).end().v, r), 1);
  EXPECT_EQ(r.GetOverreadDateTime()->year, 2024);
}

TEST_F(Section1Test, DatesWrittenInPlaceDoNotMarkTheRecord) {
  TestRecord r;
  ASSERT_EQ(Read(Fields().date(25, 2022, 12, 31).bytes(26, {23, 59, 58}).date(209, 2001, 2, 3)
                     .bytes(230, {0xD0, 0x07, 1, 2, 3, 4, 5, 6}).end().v,
                 r),
            1);
  EXPECT_FALSE(r.IsModified());
  const DateTime* a = r.GetAcquisitionDateTime();
  EXPECT_EQ(a->year, 2022);
  EXPECT_EQ(a->month, 12);
  EXPECT_EQ(a->day, 31);
  EXPECT_EQ(a->hour, 23);
  EXPECT_EQ(a->minute, 59);
  EXPECT_EQ(a->second, 58);
  EXPECT_EQ(r.GetTag209Date()->year, 2001);
  EXPECT_EQ(r.GetOverreadDateTime()->year, 2000);
  EXPECT_EQ(r.GetOverreadDateTime()->hundredths, 6);
}

TEST_F(Section1Test, AgeIsReadBeforeTheBirthDate) {
  TestRecord fresh;
  ASSERT_EQ(Read(Fields().unit(4, 500, 4).date(5, 1970, 1, 1).date(25, 2020, 1, 1).end().v, fresh), 1);
  EXPECT_EQ(fresh.GetAge(), 500);  // not recomputed: the acquisition date came later
  EXPECT_EQ(fresh.GetBirthDate()->year, 1970);

  TestRecord withBirth;
  CalendarDate birth{1980, 1, 1};
  withBirth.SetBirthDate(&birth);
  withBirth.SetAge(0);
  const uint16_t before = withBirth.GetAge();
  ASSERT_EQ(Read(Fields().unit(4, 5000, 4).end().v, withBirth), 1);
  EXPECT_EQ(withBirth.GetAge(), before);
}

TEST_F(Section1Test, UnterminatedSectionKeepsFieldsButNotTheName) {
  TestRecord r;
  r.SetPatientName("First", "Second", "Last");
  r.SetStoredPatientId("ID1");
  EXPECT_EQ(Read(Fields().text(0, "New").text(2, "ID2").u8(8, 2).u32(213, 5).v, r), 0);
  EXPECT_TRUE(Oem(1950, "Incorrect termination")) << cap_.Dump();
  EXPECT_STREQ(r.GetPatientName(), "Last^First^Second");
  EXPECT_STREQ(r.GetStoredPatientId(), "ID1");
  EXPECT_EQ(r.GetSex(), 2u);
  EXPECT_EQ(r.GetProcedureType(), 5u);
}

TEST_F(Section1Test, FieldCutBeforeItsLengthEndsUnterminated) {
  TestRecord r;
  EXPECT_EQ(Read(Fields().u8(8, 1).raw({213, 4}).v, r), 0);
  EXPECT_EQ(r.GetSex(), 1u);
  EXPECT_TRUE(Oem(1950, "Incorrect termination")) << cap_.Dump();
  EXPECT_EQ(OemCount(), 1u) << cap_.Dump();
}

TEST_F(Section1Test, LengthPastTheEndReadsTheValueAsFields) {
  TestRecord r;
  // Tag 22 claims 256 bytes; its "value" is a tag 213 field and the end.
  ASSERT_EQ(Read(Fields().raw({22, 0x00, 0x01}).u32(213, 3).end().v, r), 1);
  EXPECT_TRUE(Oem(1948, "Incorrect SCP length")) << cap_.Dump();
  EXPECT_EQ(r.GetProcedureType(), 3u);
  EXPECT_STREQ(r.GetTechnician(), "");
}

class Section1OtherTag : public Section1Test, public ::testing::WithParamInterface<int> {};

TEST_P(Section1OtherTag, IsLoggedWithTheLatestText) {
  const uint8_t tag = static_cast<uint8_t>(GetParam());
  TestRecord r;
  ASSERT_EQ(Read(Fields().text(0, "Smith").bytes(tag, {1, 2, 3}).text(20, "Dr A").text(13, "Dx")
                     .bytes(tag, {4}).u8(8, 2).end().v,
                 r),
            1);
  auto lines = cap_.Lines();
  std::vector<std::string> texts;
  for (auto& l : lines)
    if (l.call == "LOGOEMERROR" && l.source == "scpecg" && l.line == 1946) texts.push_back(l.text);
  // Tags 0 to 3 do not count as the latest text.
  EXPECT_EQ(texts, (std::vector<std::string>{"", "Dx"})) << cap_.Dump();
  EXPECT_EQ(r.GetSex(), 2u);  // the value was stepped over
  EXPECT_STREQ(r.GetPatientName(), "Smith^^");
}

INSTANTIATE_TEST_SUITE_P(Tags, Section1OtherTag, ::testing::Values(36, 100, 150, 180));

class Section1SkippedTag : public Section1Test, public ::testing::WithParamInterface<int> {};

TEST_P(Section1SkippedTag, IsSteppedOverSilently) {
  const uint8_t tag = static_cast<uint8_t>(GetParam());
  TestRecord r;
  ASSERT_EQ(Read(Fields().text(20, "Dr A").bytes(tag, {8, 1, 2, 3, 4, 5, 6, 7}).end().v, r), 1);
  EXPECT_EQ(OemCount(), 0u) << cap_.Dump();
  EXPECT_EQ(r.GetSex(), 0u);
  EXPECT_STREQ(r.GetReferringPhysician(), "Dr A");
}

INSTANTIATE_TEST_SUITE_P(Tags, Section1SkippedTag,
                         ::testing::Values(14, 15, 16, 17, 18, 19, 24, 30, 31, 32, 33, 34, 35, 214));

// A value shorter than its tag's width takes the following bytes, as long as
// they lie within the section; beyond the end they count as zero.
TEST_F(Section1Test, ShortValueTakesTheFollowingBytes) {
  TestRecord r;
  ASSERT_EQ(Read(Fields().bytes(181, {0x34, 0x12}).end().v, r), 1);
  EXPECT_EQ(r.GetTag181Value(), 0x00FF1234u);  // 34 12, then the end field's FF 00
}

TEST_F(Section1Test, ShortValueAtTheVeryEndReadsZeros) {
  TestRecord r;
  EXPECT_EQ(Read({213, 1, 0, 3}, r), 0);
  EXPECT_EQ(r.GetProcedureType(), 3u);
  TestRecord s;
  s.SetSex(2);
  EXPECT_EQ(Read({8, 0, 0}, s), 0);
  EXPECT_EQ(s.GetSex(), 0u);
  TestRecord t;
  EXPECT_EQ(Read({6, 1, 0, 0x10}, t), 0);  // 16 with unit byte 0 beyond the end
  EXPECT_EQ(t.GetHeight(), 0u);
  TestRecord u;
  EXPECT_EQ(Read({26, 1, 0, 9}, u), 0);
  EXPECT_EQ(u.GetAcquisitionDateTime()->hour, 9);
  EXPECT_EQ(u.GetAcquisitionDateTime()->minute, 0);
}

// ------------------------------------------------------ procedure type walk

struct WalkCase {
  const char* name;
  Bytes data;
  int code;
  bool lengthMessage;
  bool terminationMessage;
};

class ProcedureWalk : public Section1Test, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(ProcedureWalk, FindsTheCode) {
  const WalkCase& k = GetParam();
  EXPECT_EQ(Procedure(k.data), k.code);
  EXPECT_EQ(Oem(4336, "Incorrect SCP length"), k.lengthMessage) << cap_.Dump();
  EXPECT_EQ(Oem(4341, "Incorrect termination"), k.terminationMessage) << cap_.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProcedureWalk,
    ::testing::Values(
        WalkCase{"NoTag213", Fields().text(0, "A").u8(8, 1).end().v, 2, false, false},
        WalkCase{"Three", Fields().text(0, "A").u32(213, 3).end().v, 3, false, false},
        WalkCase{"Zero", Fields().u32(213, 0).end().v, 0, false, false},
        WalkCase{"NineIsSeven", Fields().u32(213, 9).end().v, 7, false, false},
        WalkCase{"LaterOverrides", Fields().u32(213, 1).u32(213, 5).end().v, 5, false, false},
        WalkCase{"Unterminated", Fields().u32(213, 3).v, 7, false, true},
        WalkCase{"LengthPastEnd", Fields().raw({22, 0x00, 0x01}).u32(213, 3).end().v, 3, true, false},
        // A negative length ends the walk as unterminated; the 213 behind it
        // is never reached.
        WalkCase{"NegativeLength", Fields().raw({20, 0xFF, 0xFF}).u32(213, 3).end().v, 7, false, true},
        WalkCase{"Length32768", Fields().raw({20, 0x00, 0x80}).u32(213, 3).end().v, 7, false, true},
        WalkCase{"ShortTag213AtTheEnd", Bytes{213, 1, 0, 3}, 7, false, true},
        WalkCase{"CutBeforeLength", Bytes{8, 1, 0, 2, 213, 4}, 7, false, true},
        WalkCase{"SingleByte", Bytes{0}, 7, false, true},
        WalkCase{"EndFirst", Bytes{255, 0, 0, 213, 4, 0, 3, 0, 0, 0}, 2, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Section1Test, ProcedureWalkWithoutSection1) {
  ScpEcg c(nullptr, &log_);
  ASSERT_TRUE(c.OpenRecord(Store(s1test::Build({{8, Bytes(20, 0)}})).c_str()));
  EXPECT_EQ(c.GetProcedureTypeFromFile(), 2);
  EXPECT_TRUE(cap_.Has("LOGMEMORYERROR", "scpecg", 4344, "")) << cap_.Dump();
}

TEST_F(Section1Test, ProcedureWalkAgreesWithTheWriter) {
  for (uint32_t type : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 0xFFFFFFFFu}) {
    TestRecord r;
    s1test::FillTypical(r);
    r.SetProcedureType(type);
    const Bytes data = Write(r);
    EXPECT_EQ(Procedure(data), type <= 6 ? static_cast<int>(type) : 7) << type;
  }
}

// --------------------------------------------------------------- robustness

// Every prefix of a real section, and random data of every length, rebuilt
// into a sound record so that the section reaches the readers.
TEST_F(Section1Test, CutAndRandomSectionsReadCleanly) {
  TestRecord source;
  s1test::FillTypical(source);
  const Bytes real = Write(source);
  ASSERT_GT(real.size(), 500u);
  // Offsets where a field starts; a cut there leaves only whole fields.
  std::vector<size_t> starts;
  size_t endAt = 0;
  for (size_t p = 0; p < real.size(); p += 3 + (real[p + 1] | real[p + 2] << 8)) {
    starts.push_back(p);
    if (real[p] == 255) {
      endAt = p;
      break;
    }
  }
  ASSERT_EQ(starts.size(), FullCatalogue().size());
  std::mt19937 rng(12345);
  for (size_t n = 0; n <= real.size(); ++n) {
    Bytes cut(real.begin(), real.begin() + n);
    Bytes noise(n);
    for (auto& b : noise) b = static_cast<uint8_t>(rng());
    Bytes flipped = real;
    flipped[rng() % flipped.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    for (const Bytes* data : {&cut, &noise, &flipped}) {
      const std::string path = Store(s1test::Section1File(*data));
      ScpEcg c(nullptr, &log_);
      ASSERT_TRUE(c.OpenRecord(path.c_str()));
      TestRecord r;
      const int read = c.GetDemographics(&r);
      const int code = c.GetProcedureTypeFromFile();
      ASSERT_GE(code, 0);
      ASSERT_LE(code, 7);
      if (data == &cut && n > endAt) {
        EXPECT_EQ(read, 1) << n;
        EXPECT_EQ(code, 4) << n;
      } else if (data == &cut && std::find(starts.begin(), starts.end(), n) != starts.end()) {
        EXPECT_EQ(read, 0) << n;
        EXPECT_EQ(code, n == 0 ? 2 : 7) << n;
      }
    }
    cap_.Clear();
  }
}

}  // namespace
