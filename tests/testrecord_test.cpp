#include "lib/dbclient/testrecord.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lib/bytes.h"

namespace {

std::unique_ptr<TestRecord> NewRecord() { return std::make_unique<TestRecord>(); }

// ---------------------------------------------------------------- defaults
TEST(TestRecordNew, HasTheDocumentedDefaults) {
  auto r = NewRecord();
  EXPECT_STREQ(r->GetPatientName(), "^^");
  char buf[32] = "junk";
  EXPECT_STREQ(r->GetLastName(buf, sizeof buf), "");
  std::strcpy(buf, "junk");
  EXPECT_STREQ(r->GetFirstName(buf, sizeof buf), "");
  std::strcpy(buf, "junk");
  EXPECT_STREQ(r->GetSecondLastName(buf, sizeof buf), "");
  EXPECT_EQ(r->GetProcedureType(), 1u);
  EXPECT_EQ(r->GetIdentityReadable(), 1);
  EXPECT_EQ(r->GetTag181Value(), 10u);
  EXPECT_EQ(r->GetMeasureLeadA(), 6u);
  EXPECT_EQ(r->GetMeasureLeadB(), 6u);
  EXPECT_FALSE(r->IsModified());
  EXPECT_EQ(r->GetInterpretationStatus(), 0u);
  EXPECT_EQ(r->IsOriginalInterpretation(), 1);
  EXPECT_STREQ(r->GetInterpretationText(), "");
  EXPECT_STREQ(r->GetPatientId(), "");
  EXPECT_STREQ(r->GetStoredPatientId(), "");
  EXPECT_EQ(r->GetAge(), 0);
  EXPECT_EQ(r->GetRoom(), 0);
  EXPECT_EQ(r->GetTestKey(), 0u);
  EXPECT_EQ(r->GetMeasureValueA(), 0u);
  EXPECT_EQ(r->GetPairTime6(), 0u);

  // The record's own objects exist, zeroed; the host's slots are empty.
  ASSERT_NE(r->GetAcquisitionDateTime(), nullptr);
  ASSERT_NE(r->GetBirthDate(), nullptr);
  ASSERT_NE(r->GetTag209Date(), nullptr);
  ASSERT_NE(r->GetOriginalDateTime(), nullptr);
  ASSERT_NE(r->GetOverreadDateTime(), nullptr);
  ASSERT_NE(r->GetConfirmedDateTime(), nullptr);
  ASSERT_NE(r->GetStoredAuditDateTime(), nullptr);
  EXPECT_TRUE(r->GetAcquisitionDateTime()->IsZero());
  EXPECT_TRUE(r->GetConfirmedDateTime()->IsZero());
  EXPECT_EQ(r->GetBirthDate()->year, 0);
  EXPECT_EQ(r->HasBirthDate(), 0);
  EXPECT_EQ(r->HasAcquisitionDate(), 0);
  ASSERT_NE(r->GetAuditTrailRecord(), nullptr);
  EXPECT_EQ(r->GetAuditTrailRecord()->GetCount(), 0);
  ASSERT_NE(r->GetRhythmSummary(), nullptr);
  EXPECT_EQ(r->GetRhythmSummary()->GetSize(), 672u);
  EXPECT_EQ(r->GetRhythmSummary()->GetVersion(), 4u);
  EXPECT_EQ(r->GetWaveform(), nullptr);
  EXPECT_EQ(r->GetHostBlock(), nullptr);
  EXPECT_EQ(r->GetComplexDataCount(), 0);
  EXPECT_EQ(r->GetRhythmCount(), 0);
  EXPECT_EQ(r->GetSpirometryItemCount(), 0);
  EXPECT_EQ(r->GetTripleCount(), 0);
  for (int32_t i = 0; i < 32; ++i) EXPECT_EQ(r->GetTrendAt(i), nullptr);
}

// ------------------------------------------------------------------- texts
using Setter = void (TestRecord::*)(const char*);
using Getter = const char* (TestRecord::*)() const;
struct TextField {
  const char* name;
  Setter set;
  Getter get;
  size_t capacity;  // from the field table, NUL included
};

void PrintTo(const TextField& f, std::ostream* os) { *os << f.name; }

const TextField kTextFields[] = {
    {"tag186Text", &TestRecord::SetTag186Text, &TestRecord::GetTag186Text, 32},
    {"accessionNumber", &TestRecord::SetAccessionNumber, &TestRecord::GetAccessionNumber, 32},
    {"tag185Text", &TestRecord::SetTag185Text, &TestRecord::GetTag185Text, 32},
    {"street", &TestRecord::SetStreet, &TestRecord::GetStreet, 64},
    {"city", &TestRecord::SetCity, &TestRecord::GetCity, 32},
    {"state", &TestRecord::SetState, &TestRecord::GetState, 8},
    {"postalCode", &TestRecord::SetPostalCode, &TestRecord::GetPostalCode, 12},
    {"tag221Text", &TestRecord::SetTag221Text, &TestRecord::GetTag221Text, 32},
    {"confirmingPhysician", &TestRecord::SetConfirmingPhysician,
     &TestRecord::GetConfirmingPhysician, 39},
    {"technician", &TestRecord::SetTechnician, &TestRecord::GetTechnician, 64},
    {"diagnosis", &TestRecord::SetDiagnosis, static_cast<Getter>(&TestRecord::GetDiagnosis), 512},
    {"drugs", &TestRecord::SetDrugs, static_cast<Getter>(&TestRecord::GetDrugs), 512},
    {"tag240Text", &TestRecord::SetTag240Text, &TestRecord::GetTag240Text, 512},
    {"overreadingPhysician", &TestRecord::SetOverreadingPhysician,
     &TestRecord::GetOverreadingPhysician, 64},
    {"tag229Text", &TestRecord::SetTag229Text, &TestRecord::GetTag229Text, 64},
    {"tag225Text", &TestRecord::SetTag225Text, &TestRecord::GetTag225Text, 12},
    {"referringPhysician", &TestRecord::SetReferringPhysician, &TestRecord::GetReferringPhysician,
     32},
    {"tag222Text", &TestRecord::SetTag222Text, &TestRecord::GetTag222Text, 32},
    {"tag223Text", &TestRecord::SetTag223Text, &TestRecord::GetTag223Text, 64},
    {"tag224Text", &TestRecord::SetTag224Text, &TestRecord::GetTag224Text, 32},
    {"tag231Text", &TestRecord::SetTag231Text, &TestRecord::GetTag231Text, 32},
    {"deviceName", &TestRecord::SetDeviceName, &TestRecord::GetDeviceName, 64},
    {"deviceSerial", &TestRecord::SetDeviceSerial, &TestRecord::GetDeviceSerial, 64},
    {"deviceRevision", &TestRecord::SetDeviceRevision, &TestRecord::GetDeviceRevision, 64},
    {"filePath", &TestRecord::SetFilePath, &TestRecord::GetFilePath, 512},
    {"originalInterpreter", &TestRecord::SetOriginalInterpreter,
     &TestRecord::GetOriginalInterpreter, 64},
    {"tag232Text", &TestRecord::SetTag232Text, &TestRecord::GetTag232Text, 32},
    {"tag253Text", &TestRecord::SetTag253Text, &TestRecord::GetTag253Text, 64},
    {"tag254Text", &TestRecord::SetTag254Text, &TestRecord::GetTag254Text, 64},
    {"hostText3", &TestRecord::SetHostText3, &TestRecord::GetHostText3, 64},
    {"tag227Text", &TestRecord::SetTag227Text, &TestRecord::GetTag227Text, 32},
    {"tag228Text", &TestRecord::SetTag228Text, &TestRecord::GetTag228Text, 32},
    {"scrambleKey", &TestRecord::SetScrambleKey, &TestRecord::GetScrambleKey, 48},
    {"hostText1", &TestRecord::SetHostText1, &TestRecord::GetHostText1, 512},
    {"hostText2", &TestRecord::SetHostText2, &TestRecord::GetHostText2, 512},
};

std::string Text(size_t n, char first = 'a') {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i % 26);
  return s;
}

