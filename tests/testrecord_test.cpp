// The test record's accessors where they hold rules of their own: text
// cuts and copies, date marks, the age, the patient identity, the room, the
// interpretation, the sub-record slots and the record's own objects.
#include "lib/dbclient/testrecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::unique_ptr<TestRecord> NewRecord() { return std::make_unique<TestRecord>(); }

std::string Text(size_t n, char first = 'a') {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i % 26);
  return s;
}

bool SameStamp(const DateTime* a, const DateTime& b) { return std::memcmp(a, &b, sizeof b) == 0; }

// Whether the change marks the record modified (the flag cleared first).
template <typename F>
bool Marks(TestRecord& r, F&& change) {
  r.ClearModified();
  change();
  return r.IsModified();
}

TEST(TestRecordNew, HasTheDocumentedDefaults) {
  auto r = NewRecord();
  char a[8] = "junk", b[8] = "junk", c[8] = "junk";
  EXPECT_STREQ(r->GetPatientName(), "^^");
  EXPECT_EQ(std::string(r->GetLastName(a, 8)) + r->GetFirstName(b, 8) + r->GetSecondLastName(c, 8), "");
  EXPECT_TRUE(r->GetProcedureType() == 1 && r->GetIdentityReadable() == 1 && r->GetTag181Value() == 10);
  EXPECT_TRUE(r->GetMeasureLeadA() == 6 && r->GetMeasureLeadB() == 6 && r->IsOriginalInterpretation() == 1);
  EXPECT_TRUE(r->GetMetricUnits() == 0 && r->GetRoom() == 0 && r->GetSex() == 0 && r->GetTestKey() == 0);
  EXPECT_FALSE(r->IsModified());
  // The record's own objects exist, zeroed; the host's slots are empty.
  for (const DateTime* t : {r->GetAcquisitionDateTime(), r->GetOriginalDateTime(), r->GetOverreadDateTime(),
                            r->GetConfirmedDateTime(), r->GetStoredAuditDateTime()}) {
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->IsZero());
  }
  ASSERT_TRUE(r->GetBirthDate() && r->GetTag209Date() && r->GetAuditTrailRecord() && r->GetRhythmSummary());
  EXPECT_EQ(r->GetBirthDate()->year, 0);
  EXPECT_EQ(r->GetAuditTrailRecord()->GetCount(), 0);
  EXPECT_EQ(r->GetWaveform(), nullptr);
  for (int32_t i = 0; i < 32; ++i) EXPECT_EQ(r->GetTrendAt(i), nullptr);
}