class TextSetter : public ::testing::TestWithParam<TextField> {
 protected:
  // The field lies inside the record, and its bytes past the text are zero.
  void ExpectStored(const TestRecord& r, const std::string& expected) {
    const TextField& f = GetParam();
    const char* text = (r.*f.get)();
    const auto* base = reinterpret_cast<const char*>(&r);
    ASSERT_GE(text, base);
    ASSERT_LE(text + f.capacity, base + sizeof(TestRecord));
    EXPECT_EQ(std::string(text), expected);
    for (size_t i = expected.size(); i < f.capacity; ++i) ASSERT_EQ(text[i], '\0') << i;
  }
};

TEST_P(TextSetter, FullTextIsKeptAndMarksOnlyWhenChanged) {
  const TextField& f = GetParam();
  auto r = NewRecord();
  const std::string full = Text(f.capacity - 1);
  (r.get()->*f.set)(full.c_str());
  ExpectStored(*r, full);
  EXPECT_TRUE(r->IsModified());
  r->ClearModified();
  (r.get()->*f.set)(full.c_str());
  EXPECT_FALSE(r->IsModified()) << "same text again";
  // One byte different at the very end.
  std::string last = full;
  last.back() = '#';
  (r.get()->*f.set)(last.c_str());
  EXPECT_TRUE(r->IsModified());
  ExpectStored(*r, last);
}

TEST_P(TextSetter, OnePastCapacityIsCutAndMarksEveryTime) {
  const TextField& f = GetParam();
  auto r = NewRecord();
  const std::string tooLong = Text(f.capacity);
  (r.get()->*f.set)(tooLong.c_str());
  ExpectStored(*r, tooLong.substr(0, f.capacity - 1));
  for (int round = 0; round < 2; ++round) {
    r->ClearModified();
    (r.get()->*f.set)(tooLong.c_str());
    EXPECT_TRUE(r->IsModified()) << "round " << round;
    ExpectStored(*r, tooLong.substr(0, f.capacity - 1));
  }
}

TEST_P(TextSetter, ShorterTextMarksAndClearsTheTail) {
  const TextField& f = GetParam();
  auto r = NewRecord();
  const std::string longer = Text(f.capacity - 1);
  (r.get()->*f.set)(longer.c_str());
  r->ClearModified();
  // A prefix of the old text: no byte of it changes, only the end moves.
  const std::string prefix = longer.substr(0, f.capacity / 2);
  (r.get()->*f.set)(prefix.c_str());
  EXPECT_TRUE(r->IsModified());
  ExpectStored(*r, prefix);
  r->ClearModified();
  (r.get()->*f.set)("");
  EXPECT_TRUE(r->IsModified());
  ExpectStored(*r, "");
}

TEST_P(TextSetter, NullLeavesTheFieldAndTheFlag) {
  const TextField& f = GetParam();
  auto r = NewRecord();
  (r.get()->*f.set)("kept");
  r->ClearModified();
  (r.get()->*f.set)(nullptr);
  EXPECT_FALSE(r->IsModified());
  ExpectStored(*r, "kept");
}

INSTANTIATE_TEST_SUITE_P(AllTextFields, TextSetter, ::testing::ValuesIn(kTextFields),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextFieldRule, FortyCharacterAccessionNumberKeeps31AndMarksTwice) {
  auto r = NewRecord();
  const std::string forty = Text(40, 'A');
  r->SetAccessionNumber(forty.c_str());
  EXPECT_EQ(std::string(r->GetAccessionNumber()), forty.substr(0, 31));
  EXPECT_TRUE(r->IsModified());
  r->ClearModified();
  r->SetAccessionNumber(forty.c_str());
  EXPECT_TRUE(r->IsModified());
}

TEST(TextFieldRule, CapacityBelowOneDoesNothing) {
  auto r = NewRecord();
  char field[4] = {'x', 'y', 'z', '\0'};
  r->SetTextField(field, "abc", 0);
  r->SetTextField(field, "abc", -5);
  r->SetTextField(nullptr, "abc", 4);
  EXPECT_STREQ(field, "xyz");
  EXPECT_FALSE(r->IsModified());
  r->SetTextField(field, "abcdef", 1);  // room for the NUL only
  EXPECT_STREQ(field, "");
  EXPECT_TRUE(r->IsModified());
}

// ----------------------------------------------------- copy-out texts
TEST(CopyOutTexts, DrugsAndDiagnosisCopyAFixedByteCount) {
  auto r = NewRecord();
  // Bytes behind the NUL travel too (the host may leave them there).
  std::memcpy(r->drugs, "ab\0XYZ", 6);
  std::memcpy(r->diagnosis, "cd\0UVW", 6);
  char out[8];
  std::memset(out, '*', sizeof out);
  EXPECT_EQ(r->GetDrugs(out, 8), out);
  EXPECT_EQ(std::memcmp(out, "ab\0XYZ\0\0", 8), 0);
  std::memset(out, '*', sizeof out);
  EXPECT_EQ(r->GetDiagnosis(out, 5), out);
  EXPECT_EQ(std::memcmp(out, "cd\0U\0***", 8), 0);
  std::memset(out, '*', sizeof out);
  r->GetDrugs(out, 1);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[1], '*');
  EXPECT_EQ(r->GetDrugs(nullptr, 10), nullptr);
  EXPECT_EQ(r->GetDrugs(out, 0), out);
  EXPECT_EQ(out[0], '\0');
}

TEST(CopyOutTexts, LargeBuffersGetAtMost511Bytes) {
  auto r = NewRecord();
  r->SetDrugs(Text(600).c_str());
  std::vector<char> out(1000, '*');
  r->GetDrugs(out.data(), 1000);
  EXPECT_EQ(std::string(out.data()), Text(511));
  EXPECT_EQ(out[512], '*');
}

TEST(CopyOutTexts, InterpretationTextCopiesUpToItsNul) {
  auto r = NewRecord();
  const std::string text = Text(5000);
  r->SetOriginalInterpretation(nullptr, text.c_str());
  std::vector<char> out(6000, '*');
  EXPECT_EQ(r->GetInterpretationText(out.data(), 6000), out.data());
  EXPECT_EQ(std::string(out.data()), text.substr(0, 4095));
  EXPECT_EQ(out[4096], '*');  // nothing written past the NUL
  char small[6];
  r->GetInterpretationText(small, sizeof small);
  EXPECT_STREQ(small, "abcde");
  EXPECT_EQ(r->GetInterpretationText(nullptr, 10), r->interpretationText);
  EXPECT_EQ(r->GetInterpretationText(small, 0), r->interpretationText);
}

// ----------------------------------------------------------------- numbers
using U32Set = void (TestRecord::*)(uint32_t);
using U32Get = uint32_t (TestRecord::*)() const;
struct NumberField {
  const char* name;
  U32Set set;
  U32Get get;
  bool marks;
};
void PrintTo(const NumberField& f, std::ostream* os) { *os << f.name; }

#define MARKING(N) {#N, &TestRecord::Set##N, &TestRecord::Get##N, true}
#define PLAIN(N) {#N, &TestRecord::Set##N, &TestRecord::Get##N, false}
const NumberField kNumberFields[] = {
    MARKING(Sex), MARKING(Weight), MARKING(Height), MARKING(Race), MARKING(Smoking),
    MARKING(Alcohol), MARKING(Family), MARKING(Pacemaker), MARKING(Ambulatory),
    MARKING(Tag211Value), MARKING(BloodPressure), MARKING(HeartRate), MARKING(Tag187Value),
    MARKING(Tag188Value), MARKING(TargetHeartRate), MARKING(Tag235Value), MARKING(Tag236Value),
    MARKING(Tag237Value), MARKING(Tag238Value),
    PLAIN(TestKey), PLAIN(ProcedureType), PLAIN(Tag181Value), PLAIN(Tag183Value),
    PLAIN(Tag218Value), PLAIN(Tag219Value), PLAIN(Tag220Value), PLAIN(HighPassFilter),
    PLAIN(LowPassFilter), PLAIN(FilterBitmap), PLAIN(PairValue1), PLAIN(PairTime1),
    PLAIN(PairValue2), PLAIN(PairTime2), PLAIN(PairValue3), PLAIN(PairTime3), PLAIN(PairValue4),
    PLAIN(PairTime4), PLAIN(PairValue5), PLAIN(PairTime5), PLAIN(PairValue6), PLAIN(PairTime6),
    PLAIN(MeasureValueA), PLAIN(MeasureTimeA), PLAIN(MeasureLeadA), PLAIN(MeasureExtraA),
    PLAIN(MeasureValueB), PLAIN(MeasureTimeB), PLAIN(MeasureLeadB), PLAIN(MeasureExtraB),
    PLAIN(Tag197Value), PLAIN(Tag198Value), PLAIN(Tag199Value), PLAIN(AnnotationIndex),
    PLAIN(HostValue)};
#undef MARKING
#undef PLAIN

class NumberSetter : public ::testing::TestWithParam<NumberField> {};
TEST_P(NumberSetter, StoresAndMarksOnlyWhereItShould) {
  const NumberField& f = GetParam();
  auto r = NewRecord();
  const uint32_t old = (r.get()->*f.get)();
  (r.get()->*f.set)(old);
  EXPECT_FALSE(r->IsModified()) << "same value";
  for (uint32_t value : {0x12345678u, 0xFFFFFFFFu}) {
    r->ClearModified();
    (r.get()->*f.set)(value);
    EXPECT_EQ((r.get()->*f.get)(), value);
    EXPECT_EQ(r->IsModified(), f.marks);
  }
}
INSTANTIATE_TEST_SUITE_P(AllNumberFields, NumberSetter, ::testing::ValuesIn(kNumberFields),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ByteNumbers, Tag212FlagMarksIdentityReadableDoesNot) {
  auto r = NewRecord();
  r->SetTag212Flag(0);
  EXPECT_FALSE(r->IsModified());
  r->SetTag212Flag(1);
  EXPECT_TRUE(r->IsModified());
  EXPECT_EQ(r->GetTag212Flag(), 1);
  r->ClearModified();
  r->SetIdentityReadable(0);
  r->SetMetricUnits(1);
  EXPECT_FALSE(r->IsModified());
  EXPECT_EQ(r->GetIdentityReadable(), 0);
  EXPECT_EQ(r->GetMetricUnits(), 1);
}