TEST(TextFields, CapacityBelowOneOrNullFieldDoesNothing) {
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

// Drugs and diagnosis copy a fixed byte count, bytes behind the NUL too
// (the host may leave them there); the interpretation copies up to its NUL.
TEST(CopyOutTexts, FixedCountsAndTheInterpretation) {
  auto r = NewRecord();
  std::memcpy(r->drugs, "ab\0XYZ", 6);
  std::memcpy(r->diagnosis, "cd\0UVW", 6);
  auto copy = [&](char* (TestRecord::*get)(char*, uint32_t) const, uint32_t size) {
    std::string out(8, '*');
    EXPECT_EQ((r.get()->*get)(out.data(), size), out.data());
    return out;
  };
  EXPECT_EQ(copy(&TestRecord::GetDrugs, 8), std::string("ab\0XYZ\0\0", 8));
  EXPECT_EQ(copy(&TestRecord::GetDiagnosis, 5), std::string("cd\0U\0***", 8));
  EXPECT_EQ(copy(&TestRecord::GetDrugs, 1), std::string("\0*******", 8));
  EXPECT_EQ(r->GetDrugs(nullptr, 10), nullptr);
  r->SetDrugs(Text(600).c_str());
  std::vector<char> big(6000, '*');
  r->GetDrugs(big.data(), 1000);
  EXPECT_EQ(std::string(big.data()), Text(511));
  EXPECT_EQ(big[512], '*');

  r->SetOriginalInterpretation(nullptr, Text(5000).c_str());
  std::fill(big.begin(), big.end(), '*');
  EXPECT_EQ(r->GetInterpretationText(big.data(), 6000), big.data());
  EXPECT_EQ(std::string(big.data()), Text(4095));
  EXPECT_EQ(big[4096], '*');  // nothing written past the NUL
  char small[6];
  r->GetInterpretationText(small, sizeof small);
  EXPECT_STREQ(small, "abcde");
  EXPECT_EQ(r->GetInterpretationText(nullptr, 10), r->interpretationText);
  EXPECT_EQ(r->GetInterpretationText(small, 0), r->interpretationText);
}

TEST(Age, ComesFromBirthAndAcquisitionWithoutAMark) {
  struct Case {
    DateTime acquisition;
    CalendarDate birth;
    uint16_t before, expected;
  };
  for (const Case& c : {Case{DateTime(2000, 3, 1), {1999, 1, 3}, 7, 366},
                        Case{DateTime(2024, 6, 15, 10, 30), {2024, 15, 6}, 7, 0},
                        Case{DateTime(2010, 1, 1), {2011, 1, 1}, 7, 0},  // birth after acquisition
                        Case{DateTime(1800, 1, 1), {1990, 1, 1}, 7, 7},  // no valid acquisition: kept
                        Case{DateTime(0, 0, 0), {1990, 1, 1}, 9, 9},
                        Case{DateTime(2000, 1, 1), {1700, 1, 1}, 5, 5},  // no valid birth date: kept
                        // 81449 days go into the 16-bit field modulo 65536.
                        Case{DateTime(2024, 1, 1), {1801, 1, 1}, 0, 15913}}) {
    auto r = NewRecord();
    r->SetAcquisitionDateTime(&c.acquisition);
    // Set the birth date once so that the second call changes no byte.
    r->SetBirthDate(&c.birth);
    r->age = c.before;
    r->ClearModified();
    r->SetBirthDate(&c.birth);
    EXPECT_EQ(r->GetAge(), c.expected) << c.birth.year;
    EXPECT_FALSE(r->IsModified());
  }
}

TEST(PatientName, GettersRespectTheBufferAndAFieldWithoutNul) {
  auto r = NewRecord();
  r->SetPatientName("Elisabeth", "Meyer", "Schmidt");
  char buf[64];
  std::memset(buf, '*', sizeof buf);
  EXPECT_STREQ(r->GetLastName(buf, 4), "Sch");
  EXPECT_EQ(buf[4], '*');
  EXPECT_STREQ(r->GetFirstName(buf, 6), "Elisa");
  EXPECT_STREQ(r->GetSecondLastName(buf, 1), "");
  EXPECT_EQ(r->GetFirstName(nullptr, 5), nullptr);
  buf[0] = 'Q';
  EXPECT_EQ(r->GetFirstName(buf, 0), buf);
  EXPECT_EQ(buf[0], 'Q');
  std::memset(r->patientName, 'x', sizeof r->patientName);  // the host wrote 30 bytes
  EXPECT_EQ(std::string(r->GetLastName(buf, sizeof buf)), std::string(30, 'x'));
  EXPECT_STREQ(r->GetFirstName(buf, sizeof buf), "");
  r->patientName[29] = '^';
  EXPECT_STREQ(r->GetFirstName(buf, sizeof buf), "");
  EXPECT_STREQ(r->GetSecondLastName(buf, sizeof buf), "");
}

// The host's scrambling, written independently of the record's unscrambler.
std::string Scramble(const std::string& plain, const char* keyText) {
  char key[4] = {};  // a short key shifts by its NUL (0) from there on
  std::strncpy(key, keyText, 3);
  auto shift = [](int c, int base, int n, char k) {
    const int v = (c - base + static_cast<signed char>(k)) % n;
    return static_cast<char>(base + (v < 0 ? v + n : v));
  };
  std::string out = plain;
  for (char& ch : out) {
    const int c = static_cast<unsigned char>(ch);
    if (c >= '0' && c <= '9') ch = shift(c, '0', 10, key[0]);
    else if (c >= 'A' && c <= 'Z') ch = shift(c, 'A', 26, key[1]);
    else if (c >= 'a' && c <= 'z') ch = shift(c, 'a', 26, key[2]);
  }
  return out;
}

TEST(ScrambledId, RoundTripsAgainstTheHostScrambler) {
  std::mt19937 rng(7);
  const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz -/._#\xE9\xFC";
  for (const char* key : {"", "\x01\x01\x01", "ABC", "key-1", "\x7F\x80\xFF", "\xF0\x85\x90rest", "9", "zz"}) {
    auto r = NewRecord();
    r->SetScrambleKey(key);
    for (int i = 0; i < 50; ++i) {
      std::string plain;
      for (size_t n = rng() % 16; n > 0; --n) plain += alphabet[rng() % alphabet.size()];
      const std::string scrambled = Scramble(plain, key);
      r->SetStoredPatientId(scrambled.c_str());
      ASSERT_EQ(std::string(r->GetPatientId()), plain) << "key " << key;
      ASSERT_EQ(std::string(r->GetStoredPatientId()), scrambled);
    }
  }
}

TEST(Room, TextInNumberOutAndTheRange) {
  for (auto [text, room] : {std::pair<const char*, int32_t>{" 42", 42}, {"\t \t7x9", 7}, {"70000", 0}, {"65535", 65535},
                            {"65536", 0}, {"000123", 123}, {"abc", 0}, {"", 0}, {"-5", 0}, {"\n5", 0}, {nullptr, 0},
                            {"99999999999999999999999999", 0}}) {
    auto r = NewRecord();
    r->SetRoom(77);
    r->SetRoomText(text);
    EXPECT_EQ(r->GetRoom(), room) << (text ? text : "null");
  }
  struct Out {
    int32_t room;
    uint32_t size;
    const char* text;
  };
  for (const Out& c : {Out{10, 8, "10"}, Out{1000, 8, "1000"}, Out{0, 8, "0"}, Out{1234, 3, "12"},
                       Out{65535, 6, "65535"}, Out{65535, 5, "6553"}, Out{7, 1, ""}}) {
    auto r = NewRecord();
    r->SetRoom(c.room);
    char buf[16];
    std::memset(buf, '*', sizeof buf);
    EXPECT_EQ(r->GetRoomText(buf, c.size), buf);
    EXPECT_STREQ(buf, c.text);
    EXPECT_EQ(buf[c.size], '*') << "wrote past the buffer";
    EXPECT_EQ(r->GetRoomText(buf + 8, 0), buf + 8);
    EXPECT_EQ(buf[8], '*') << "size 0: nothing written";
  }
  auto r = NewRecord();
  EXPECT_FALSE(Marks(*r, [&] { r->SetRoom(70000), r->SetRoom(-1); }));
  EXPECT_TRUE(Marks(*r, [&] { r->SetRoom(65535); }));
  EXPECT_FALSE(Marks(*r, [&] { r->SetRoom(65535); }));
  EXPECT_TRUE(Marks(*r, [&] { r->SetRoom(-3); }));
  EXPECT_EQ(r->GetRoom(), 0);
}

TEST(Interpretation, EachFormSetsItsStatusStampAndText) {
  auto r = NewRecord();
  const DateTime t1(2020, 1, 2, 3, 4, 5, 6), t2(2021, 7, 8, 9, 10, 11, 12);
  r->SetOverreadInterpretation(&t1, "overread");
  EXPECT_TRUE(r->GetInterpretationStatus() == 1 && !r->IsOriginalInterpretation() && !r->IsConfirmedInterpretation());
  EXPECT_TRUE(SameStamp(r->GetOverreadDateTime(), t1));
  EXPECT_STREQ(r->GetInterpretationText(), "overread");
  EXPECT_FALSE(Marks(*r, [&] { r->SetOverreadInterpretation(&t1, "overread"); }));
  // Without a time the overread stamp stays.
  r->SetOverreadInterpretation(nullptr, "again");
  EXPECT_TRUE(SameStamp(r->GetOverreadDateTime(), t1));
  EXPECT_STREQ(r->GetInterpretationText(), "again");

  r->SetConfirmedInterpretation(&t2, "confirmed\r\nline 2");
  EXPECT_EQ(r->IsConfirmedInterpretation(), 1);
  EXPECT_TRUE(SameStamp(r->GetConfirmedDateTime(), t2));
  // A null stamp clears and marks.
  EXPECT_TRUE(Marks(*r, [&] { r->SetConfirmedInterpretation(nullptr, "confirmed\r\nline 2"); }));
  EXPECT_TRUE(r->GetConfirmedDateTime()->IsZero());

  r->SetOriginalInterpretation(&t2, "original");
  EXPECT_EQ(r->IsOriginalInterpretation(), 1);
  EXPECT_TRUE(SameStamp(r->GetOriginalDateTime(), t2));
  r->SetOriginalInterpretation(nullptr, nullptr);  // null text: kept
  EXPECT_TRUE(r->GetOriginalDateTime()->IsZero());
  EXPECT_STREQ(r->GetInterpretationText(), "original");
}

TEST(SubRecords, IndexGettersStayInsideTheUsedSlots) {
  auto r = NewRecord();
  EXPECT_TRUE(r->GetComplexAt(0) == nullptr && r->GetRhythmAt(0) == nullptr && r->GetSpirometryItemAt(0) == nullptr);
  auto* c = new ComplexData();
  auto* m = new RhythmMeasurement();
  auto* t = new TrendRecord(1);
  auto* item = new SpirometryItem();
  ASSERT_TRUE(r->AddComplex(c) && r->AddRhythm(m) && r->SetTrendAt(31, t) && r->AddSpirometryItem(item));
  EXPECT_EQ(r->GetComplexDataCount(), 1);
  EXPECT_TRUE(r->GetComplexAt(0) == c && r->GetRhythmAt(0) == m && r->GetTrendAt(31) == t &&
              r->GetSpirometryItemAt(0) == item);
  EXPECT_TRUE(r->GetComplexAt(1) == nullptr && r->GetComplexAt(-1) == nullptr && r->GetRhythmAt(1) == nullptr &&
              r->GetRhythmAt(-2) == nullptr && r->GetSpirometryItemAt(1) == nullptr);
  EXPECT_EQ(r->GetRhythmAt(-1), r->GetRhythmSummary());
  EXPECT_TRUE(r->GetTrendAt(32) == nullptr && r->GetTrendAt(-1) == nullptr);
  auto spare = std::make_unique<TrendRecord>(1);
  EXPECT_FALSE(r->SetTrendAt(32, spare.get()));  // refused: still ours
  // A count written out of range by the host cannot lead a getter outside.
  r->complexDataCount = 100000;
  EXPECT_TRUE(r->GetComplexAt(300) == nullptr && r->GetComplexAt(255) == nullptr);
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

// Under the sanitizer build a missing delete shows up as a leak and a double
// delete as an error.
TEST(SubRecords, AttachingReplacesAndFreesTheOldObject) {
  auto r = NewRecord();
  r->SetDiaryDocument(new DocumentBuffer(16));
  auto* doc = new DocumentBuffer(32);
  r->SetDiaryDocument(doc);
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
  r->spirometryItems[200] = new SpirometryItem();  // beyond the count: freed too
  EXPECT_EQ(r->GetSpirometryItemAt(200), nullptr);
}

TEST(AuditDate, FilledOnceFromTheLastEntry) {
  auto r = NewRecord();
  DateTime* empty = r->GetAuditDateTime();
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->IsZero());  // no entries yet
  AuditTrail* trail = r->GetAuditTrailRecord();
  trail->count = 17;  // beyond the slots: left alone
  EXPECT_TRUE(r->GetAuditDateTime()->IsZero());
  trail->entries[0]->year = 2019;
  AuditEntry* last = trail->entries[1];
  last->year = 2022, last->month = 11, last->day = 30, last->hour = 17, last->minute = 45;
  last->milliseconds = 42789;
  trail->count = 2;
  DateTime* filled = r->GetAuditDateTime();
  EXPECT_EQ(filled, empty);
  EXPECT_TRUE(SameStamp(filled, DateTime(2022, 11, 30, 17, 45, 42, 78)));
  EXPECT_FALSE(r->IsModified());
  last->year = 2030;  // once the year is set it is not filled again
  EXPECT_EQ(r->GetAuditDateTime()->year, 2022);
  r->SetAuditTrailRecord(nullptr);
  EXPECT_EQ(r->GetAuditDateTime()->year, 2022);
}

// The state after an allocation failure in the constructor: accessors do
// nothing, the destructor skips the nulls.
TEST(Destruction, ARecordMadeWithoutOwnObjectsIsSafe) {
  auto r = NewRecord();
  for (DateTime** t : {&r->acquisitionDateTime, &r->originalDateTime, &r->overreadDateTime, &r->confirmedDateTime,
                       &r->auditDateTime}) {
    delete *t;
    *t = nullptr;
  }
  for (CalendarDate** d : {&r->birthDate, &r->tag209Date}) {
    delete *d;
    *d = nullptr;
  }
  r->SetRhythmSummary(nullptr);
  r->SetAuditTrailRecord(nullptr);
  const DateTime t(2020, 1, 1);
  const CalendarDate d{1990, 1, 1};
  r->SetAcquisitionDateTime(&t);
  r->SetBirthDate(&d);
  r->SetTag209Date(&d);
  r->SetOriginalInterpretation(&t, "x");
  r->SetConfirmedInterpretation(nullptr, "y");
  EXPECT_TRUE(r->HasBirthDate() == 0 && r->HasAcquisitionDate() == 0);
  EXPECT_TRUE(r->GetAuditDateTime() == nullptr && r->GetRhythmAt(-1) == nullptr);
}

}  // namespace