TEST(ByteNumbers, ExerciseMarksOnceWhenEitherPartChanges) {
  auto r = NewRecord();
  r->SetExercise(0, 0);
  EXPECT_FALSE(r->IsModified());
  r->SetExercise(0, 1);
  EXPECT_TRUE(r->IsModified());
  r->ClearModified();
  r->SetExercise(1, 1);
  EXPECT_TRUE(r->IsModified());
  EXPECT_EQ(r->GetExerciseType(), 1u);
  EXPECT_EQ(r->GetExerciseFlag(), 1);
  r->ClearModified();
  r->SetExercise(1, 1);
  EXPECT_FALSE(r->IsModified());
}

// ------------------------------------------------------------------- dates
TEST(DateCopy, MarksPerChangedPartAndAlwaysForNull) {
  auto r = NewRecord();
  const DateTime t(2020, 5, 6, 7, 8, 9, 10);
  r->SetAcquisitionDateTime(&t);
  EXPECT_TRUE(r->IsModified());
  EXPECT_EQ(std::memcmp(r->GetAcquisitionDateTime(), &t, 8), 0);
  r->ClearModified();
  r->SetAcquisitionDateTime(&t);
  EXPECT_FALSE(r->IsModified());
  // Each single part on its own marks.
  const DateTime variants[] = {
      DateTime(2021, 5, 6, 7, 8, 9, 10), DateTime(2020, 6, 6, 7, 8, 9, 10),
      DateTime(2020, 5, 7, 7, 8, 9, 10), DateTime(2020, 5, 6, 8, 8, 9, 10),
      DateTime(2020, 5, 6, 7, 9, 9, 10), DateTime(2020, 5, 6, 7, 8, 10, 10),
      DateTime(2020, 5, 6, 7, 8, 9, 11)};
  for (const DateTime& v : variants) {
    r->SetAcquisitionDateTime(&t);
    r->ClearModified();
    r->SetAcquisitionDateTime(&v);
    EXPECT_TRUE(r->IsModified());
    EXPECT_EQ(std::memcmp(r->GetAcquisitionDateTime(), &v, 8), 0);
  }
  // Null clears and marks, even when already clear.
  r->SetAcquisitionDateTime(nullptr);
  EXPECT_TRUE(r->GetAcquisitionDateTime()->IsZero());
  r->ClearModified();
  r->SetAcquisitionDateTime(nullptr);
  EXPECT_TRUE(r->IsModified());
}

TEST(DateCopy, CalendarDatesCopyTheDateHalfOnly) {
  auto r = NewRecord();
  const CalendarDate d{1999, 31, 12};
  r->SetTag209Date(&d);
  EXPECT_TRUE(r->IsModified());
  EXPECT_EQ(std::memcmp(r->GetTag209Date(), &d, 4), 0);
  r->ClearModified();
  r->SetTag209Date(&d);
  EXPECT_FALSE(r->IsModified());
  r->SetTag209Date(nullptr);
  EXPECT_TRUE(r->IsModified());
  EXPECT_EQ(r->GetTag209Date()->year, 0);
  r->ClearModified();
  r->SetTag209Date(nullptr);
  EXPECT_TRUE(r->IsModified());
}

TEST(Dates, ValidMeansYearAbove1800) {
  auto r = NewRecord();
  CalendarDate d{1800, 1, 1};
  r->SetBirthDate(&d);
  EXPECT_EQ(r->HasBirthDate(), 0);
  d.year = 1801;
  r->SetBirthDate(&d);
  EXPECT_EQ(r->HasBirthDate(), 1);
  r->GetAcquisitionDateTime()->year = 1800;
  EXPECT_EQ(r->HasAcquisitionDate(), 0);
  r->GetAcquisitionDateTime()->year = 1801;
  EXPECT_EQ(r->HasAcquisitionDate(), 1);
}

// -------------------------------------------------------------------- age
struct AgeCase {
  DateTime acquisition;
  CalendarDate birth;
  uint16_t ageBefore;
  uint16_t expected;
};
class BirthDateAge : public ::testing::TestWithParam<AgeCase> {};
TEST_P(BirthDateAge, ComesFromTheTwoDatesWithoutAMark) {
  const AgeCase& c = GetParam();
  auto r = NewRecord();
  r->SetAge(c.ageBefore);
  r->SetAcquisitionDateTime(&c.acquisition);
  // Set the birth date once so that the second call changes no byte.
  r->SetBirthDate(&c.birth);
  r->age = c.ageBefore;
  r->ClearModified();
  r->SetBirthDate(&c.birth);
  EXPECT_EQ(r->GetAge(), c.expected);
  EXPECT_FALSE(r->IsModified());
}
INSTANTIATE_TEST_SUITE_P(
    Cases, BirthDateAge,
    ::testing::Values(
        AgeCase{DateTime(2000, 3, 1), CalendarDate{1999, 1, 3}, 7, 366},
        AgeCase{DateTime(2024, 6, 15, 10, 30), CalendarDate{2024, 15, 6}, 7, 0},
        // Birth after acquisition gives 0.
        AgeCase{DateTime(2010, 1, 1), CalendarDate{2011, 1, 1}, 7, 0},
        // No valid acquisition date: the age stays.
        AgeCase{DateTime(1800, 1, 1), CalendarDate{1990, 1, 1}, 7, 7},
        AgeCase{DateTime(0, 0, 0), CalendarDate{1990, 1, 1}, 9, 9},
        // No valid birth date: the age stays.
        AgeCase{DateTime(2000, 1, 1), CalendarDate{1700, 1, 1}, 5, 5},
        // 81449 days go into the 16-bit field modulo 65536.
        AgeCase{DateTime(2024, 1, 1), CalendarDate{1801, 1, 1}, 0, 15913}));

TEST(Age, SetAgeMarksAndIsIgnoredWhileABirthDateIsValid) {
  auto r = NewRecord();
  r->SetAge(0);
  EXPECT_FALSE(r->IsModified());
  r->SetAge(400);
  EXPECT_TRUE(r->IsModified());
  EXPECT_EQ(r->GetAge(), 400);
  CalendarDate birth{1970, 1, 1};
  r->SetBirthDate(&birth);  // no acquisition date: age kept
  EXPECT_EQ(r->GetAge(), 400);
  r->ClearModified();
  r->SetAge(12);
  EXPECT_EQ(r->GetAge(), 400);
  EXPECT_FALSE(r->IsModified());
  r->SetBirthDate(nullptr);
  r->SetAge(12);
  EXPECT_EQ(r->GetAge(), 12);
}

TEST(Age, AcquisitionMonthZeroIsRaisedByTheComputation) {
  auto r = NewRecord();
  *r->GetAcquisitionDateTime() = DateTime(2001, 0, 10);
  CalendarDate birth{2001, 1, 1};
  r->SetBirthDate(&birth);
  EXPECT_EQ(r->GetAge(), 9);
  EXPECT_EQ(r->GetAcquisitionDateTime()->month, 1);
}

// -------------------------------------------------------- patient identity
TEST(PatientName, CaretsInComponentsBecomeUnderscores) {
  auto r = NewRecord();
  r->SetPatientName("Jo^n", nullptr, "Smith");
  EXPECT_STREQ(r->GetPatientName(), "Smith^Jo_n^");
  EXPECT_TRUE(r->IsModified());
  char buf[32];
  EXPECT_STREQ(r->GetLastName(buf, sizeof buf), "Smith");
  EXPECT_STREQ(r->GetFirstName(buf, sizeof buf), "Jo_n");
  EXPECT_STREQ(r->GetSecondLastName(buf, sizeof buf), "");
  r->SetPatientName("Ana", "Ruiz", "Garcia");
  EXPECT_STREQ(r->GetPatientName(), "Garcia^Ana^Ruiz");
  EXPECT_STREQ(r->GetSecondLastName(buf, sizeof buf), "Ruiz");
  r->SetPatientName(nullptr, nullptr, nullptr);
  EXPECT_STREQ(r->GetPatientName(), "^^");
}

TEST(PatientName, LongNamesAreCutTo29CharactersAndMarkEveryTime) {
  auto r = NewRecord();
  const std::string last(300, 'L');  // fills the whole 256-byte build too
  r->SetPatientName("First", "Second", last.c_str());
  EXPECT_EQ(std::string(r->GetPatientName()), std::string(29, 'L'));
  r->ClearModified();
  r->SetPatientName("First", "Second", last.c_str());
  EXPECT_TRUE(r->IsModified());
  char buf[64];
  EXPECT_EQ(std::string(r->GetLastName(buf, sizeof buf)), std::string(29, 'L'));
  EXPECT_STREQ(r->GetFirstName(buf, sizeof buf), "");
  EXPECT_STREQ(r->GetSecondLastName(buf, sizeof buf), "");
  // 14 + 1 + 10 + 1 + 3 = 29 characters: exactly full.
  r->SetPatientName("Maximilian", "Yzz", "Abcdefghijklmn");
  EXPECT_STREQ(r->GetPatientName(), "Abcdefghijklmn^Maximilian^Yzz");
  r->ClearModified();
  r->SetPatientName("Maximilian", "Yzz", "Abcdefghijklmn");
  EXPECT_FALSE(r->IsModified());
  // One more is cut, and marks although no kept byte changes.
  r->SetPatientName("Maximilian", "Yzzz", "Abcdefghijklmn");
  EXPECT_STREQ(r->GetPatientName(), "Abcdefghijklmn^Maximilian^Yzz");
  EXPECT_TRUE(r->IsModified());
}

TEST(PatientName, ComponentGettersRespectTheBufferSize) {
  auto r = NewRecord();
  r->SetPatientName("Elisabeth", "Meyer", "Schmidt");
  char buf[8];
  std::memset(buf, '*', sizeof buf);
  EXPECT_STREQ(r->GetLastName(buf, 4), "Sch");
  EXPECT_EQ(buf[4], '*');
  EXPECT_STREQ(r->GetFirstName(buf, 6), "Elisa");
  EXPECT_STREQ(r->GetSecondLastName(buf, 1), "");
  EXPECT_EQ(r->GetFirstName(nullptr, 5), nullptr);
  buf[0] = 'Q';
  EXPECT_EQ(r->GetFirstName(buf, 0), buf);
  EXPECT_EQ(buf[0], 'Q');
}

TEST(PatientName, GettersStayInsideAFieldWithoutNul) {
  auto r = NewRecord();
  std::memset(r->patientName, 'x', sizeof r->patientName);  // host wrote 30 bytes
  char buf[64];
  EXPECT_EQ(std::string(r->GetLastName(buf, sizeof buf)), std::string(30, 'x'));
  EXPECT_STREQ(r->GetFirstName(buf, sizeof buf), "");
  r->patientName[29] = '^';
  EXPECT_STREQ(r->GetFirstName(buf, sizeof buf), "");
  EXPECT_STREQ(r->GetSecondLastName(buf, sizeof buf), "");
}

// The host's scrambling, written independently of the record's unscrambler.
std::string Scramble(const std::string& plain, const char* keyText) {
  // A short key shifts by its NUL (0) from the second or third byte on.
  char key[4] = {};
  std::strncpy(key, keyText, 3);
  const int k0 = static_cast<signed char>(key[0]);
  const int k1 = static_cast<signed char>(key[1]);
  const int k2 = static_cast<signed char>(key[2]);
  auto shift = [](int c, int base, int n, int k) {
    int v = (c - base + k) % n;
    if (v < 0) v += n;
    return static_cast<char>(base + v);
  };
  std::string out = plain;
  for (char& ch : out) {
    const int c = static_cast<unsigned char>(ch);
    if (c >= '0' && c <= '9') ch = shift(c, '0', 10, k0);
    else if (c >= 'A' && c <= 'Z') ch = shift(c, 'A', 26, k1);
    else if (c >= 'a' && c <= 'z') ch = shift(c, 'a', 26, k2);
  }
  return out;
}

TEST(ScrambledId, EmptyKeyStoresTheSameTextTwice) {
  auto r = NewRecord();
  r->SetStoredPatientId("AB-123/xy");
  EXPECT_STREQ(r->GetPatientId(), "AB-123/xy");
  EXPECT_STREQ(r->GetStoredPatientId(), "AB-123/xy");
  EXPECT_TRUE(r->IsModified());
}

TEST(ScrambledId, ShiftOfOneWrapsAround) {
  auto r = NewRecord();
  r->SetScrambleKey("\x01\x01\x01");
  r->SetStoredPatientId("A0a-Zz9");
  EXPECT_STREQ(r->GetPatientId(), "Z9z-Yy8");
  EXPECT_STREQ(r->GetStoredPatientId(), "A0a-Zz9");
}

TEST(ScrambledId, RoundTripsAgainstTheHostScrambler) {
  const char* keys[] = {"ABC", "key-1", "\x7F\x80\xFF", "\xF0\x85\x90rest", "9", "zz"};
  std::mt19937 rng(7);
  const std::string alphabet =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz -/._#\xE9\xFC";
  for (const char* key : keys) {
    auto r = NewRecord();
    r->SetScrambleKey(key);
    for (int i = 0; i < 50; ++i) {
      std::string plain;
      const size_t n = rng() % 16;  // up to the 15 characters that fit
      for (size_t j = 0; j < n; ++j) plain += alphabet[rng() % alphabet.size()];
      const std::string scrambled = Scramble(plain, key);
      r->SetStoredPatientId(scrambled.c_str());
      ASSERT_EQ(std::string(r->GetPatientId()), plain) << "key " << key;
      ASSERT_EQ(std::string(r->GetStoredPatientId()), scrambled);
      // Only digits and letters differ between the two.
      for (size_t j = 0; j < plain.size(); ++j) {
        if (!std::isalnum(static_cast<unsigned char>(plain[j]))) {
          ASSERT_EQ(plain[j], scrambled[j]);
        }
      }
    }
  }
}

TEST(ScrambledId, NullIdChangesNothing) {
  auto r = NewRecord();
  r->SetScrambleKey("\x01\x01\x01");
  r->SetStoredPatientId("B1");
  r->ClearModified();
  r->SetStoredPatientId(nullptr);
  EXPECT_STREQ(r->GetPatientId(), "A0");
  EXPECT_FALSE(r->IsModified());
}

TEST(ScrambledId, StoredIdCopyOutRespectsTheBuffer) {
  auto r = NewRecord();
  r->SetStoredPatientId("123456789012345678");  // cut to 15
  EXPECT_STREQ(r->GetStoredPatientId(), "123456789012345");
  char buf[5];
  EXPECT_STREQ(r->GetStoredPatientId(buf, sizeof buf), "1234");
  EXPECT_EQ(r->GetStoredPatientId(nullptr, 3), nullptr);
}

TEST(ScrambledId, UnscrambleTouchesExactlyLengthBytes) {
  auto r = NewRecord();
  r->SetScrambleKey("\x02\x02\x02");
  char text[] = "5599";
  r->UnscrambleText(text, 2);
  EXPECT_STREQ(text, "3399");
  r->UnscrambleText(nullptr, 4);  // no crash
}

// -------------------------------------------------------------------- room
struct RoomTextCase {
  const char* text;
  int32_t expected;
};
class RoomText : public ::testing::TestWithParam<RoomTextCase> {};
TEST_P(RoomText, ParsesLeadingDigits) {
  auto r = NewRecord();
  r->SetRoom(77);
  r->SetRoomText(GetParam().text);
  EXPECT_EQ(r->GetRoom(), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Texts, RoomText,
    ::testing::Values(RoomTextCase{" 42", 42}, RoomTextCase{"\t \t7x9", 7},
                      RoomTextCase{"70000", 0}, RoomTextCase{"65535", 65535},
                      RoomTextCase{"65536", 0}, RoomTextCase{"000123", 123},
                      RoomTextCase{"abc", 0}, RoomTextCase{"", 0}, RoomTextCase{"-5", 0},
                      RoomTextCase{"\n5", 0}, RoomTextCase{nullptr, 0},
                      RoomTextCase{"99999999999999999999999999", 0}));

TEST(Room, OutOfRangeStoresZeroAndMarksOnlyOnChange) {
  auto r = NewRecord();
  r->SetRoom(70000);
  EXPECT_EQ(r->GetRoom(), 0);
  EXPECT_FALSE(r->IsModified());
  r->SetRoom(-1);
  EXPECT_FALSE(r->IsModified());
  r->SetRoom(65535);
  EXPECT_TRUE(r->IsModified());
  r->ClearModified();
  r->SetRoom(65535);
  EXPECT_FALSE(r->IsModified());
  r->SetRoom(-3);
  EXPECT_EQ(r->GetRoom(), 0);
  EXPECT_TRUE(r->IsModified());
}

struct RoomOutCase {
  int32_t room;
  uint32_t size;
  const char* expected;
};
class RoomTextOut : public ::testing::TestWithParam<RoomOutCase> {};
TEST_P(RoomTextOut, WritesDecimalDigits) {
  auto r = NewRecord();
  r->SetRoom(GetParam().room);
  char buf[16];
  std::memset(buf, '*', sizeof buf);
  EXPECT_EQ(r->GetRoomText(buf, GetParam().size), buf);
  EXPECT_STREQ(buf, GetParam().expected);
  EXPECT_EQ(buf[GetParam().size], '*') << "wrote past the buffer";
}
INSTANTIATE_TEST_SUITE_P(Values, RoomTextOut,
                         ::testing::Values(RoomOutCase{10, 8, "10"}, RoomOutCase{1000, 8, "1000"},
                                           RoomOutCase{0, 8, "0"}, RoomOutCase{1234, 3, "12"},
                                           RoomOutCase{65535, 6, "65535"},
                                           RoomOutCase{65535, 5, "6553"},
                                           RoomOutCase{7, 1, ""}));

// ---------------------------------------------------------- interpretation
TEST(Interpretation, EachFormSetsItsStatusStampAndText) {
  auto r = NewRecord();
  const DateTime t1(2020, 1, 2, 3, 4, 5, 6), t2(2021, 7, 8, 9, 10, 11, 12);
  r->SetOverreadInterpretation(&t1, "overread");
  EXPECT_EQ(r->GetInterpretationStatus(), 1u);
  EXPECT_EQ(r->IsOriginalInterpretation(), 0);
  EXPECT_EQ(r->IsConfirmedInterpretation(), 0);
  EXPECT_EQ(std::memcmp(r->GetOverreadDateTime(), &t1, 8), 0);
  EXPECT_STREQ(r->GetInterpretationText(), "overread");
  // Without a time the overread stamp stays.
  r->SetOverreadInterpretation(nullptr, "again");
  EXPECT_EQ(std::memcmp(r->GetOverreadDateTime(), &t1, 8), 0);
  EXPECT_STREQ(r->GetInterpretationText(), "again");

  r->SetConfirmedInterpretation(&t2, "confirmed\r\nline 2");
  EXPECT_EQ(r->IsConfirmedInterpretation(), 1);
  EXPECT_EQ(std::memcmp(r->GetConfirmedDateTime(), &t2, 8), 0);
  r->SetConfirmedInterpretation(nullptr, "confirmed\r\nline 2");
  EXPECT_TRUE(r->GetConfirmedDateTime()->IsZero());

  r->SetOriginalInterpretation(&t2, "original");
  EXPECT_EQ(r->IsOriginalInterpretation(), 1);
  EXPECT_EQ(std::memcmp(r->GetOriginalDateTime(), &t2, 8), 0);
  r->SetOriginalInterpretation(nullptr, nullptr);  // null text: kept
  EXPECT_TRUE(r->GetOriginalDateTime()->IsZero());
  EXPECT_STREQ(r->GetInterpretationText(), "original");
}

TEST(Interpretation, MarksOnlyForRealChanges) {
  auto r = NewRecord();
  const DateTime t(2020, 1, 2, 3, 4, 5, 6);
  r->SetOverreadInterpretation(&t, "same");
  r->ClearModified();
  r->SetOverreadInterpretation(&t, "same");
  EXPECT_FALSE(r->IsModified());
  r->SetOverreadInterpretation(nullptr, "same");
  EXPECT_FALSE(r->IsModified());
  r->SetConfirmedInterpretation(nullptr, "same");  // status changes, stamp cleared
  EXPECT_TRUE(r->IsModified());
  r->ClearModified();
  r->SetConfirmedInterpretation(nullptr, "same");  // a null stamp always marks
  EXPECT_TRUE(r->IsModified());
}

// -------------------------------------------------------------- sub-records
TEST(SubRecords, IndexGettersStayInsideTheUsedSlots) {
  auto r = NewRecord();
  EXPECT_EQ(r->GetComplexAt(0), nullptr);
  auto* c0 = new ComplexData();
  ASSERT_TRUE(r->AddComplex(c0));
  EXPECT_EQ(r->GetComplexDataCount(), 1);
  EXPECT_EQ(r->GetComplexAt(0), c0);
  EXPECT_EQ(r->GetComplexAt(1), nullptr);  // the count
  EXPECT_EQ(r->GetComplexAt(-1), nullptr);

  EXPECT_EQ(r->GetRhythmAt(-1), r->GetRhythmSummary());
  EXPECT_EQ(r->GetRhythmAt(-2), nullptr);
  EXPECT_EQ(r->GetRhythmAt(0), nullptr);
  auto* m = new RhythmMeasurement();
  ASSERT_TRUE(r->AddRhythm(m));
  EXPECT_EQ(r->GetRhythmAt(0), m);
  EXPECT_EQ(r->GetRhythmAt(1), nullptr);

  EXPECT_EQ(r->GetTrendAt(32), nullptr);
  EXPECT_EQ(r->GetTrendAt(-1), nullptr);
  auto* t = new TrendRecord(1);
  EXPECT_TRUE(r->SetTrendAt(31, t));
  EXPECT_EQ(r->GetTrendAt(31), t);
  auto* spare = new TrendRecord(1);
  EXPECT_FALSE(r->SetTrendAt(32, spare));
  delete spare;  // refused: still ours

  EXPECT_EQ(r->GetSpirometryItemAt(0), nullptr);
  auto* item = new SpirometryItem();
  ASSERT_TRUE(r->AddSpirometryItem(item));
  EXPECT_EQ(r->GetSpirometryItemAt(0), item);
  EXPECT_EQ(r->GetSpirometryItemAt(1), nullptr);

  // A count written out of range by the host cannot lead a getter outside.
  r->complexDataCount = 100000;
  EXPECT_EQ(r->GetComplexAt(300), nullptr);
  EXPECT_EQ(r->GetComplexAt(255), nullptr);
  r->complexDataCount = 1;
}

TEST(SubRecords, CountedListsRefuseTheSlotAfterTheLast) {
  auto r = NewRecord();
  for (int i = 0; i < TestRecord::kRhythmSlots; ++i) ASSERT_TRUE(r->AddRhythm(new RhythmMeasurement()));
  auto extra = std::make_unique<RhythmMeasurement>();
  EXPECT_FALSE(r->AddRhythm(extra.get()));
  EXPECT_EQ(r->GetRhythmCount(), 256);
  EXPECT_FALSE(r->SetRhythmAt(256, extra.get()));
  EXPECT_FALSE(r->SetRhythmAt(-1, extra.get()));
  for (int i = 0; i < TestRecord::kTripleSlots; ++i) ASSERT_TRUE(r->AddTriple(new TripleBufferRecord()));
  auto triple = std::make_unique<TripleBufferRecord>();
  EXPECT_FALSE(r->AddTriple(triple.get()));
  EXPECT_EQ(r->GetTripleAt(511), r->triples[511]);
  EXPECT_EQ(r->GetTripleAt(512), nullptr);
}

TEST(SubRecords, AttachingReplacesAndFreesTheOldObject) {
  // Under the sanitizer build a missing delete shows up as a leak and a
  // double delete as an error.
  auto r = NewRecord();
  r->SetDiaryDocument(new DocumentBuffer(16));
  auto* doc = new DocumentBuffer(32);
  r->SetDiaryDocument(doc);
  EXPECT_EQ(r->GetDiaryDocument(), doc);
  r->SetDiaryDocument(doc);  // same object: kept
  EXPECT_EQ(r->GetDiaryDocument()->GetCapacity(), 32u);
  r->SetDiaryDocument(nullptr);
  EXPECT_EQ(r->GetDiaryDocument(), nullptr);

  ASSERT_TRUE(r->AddComplex(new ComplexData()));
  auto* c = new ComplexData();
  ASSERT_TRUE(r->SetComplexAt(0, c));
  EXPECT_EQ(r->GetComplexAt(0), c);
  EXPECT_FALSE(r->SetComplexAt(1, c));

  r->SetAuditTrailRecord(new AuditTrail());
  r->SetRhythmSummary(new RhythmMeasurement());
  r->SetHostBlock(new HostBlock());
  r->SetHostBlock(new HostBlock());
  ASSERT_TRUE(r->SetTrendAt(3, new TrendRecord(2)));
  ASSERT_TRUE(r->SetTrendAt(3, new TrendRecord(2)));
}

// An ECG waveform whose header claims the given samples per lead; the
// sample storage stays small.
EcgWaveform* WaveformClaiming(uint32_t samples) {
  const uint8_t slots[] = {0};
  auto* w = new EcgWaveform(1, 10, 500, 5000, slots);
  if (w->block != nullptr) StoreU32(w->block + 16, samples);  // lead 0: samples per lead
  return w;
}

struct BufferCase {
  bool waveform;
  uint32_t samples;
  uint32_t expected;
};
class RecordBufferSize : public ::testing::TestWithParam<BufferCase> {};
TEST_P(RecordBufferSize, FollowsTheSamplesPerLead) {
  auto r = NewRecord();
  if (GetParam().waveform) {
    r->SetWaveform(WaveformClaiming(GetParam().samples));
    ASSERT_EQ(r->GetWaveform()->SamplesPerLead(), GetParam().samples);
  }
  EXPECT_EQ(r->EstimateRecordBufferSize(), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Sizes, RecordBufferSize,
    ::testing::Values(BufferCase{false, 0, 128000000}, BufferCase{true, 0, 1000000},
                      BufferCase{true, 49999, 1000000}, BufferCase{true, 50000, 128000000},
                      BufferCase{true, 16000000, 128000000}, BufferCase{true, 16000001, 128000000},
                      BufferCase{true, 32000000, 128000000}, BufferCase{true, 32000001, 256000000},
                      BufferCase{true, 0xFFFFFFFFu, 256000000}));

// ------------------------------------------------------------- audit date
TEST(AuditDate, FilledOnceFromTheLastEntry) {
  auto r = NewRecord();
  DateTime* empty = r->GetAuditDateTime();
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->IsZero());  // no entries yet

  AuditTrail* trail = r->GetAuditTrailRecord();
  trail->entries[0]->year = 2019;
  AuditEntry* last = trail->entries[1];
  last->year = 2022;
  last->month = 11;
  last->day = 30;
  last->hour = 17;
  last->minute = 45;
  last->milliseconds = 42789;
  trail->count = 2;
  DateTime* filled = r->GetAuditDateTime();
  EXPECT_EQ(filled, empty);
  EXPECT_EQ(filled->year, 2022);
  EXPECT_EQ(filled->month, 11);
  EXPECT_EQ(filled->day, 30);
  EXPECT_EQ(filled->hour, 17);
  EXPECT_EQ(filled->minute, 45);
  EXPECT_EQ(filled->second, 42);
  EXPECT_EQ(filled->hundredths, 78);
  EXPECT_FALSE(r->IsModified());

  // Once the year is set it is not filled again.
  last->year = 2030;
  EXPECT_EQ(r->GetAuditDateTime()->year, 2022);
}

TEST(AuditDate, CountBeyondTheSlotsOrNoTrailLeavesItAlone) {
  auto r = NewRecord();
  r->GetAuditTrailRecord()->count = 17;
  EXPECT_TRUE(r->GetAuditDateTime()->IsZero());
  r->SetAuditTrailRecord(nullptr);
  EXPECT_TRUE(r->GetAuditDateTime()->IsZero());
}

TEST(Destruction, SpirometryItemsBeyondTheCountAreFreedToo) {
  auto* r = new TestRecord();
  r->spirometryItems[200] = new SpirometryItem();
  r->spirometryItems[255] = new SpirometryItem();
  EXPECT_EQ(r->GetSpirometryItemCount(), 0);
  EXPECT_EQ(r->GetSpirometryItemAt(200), nullptr);
  delete r;
}

TEST(Destruction, ARecordMadeWithoutOwnObjectsIsSafe) {
  // The state after an allocation failure in the constructor: accessors do
  // nothing, the destructor skips the nulls.
  auto* r = new TestRecord();
  delete r->acquisitionDateTime;
  delete r->birthDate;
  delete r->tag209Date;
  delete r->originalDateTime;
  delete r->overreadDateTime;
  delete r->confirmedDateTime;
  delete r->auditDateTime;
  delete r->rhythmSummary;
  r->acquisitionDateTime = r->originalDateTime = r->overreadDateTime = nullptr;
  r->confirmedDateTime = r->auditDateTime = nullptr;
  r->birthDate = r->tag209Date = nullptr;
  r->rhythmSummary = nullptr;
  r->SetAuditTrailRecord(nullptr);
  const DateTime t(2020, 1, 1);
  const CalendarDate d{1990, 1, 1};
  r->SetAcquisitionDateTime(&t);
  r->SetBirthDate(&d);
  r->SetTag209Date(&d);
  r->SetOriginalInterpretation(&t, "x");
  r->SetConfirmedInterpretation(nullptr, "y");
  EXPECT_EQ(r->HasBirthDate(), 0);
  EXPECT_EQ(r->HasAcquisitionDate(), 0);
  EXPECT_EQ(r->GetAuditDateTime(), nullptr);
  EXPECT_EQ(r->GetRhythmAt(-1), nullptr);
  delete r;
}

}  // namespace
