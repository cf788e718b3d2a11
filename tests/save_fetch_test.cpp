// Saving a test record and fetching it back: every Section 1 field through
// a whole save and fetch, the path, directory, accession number and
// modified flag rules of the save, the registered-key check of the fetch,
// and the exports driven the way a host drives them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "platform/platform.h"
#include "platform/resources.h"
#include "scp/scpsrv.h"
#include "scp/service.h"
#include "plugin_module.h"
#include "support/scp_file.h"
#include "support/log_capture.h"
#include "support/test_util.h"

#ifdef _WIN32
#include "platform/windows_api.h"
#endif

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// The registered-key folder lives under this test's own configuration home.
class ScopedConfigHome {
 public:
  ScopedConfigHome() { SetEnv("XDG_CONFIG_HOME", dir_.path().c_str()); }
  ~ScopedConfigHome() { UnsetEnv("XDG_CONFIG_HOME"); }
  std::string KeyFolder() const { return dir_.path() + "/Veltrona/Miravel 4/PHI"; }

 private:
  TempDir dir_;
};

void FillTypical(TestRecord& r) {
  r.SetPatientName("John", "Doe", "Smith");
  r.SetStoredPatientId("ID-0042xZ");
  r.SetSex(2);
  r.SetHeight(7000);
  r.SetBloodPressure((120u << 16) | 80u);
  r.SetDiagnosis("Chest pain on exertion");
  r.SetAccessionNumber("ACC-2023-0001");
}

// A file whose section 1 holds the given fields and the end tag.
Bytes Section1File(Bytes fields) {
  fields.insert(fields.end(), {255, 0, 0});
  return scpfile::BuildRecord({{1, fields}});
}

class SaveFetchTest : public ::testing::Test {
 protected:
  // Saves r to path and fetches the file into out.
  void RoundTrip(TestRecord& in, TestRecord& out) {
    const std::string path = dir_.File("round.scp");
    ASSERT_EQ(svc_.SaveTestRecord(&in, path.c_str()), 1) << cap_.Dump();
    out.SetFilePath(path.c_str());
    ASSERT_EQ(svc_.FetchTest(&out), 1) << cap_.Dump();
  }
  std::string Store(const Bytes& file, const std::string& name = "built.scp") {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(WriteFileBytes(path, file));
    return path;
  }
  bool Saved(const std::string& path) const {
    return cap_.Has("LOGINFORMATION", "", -1, "SCP Save Test Record [" + path + "]");
  }
  bool Message7100() const { return cap_.Has("LOGSYSTEMERROR", "", -1, plat::kMessageSaveFailedText); }

  ScopedConfigHome config_;
  TempDir dir_;
  LogCapture cap_;
  ScpService svc_{plat::ThisModule()};
};

// --------------------------------------------------- field by field round trip

// A text of n characters that shows order and position.
std::string Pattern(size_t n) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .-";
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(kChars[(i * 7 + n) % (sizeof kChars - 1)]);
  return s;
}

struct RoundTripField {
  const char* name;
  // Sets the field to a typical value, or (capacity) to its largest value.
  std::function<void(TestRecord&, bool capacity)> set;
  std::function<void(const TestRecord& in, const TestRecord& out, bool capacity)> check;
};

// A text field of `cap` bytes; at capacity it is given more than it holds.
// Only `limit` characters of it travel (255 for the drugs and the diagnosis).
#define TEXT_FIELD(Name, cap, limit)                                                                 \
  RoundTripField {                                                                                   \
    #Name, [](TestRecord& r, bool c) { r.Set##Name(c ? Pattern(cap + 20).c_str() : "T " #Name); },    \
        [](const TestRecord& in, const TestRecord& out, bool c) {                                    \
          if (c) { EXPECT_EQ(std::strlen(in.Get##Name()), size_t{cap} - 1); }                          \
          EXPECT_EQ(std::string(out.Get##Name()), std::string(in.Get##Name()).substr(0, limit));     \
        }                                                                                            \
  }

#define U32_FIELD(Name)                                                                           \
  RoundTripField {                                                                                \
    #Name, [](TestRecord& r, bool c) { r.Set##Name(c ? 0xFFFFFFFFu : 0x01020304u + __LINE__); },  \
        [](const TestRecord& in, const TestRecord& out, bool) { EXPECT_EQ(out.Get##Name(), in.Get##Name()); } \
  }

// A number field with a typical and a largest value that travel unchanged.
#define NUMBER_FIELD(Name, typical, largest)                                                      \
  RoundTripField {                                                                                \
    #Name, [](TestRecord& r, bool c) { r.Set##Name(c ? largest : typical); },                      \
        [](const TestRecord& in, const TestRecord& out, bool c) {                                 \
          EXPECT_EQ(in.Get##Name(), c ? largest : typical);                                        \
          EXPECT_EQ(out.Get##Name(), in.Get##Name());                                             \
        }                                                                                         \
  }

void ExpectDate(const CalendarDate* in, const CalendarDate* out) {
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->year, in->year);
  EXPECT_EQ(out->month, in->month);
  EXPECT_EQ(out->day, in->day);
}

const std::vector<RoundTripField>& Fields() {
  static const std::vector<RoundTripField> fields = {
      {"PatientName",
       [](TestRecord& r, bool c) {
         if (c) r.SetPatientName("FFFFFFFFFF", "SSSSSSSSSS", "LLLLLLLLLL");
         else r.SetPatientName("John", "Doe", "Smith");
       },
       [](const TestRecord& in, const TestRecord& out, bool c) {
         EXPECT_EQ(std::strlen(in.GetPatientName()), c ? 29u : 14u);
         EXPECT_STREQ(out.GetPatientName(), in.GetPatientName());
       }},
      {"StoredPatientId",
       [](TestRecord& r, bool c) {
         r.SetScrambleKey("\x03\x05\x07");
         r.SetStoredPatientId(c ? "0123456789ABCDEFGHIJ" : "ID-42aZ");
       },
       [](const TestRecord& in, const TestRecord& out, bool c) {
         EXPECT_EQ(std::strlen(in.GetStoredPatientId()), c ? 15u : 7u);
         EXPECT_STREQ(out.GetStoredPatientId(), in.GetStoredPatientId());
         // The plain identifier follows from the key that travelled with it.
         TestRecord plain;
         plain.SetScrambleKey(in.GetScrambleKey());
         plain.SetStoredPatientId(in.GetStoredPatientId());
         EXPECT_STRNE(plain.GetPatientId(), plain.GetStoredPatientId());
         EXPECT_STREQ(out.GetPatientId(), plain.GetPatientId());
       }},
      NUMBER_FIELD(Age, uint16_t{12000}, uint16_t{65535}),
      {"BirthDate",
       [](TestRecord& r, bool c) {
         CalendarDate d = c ? CalendarDate{65535, 255, 255} : CalendarDate{1970, 17, 5};
         r.SetBirthDate(&d);
       },
       [](const TestRecord& in, const TestRecord& out, bool) { ExpectDate(in.GetBirthDate(), out.GetBirthDate()); }},
      // Millimetres and ounces in the file: back within the rounding.
      {"Height", [](TestRecord& r, bool c) { r.SetHeight(c ? 129003 : 7000); },
       [](const TestRecord& in, const TestRecord& out, bool c) {
         if (!c) {
           EXPECT_EQ(out.GetHeight(), 7000u);
         }
         EXPECT_NEAR(static_cast<double>(out.GetHeight()), in.GetHeight(), 3.0);
       }},
      {"Weight", [](TestRecord& r, bool c) { r.SetWeight(c ? 204793 : 15453); },
       [](const TestRecord& in, const TestRecord& out, bool) {
         EXPECT_NEAR(static_cast<double>(out.GetWeight()), in.GetWeight(), 4.0);
       }},
      NUMBER_FIELD(Sex, 1u, 2u),
      NUMBER_FIELD(Race, 2u, 4u),
      TEXT_FIELD(Drugs, 512, 255),
      NUMBER_FIELD(BloodPressure, (120u << 16) | 80u, 0xFFFFFFFFu),
      TEXT_FIELD(Diagnosis, 512, 255),
      TEXT_FIELD(ReferringPhysician, 32, 31),
      TEXT_FIELD(ConfirmingPhysician, 39, 38),
      TEXT_FIELD(Technician, 64, 63),
      NUMBER_FIELD(Room, 42, 65535),
      {"AcquisitionDateTime",
       [](TestRecord& r, bool c) {
         *r.GetAcquisitionDateTime() = c ? DateTime(65535, 255, 255, 255, 255, 255, 255)
                                         : DateTime(2023, 6, 15, 14, 30, 45, 67);
       },
       [](const TestRecord& in, const TestRecord& out, bool) {
         const DateTime* a = in.GetAcquisitionDateTime();
         const DateTime* b = out.GetAcquisitionDateTime();
         EXPECT_EQ(b->year, a->year);
         EXPECT_EQ(b->month, a->month);
         EXPECT_EQ(b->day, a->day);
         EXPECT_EQ(b->hour, a->hour);
         EXPECT_EQ(b->minute, a->minute);
         EXPECT_EQ(b->second, a->second);
         EXPECT_EQ(b->hundredths, 0);  // the file holds no hundredths
       }},
      NUMBER_FIELD(HighPassFilter, 5u, 32767u),
      NUMBER_FIELD(LowPassFilter, 150u, 32767u),
      NUMBER_FIELD(FilterBitmap, 0x0Bu, 255u),
      U32_FIELD(Tag181Value),
      TEXT_FIELD(ScrambleKey, 48, 47),
      U32_FIELD(Tag183Value),
      TEXT_FIELD(AccessionNumber, 32, 31),
      TEXT_FIELD(Tag185Text, 32, 31),
      TEXT_FIELD(Tag186Text, 32, 31),
      U32_FIELD(Tag187Value),
      U32_FIELD(Tag188Value),
      U32_FIELD(MeasureValueB),
      U32_FIELD(MeasureTimeB),
      NUMBER_FIELD(MeasureLeadB, 3u, 11u),
      U32_FIELD(MeasureExtraB),
      U32_FIELD(MeasureValueA),
      U32_FIELD(MeasureTimeA),
      NUMBER_FIELD(MeasureLeadA, 9u, 11u),
      U32_FIELD(MeasureExtraA),
      U32_FIELD(Tag197Value),
      U32_FIELD(Tag198Value),
      U32_FIELD(Tag199Value),
      TEXT_FIELD(Street, 64, 63),
      TEXT_FIELD(City, 32, 31),
      TEXT_FIELD(State, 8, 7),
      TEXT_FIELD(PostalCode, 12, 11),
      NUMBER_FIELD(Ambulatory, 1u, 2u),
      NUMBER_FIELD(Smoking, 2u, 3u),
      NUMBER_FIELD(Alcohol, 2u, 3u),
      NUMBER_FIELD(Family, 1u, 2u),
      NUMBER_FIELD(Pacemaker, 2u, 4u),
      {"Tag209Date",
       [](TestRecord& r, bool c) {
         CalendarDate d = c ? CalendarDate{65535, 255, 255} : CalendarDate{2020, 2, 1};
         r.SetTag209Date(&d);
       },
       [](const TestRecord& in, const TestRecord& out, bool) { ExpectDate(in.GetTag209Date(), out.GetTag209Date()); }},
      TEXT_FIELD(OverreadingPhysician, 64, 63),
      U32_FIELD(Tag211Value),
      {"Tag212Flag", [](TestRecord& r, bool c) { r.SetTag212Flag(c ? 255 : 1); },
       [](const TestRecord&, const TestRecord& out, bool) { EXPECT_EQ(out.GetTag212Flag(), 1); }},
      NUMBER_FIELD(ProcedureType, 4u, 6u),
      TEXT_FIELD(DeviceName, 64, 63),
      TEXT_FIELD(DeviceSerial, 64, 63),
      TEXT_FIELD(DeviceRevision, 64, 63),
      U32_FIELD(Tag218Value),
      U32_FIELD(Tag219Value),
      U32_FIELD(Tag220Value),
      TEXT_FIELD(Tag221Text, 32, 31),
      TEXT_FIELD(Tag222Text, 32, 31),
      TEXT_FIELD(Tag223Text, 64, 63),
      TEXT_FIELD(Tag224Text, 32, 31),
      TEXT_FIELD(Tag225Text, 12, 11),
      TEXT_FIELD(OriginalInterpreter, 64, 63),
      TEXT_FIELD(Tag227Text, 32, 31),
      TEXT_FIELD(Tag228Text, 32, 31),
      TEXT_FIELD(Tag229Text, 64, 63),
      {"OverreadDateTime",
       [](TestRecord& r, bool c) {
         *r.GetOverreadDateTime() = c ? DateTime(65535, 255, 255, 255, 255, 255, 255)
                                      : DateTime(2023, 6, 16, 9, 5, 7, 33);
       },
       [](const TestRecord& in, const TestRecord& out, bool) {
         EXPECT_EQ(std::memcmp(in.GetOverreadDateTime(), out.GetOverreadDateTime(), sizeof(DateTime)), 0);
       }},
      TEXT_FIELD(Tag231Text, 32, 31),
      TEXT_FIELD(Tag232Text, 32, 31),
      {"Exercise", [](TestRecord& r, bool c) { r.SetExercise(1, c ? 1 : 0); },
       [](const TestRecord& in, const TestRecord& out, bool) {
         EXPECT_EQ(out.GetExerciseType(), in.GetExerciseType());
         EXPECT_EQ(out.GetExerciseFlag(), in.GetExerciseFlag());
       }},
      NUMBER_FIELD(TargetHeartRate, 150u, 32767u),
      U32_FIELD(Tag235Value),
      U32_FIELD(Tag236Value),
      U32_FIELD(Tag237Value),
      U32_FIELD(Tag238Value),
      U32_FIELD(HeartRate),
      TEXT_FIELD(Tag240Text, 512, 511),
      U32_FIELD(PairValue1),
      U32_FIELD(PairTime1),
      U32_FIELD(PairValue2),
      U32_FIELD(PairTime2),
      U32_FIELD(PairValue3),
      U32_FIELD(PairTime3),
      U32_FIELD(PairValue4),
      U32_FIELD(PairTime4),
      U32_FIELD(PairValue5),
      U32_FIELD(PairTime5),
      U32_FIELD(PairValue6),
      U32_FIELD(PairTime6),
      TEXT_FIELD(Tag253Text, 64, 63),
      TEXT_FIELD(Tag254Text, 64, 63),
  };
  return fields;
}

class FieldRoundTrip : public SaveFetchTest,
                       public ::testing::WithParamInterface<std::tuple<size_t, bool>> {};

TEST_P(FieldRoundTrip, ComesBack) {
  const RoundTripField& f = Fields()[std::get<0>(GetParam())];
  const bool capacity = std::get<1>(GetParam());
  TestRecord in;
  f.set(in, capacity);
  TestRecord out;
  RoundTrip(in, out);
  f.check(in, out, capacity);
  EXPECT_FALSE(cap_.HasText("LOGOEMERROR", "Incorrect termination")) << cap_.Dump();
}

INSTANTIATE_TEST_SUITE_P(Catalogue, FieldRoundTrip,
                         ::testing::Combine(::testing::Range<size_t>(0, Fields().size()), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(Fields()[std::get<0>(info.param)].name) +
                                  (std::get<1>(info.param) ? "_Capacity" : "_Typical");
                         });

// Every field at once, so that no field disturbs another.
class AllFieldsRoundTrip : public SaveFetchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AllFieldsRoundTrip, ComeBackTogether) {
  TestRecord in;
  for (auto& f : Fields()) f.set(in, GetParam());
  TestRecord out;
  RoundTrip(in, out);
  for (auto& f : Fields()) {
    SCOPED_TRACE(f.name);
    f.check(in, out, GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(Values, AllFieldsRoundTrip, ::testing::Bool());

// ----------------------------------------------------------------- saving

TEST_F(SaveFetchTest, NullRecordOrPathIsRefused) {
  TestRecord r;
  EXPECT_EQ(svc_.SaveTestRecord(nullptr, dir_.File("x.scp").c_str()), 0);
  EXPECT_EQ(svc_.SaveTestRecord(&r, nullptr), 0);
  auto lines = cap_.Messages();
  ASSERT_EQ(lines.size(), 2u) << cap_.Dump();
  EXPECT_TRUE(cap_.Has("LOGOEMERROR", "scpsrv", 137, "Test or File Name NULL"));
  EXPECT_FALSE(r.IsModified());
}

// A path of exactly n characters inside dir; its folders are made when
// asked for.
std::string PathOfLength(const std::string& dir, size_t n, bool makeFolders) {
  std::string p = dir;
  while (n - p.size() > 200) {
    p += "/" + std::string(150, 'd');
    if (makeFolders) fs::create_directories(p);
  }
  const size_t rest = n - p.size() - 1;
  return p + "/" + std::string(rest - 4, 'f') + ".scp";
}

TEST_F(SaveFetchTest, PathOf511CharactersIsAccepted) {
#ifdef _WIN32
  // The service takes the path, but Windows' ANSI file calls refuse one
  // beyond MAX_PATH (260 characters): the save fails as a failed open does,
  // not with the length refusal.
  const std::string path = PathOfLength(dir_.path(), 511, false);
  ASSERT_EQ(path.size(), 511u);
  // The wide calls behind std::filesystem may make the folders (Wine's do,
  // and Windows' with long paths enabled); then the name's length is all
  // the system can object to.
  std::error_code ec;
  const bool folders = fs::create_directories(fs::path(path).parent_path(), ec);
  TestRecord r;
  EXPECT_EQ(svc_.SaveTestRecord(&r, path.c_str()), 0);
  EXPECT_FALSE(cap_.Has("LOGOEMERROR", "scpsrv", 136, "File Name larger than 512 characters")) << cap_.Dump();
  if (folders) {
    char tooLong[256];
    ASSERT_GT(plat::FormatMessage(plat::kErrorFilenameTooLong, tooLong, sizeof tooLong), 0u);
    const std::string text(tooLong);
    EXPECT_TRUE(cap_.HasText("LOGSYSTEMERROR", text.substr(0, text.find_first_of("\r\n")))) << cap_.Dump();
  }
  EXPECT_TRUE(cap_.HasText("LOGSYSTEMERROR", "Could not open " + path)) << cap_.Dump();
  EXPECT_TRUE(Message7100()) << cap_.Dump();
#else
  const std::string path = PathOfLength(dir_.path(), 511, true);
  ASSERT_EQ(path.size(), 511u);
  TestRecord r;
  EXPECT_EQ(svc_.SaveTestRecord(&r, path.c_str()), 1) << cap_.Dump();
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(std::string(r.GetFilePath()), path);
  EXPECT_TRUE(Saved(path));
#endif
}

TEST_F(SaveFetchTest, PathOf512CharactersIsRefusedAndTheRecordKept) {
  const std::string path = PathOfLength(dir_.path(), 512, false);
  ASSERT_EQ(path.size(), 512u);
  TestRecord r;
  EXPECT_EQ(svc_.SaveTestRecord(&r, path.c_str()), 0);
  EXPECT_TRUE(cap_.Has("LOGOEMERROR", "scpsrv", 136, "File Name larger than 512 characters")) << cap_.Dump();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_STREQ(r.GetFilePath(), "");
  EXPECT_STREQ(r.GetAccessionNumber(), "");
  EXPECT_FALSE(r.IsModified());
}

TEST_F(SaveFetchTest, MissingLastFolderIsCreated) {
  const std::string path = dir_.path() + "\\sub\\x.scp";
  TestRecord r;
  ASSERT_EQ(svc_.SaveTestRecord(&r, path.c_str()), 1) << cap_.Dump();
  EXPECT_TRUE(fs::is_directory(dir_.path() + "/sub"));
  EXPECT_TRUE(fs::is_regular_file(dir_.path() + "/sub/x.scp"));
  EXPECT_TRUE(Saved(path));
}

TEST_F(SaveFetchTest, TwoMissingFoldersFailWithMessage7100) {
  const std::string path = dir_.path() + "\\a\\b\\x.scp";
  TestRecord r;
  EXPECT_EQ(svc_.SaveTestRecord(&r, path.c_str()), 0);
  EXPECT_TRUE(Message7100()) << cap_.Dump();
  EXPECT_FALSE(Saved(path));
  EXPECT_FALSE(fs::exists(dir_.path() + "/a"));
  // The failed open has its own details.
  EXPECT_TRUE(cap_.HasText("LOGSYSTEMERROR", "Could not open " + path)) << cap_.Dump();
}

TEST_F(SaveFetchTest, ForwardSlashIsNoSeparatorForTheFolder) {
  const std::string path = dir_.path() + "/missing/x.scp";
  TestRecord r;
  EXPECT_EQ(svc_.SaveTestRecord(&r, path.c_str()), 0);
  EXPECT_TRUE(Message7100()) << cap_.Dump();
  EXPECT_FALSE(fs::exists(dir_.path() + "/missing"));
}

TEST_F(SaveFetchTest, EmptyAccessionNumberGetsAGuid) {
  TestRecord r;
  const std::string path = dir_.File("acc.scp");
  ASSERT_EQ(svc_.SaveTestRecord(&r, path.c_str()), 1);
  const std::string acc = r.GetAccessionNumber();
  EXPECT_TRUE(std::regex_match(acc, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{7}")))
      << acc;
  EXPECT_TRUE(cap_.Has("LOGSERVICESTART", "", -1, "CommonObjectInterface")) << cap_.Dump();
  EXPECT_TRUE(cap_.Has("LOGSERVICESTOP", "", -1, "CommonObjectInterface")) << cap_.Dump();
  TestRecord back;
  back.SetFilePath(path.c_str());
  ASSERT_EQ(svc_.FetchTest(&back), 1);
  EXPECT_EQ(std::string(back.GetAccessionNumber()), acc);

  TestRecord again;
  ASSERT_EQ(svc_.SaveTestRecord(&again, path.c_str()), 1);
  EXPECT_NE(std::string(again.GetAccessionNumber()), acc);
}

TEST_F(SaveFetchTest, ExistingAccessionNumberIsKept) {
  TestRecord r;
  r.SetAccessionNumber("MINE");
  ASSERT_EQ(svc_.SaveTestRecord(&r, dir_.File("acc.scp").c_str()), 1);
  EXPECT_STREQ(r.GetAccessionNumber(), "MINE");
  EXPECT_EQ(cap_.Count("LOGSERVICESTART"), 1u) << "only the service start line: " << cap_.Dump();
}

struct ModifiedCase {
  const char* name;
  bool modifiedBefore;
  bool pathChanges;
  bool hasAccession;
  bool succeeds;
  bool modifiedAfter;
};

class ModifiedFlag : public SaveFetchTest, public ::testing::WithParamInterface<ModifiedCase> {};

TEST_P(ModifiedFlag, FollowsTheSave) {
  const ModifiedCase& k = GetParam();
  const std::string good = dir_.File("m.scp");
  const std::string bad = dir_.path() + "/no/such/m.scp";
  const std::string& path = k.succeeds ? good : bad;
  TestRecord r;
  if (k.hasAccession) r.SetAccessionNumber("ACC");
  if (!k.pathChanges) r.SetFilePath(path.c_str());
  r.ClearModified();
  if (k.modifiedBefore) r.SetSex(1);
  EXPECT_EQ(svc_.SaveTestRecord(&r, path.c_str()), k.succeeds ? 1 : 0);
  EXPECT_EQ(r.IsModified(), k.modifiedAfter);
  EXPECT_EQ(std::string(r.GetFilePath()), path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModifiedFlag,
    ::testing::Values(ModifiedCase{"SuccessClears", true, true, false, true, false},
                      ModifiedCase{"FailureKeepsSet", true, false, true, false, true},
                      ModifiedCase{"FailureWithNewPathSets", false, true, true, false, true},
                      ModifiedCase{"FailureWithNewAccessionSets", false, false, false, false, true},
                      ModifiedCase{"FailureOtherwiseClear", false, false, true, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --------------------------------------------------------------- fetching

TEST_F(SaveFetchTest, FetchWithoutRecordOrFile) {
  EXPECT_EQ(svc_.FetchTest(nullptr), 0);
  EXPECT_TRUE(cap_.Has("LOGOEMERROR", "scpsrv", 237, "SCP read")) << cap_.Dump();
  cap_.Clear();
  TestRecord r;
  r.SetFilePath(dir_.File("absent.scp").c_str());
  r.SetSex(2);
  EXPECT_EQ(svc_.FetchTest(&r), 0);
  EXPECT_TRUE(cap_.Has("LOGOEMERROR", "scpecg", 1350, "file not opened for read")) << cap_.Dump();
  EXPECT_TRUE(cap_.Has("LOGOEMERROR", "scpsrv", 237, "SCP read")) << cap_.Dump();
  EXPECT_TRUE(r.IsModified());  // untouched
}


// A file over 4 GiB whose size's low 32 bits just cover section 0: the
// sections behind it are sound and are read, not taken for cut short.
TEST_F(SaveFetchTest, SectionsOfAFileOver4GiBAreRead) {
  TestRecord in;
  in.SetPatientName("Over", "", "Four");
  in.SetProcedureType(3);
  const std::string path = dir_.File("big.scp");
  ASSERT_EQ(svc_.SaveTestRecord(&in, path.c_str()), 1) << cap_.Dump();
  std::error_code ec;
  std::filesystem::resize_file(path, (uint64_t{1} << 32) + 360, ec);  // sparse where it can be
  if (ec) GTEST_SKIP() << "no room for a file over 4 GiB: " << ec.message();
  cap_.Clear();
  EXPECT_EQ(svc_.GetProcedureType(path.c_str()), 3) << cap_.Dump();
  TestRecord out;
  out.SetFilePath(path.c_str());
  EXPECT_EQ(svc_.FetchTest(&out), 1) << cap_.Dump();
  EXPECT_STREQ(out.GetPatientName(), in.GetPatientName());
  EXPECT_FALSE(cap_.HasText("LOGOEMERROR", "SCP-ECG: Read error")) << cap_.Dump();
  std::filesystem::remove(path);
}
TEST_F(SaveFetchTest, OnlyThePresentFieldsChange) {
  TestRecord r;
  r.SetTechnician("keep");
  r.SetTestKey(0xDEADBEEF);
  r.SetFilePath(Store(Section1File({8, 1, 0, 2, 20, 5, 0, 'D', 'r', ' ', 'B', 0})).c_str());
  EXPECT_EQ(svc_.FetchTest(&r), 1);
  EXPECT_EQ(r.GetSex(), 2u);
  EXPECT_STREQ(r.GetReferringPhysician(), "Dr B");
  EXPECT_STREQ(r.GetTechnician(), "keep");
  EXPECT_EQ(r.GetTestKey(), 0xDEADBEEFu);
  EXPECT_FALSE(r.IsModified());
}

// The rhythm sections are read only into a waveform the host attached.
TEST_F(SaveFetchTest, RecordWithoutWaveformGetsNoRhythmData) {
  TestRecord in;
  FillTypical(in);
  const uint8_t slots[2] = {0, 1};
  in.SetWaveform(new EcgWaveform(2, 500, 500, 5000, slots));
  const std::string path = dir_.File("wave.scp");
  ASSERT_EQ(svc_.SaveTestRecord(&in, path.c_str()), 1) << cap_.Dump();
  std::vector<uint16_t> ids;
  ids = scpfile::SectionIds(ReadFileBytes(path));
  ASSERT_GE(ids.size(), 4u);
  EXPECT_EQ(std::vector<uint16_t>(ids.begin(), ids.begin() + 4), (std::vector<uint16_t>{1, 2, 3, 6}));
  cap_.Clear();
  TestRecord out;
  out.SetFilePath(path.c_str());
  ASSERT_EQ(svc_.FetchTest(&out), 1);
  EXPECT_EQ(out.GetWaveform(), nullptr);
  EXPECT_STREQ(out.GetPatientName(), in.GetPatientName());
  EXPECT_TRUE(cap_.Messages().empty()) << cap_.Dump();
}

TEST_F(SaveFetchTest, TestKeySurvivesAFullFetch) {
  TestRecord in;
  FillTypical(in);
  in.SetTestKey(17);
  TestRecord out;
  out.SetTestKey(0x12345678);
  RoundTrip(in, out);
  EXPECT_EQ(out.GetTestKey(), 0x12345678u);
  EXPECT_FALSE(out.IsModified());
}

// ------------------------------------------------------ registered keys

// On POSIX the registry key is a folder under the test's own
// XDG_CONFIG_HOME. On Windows it is the real key of the current user's
// hive, looked at here through the system's own calls: each test starts
// without it and removes it afterwards, and the suite refuses to run where
// keys are registered, so that it never withdraws a real registration (CI
// runs it in a fresh Wine prefix).
class RegisteredKeys : public SaveFetchTest {
 protected:
#ifdef _WIN32
  void SetUp() override {
    if (KeyExists() && !KeyIsEmpty())
      GTEST_SKIP() << "scramble keys are registered under HKEY_CURRENT_USER\\" << ScpService::kRegisteredKeysPath
                   << "; the suite leaves them alone";
    RemoveKey();
  }
  void TearDown() override { RemoveKey(); }
  static void RemoveKey() {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, ScpService::kRegisteredKeysPath);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, ScpService::kRegisteredKeysPath);
  }
  static bool KeyExists() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, ScpService::kRegisteredKeysPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    ::RegCloseKey(key);
    return true;
  }
  static bool KeyIsEmpty() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, ScpService::kRegisteredKeysPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return false;
    DWORD subkeys = 1;
    const LONG rc = ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS && subkeys == 0;
  }
  static void Register(const std::string& name) {
    HKEY key = nullptr;
    const std::string path = std::string(ScpService::kRegisteredKeysPath) + "\\" + name;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << name;
    ::RegCloseKey(key);
  }
#else
  bool KeyExists() const { return fs::exists(config_.KeyFolder()); }
  bool KeyIsEmpty() const { return fs::is_directory(config_.KeyFolder()) && fs::is_empty(config_.KeyFolder()); }
  void Register(const std::string& name) { ASSERT_TRUE(fs::create_directories(config_.KeyFolder() + "/" + name)); }
#endif
  // Fetches a file whose Section 1 carries the scramble key.
  int Fetch(const std::string& key) {
    TestRecord r;
    r.SetIdentityReadable(key.empty() ? 0 : 7);
    Bytes tag{182, static_cast<uint8_t>(key.size() + 1), 0};
    tag.insert(tag.end(), key.begin(), key.end());
    tag.push_back(0);
    r.SetFilePath(Store(Section1File(key.empty() ? Bytes{} : tag)).c_str());
    EXPECT_EQ(svc_.FetchTest(&r), 1);
    return r.GetIdentityReadable();
  }
};

TEST_F(RegisteredKeys, EmptyKeyIsReadableWithoutTheRegistry) {
  TestRecord r;
  r.SetIdentityReadable(0);
  r.SetFilePath(Store(Section1File({})).c_str());
  ASSERT_EQ(svc_.FetchTest(&r), 1);
  EXPECT_EQ(r.GetIdentityReadable(), 1);
  EXPECT_FALSE(KeyExists());
}

TEST_F(RegisteredKeys, RegisteredKeyIsReadable) {
  Register("Alpha");
  Register("K7x");
  Register("Zulu");
  EXPECT_EQ(Fetch("K7x"), 1);
}

// The comparison is byte for byte on both platforms, although the registry
// itself does not tell "k7x" from "K7x".
TEST_F(RegisteredKeys, CaseMatters) {
  Register("k7x");
  EXPECT_EQ(Fetch("K7x"), 0);
  EXPECT_EQ(Fetch("k7x"), 1);
}

TEST_F(RegisteredKeys, MissingKeyIsCreatedEmpty) {
  ASSERT_FALSE(KeyExists());
  EXPECT_EQ(Fetch("K7x"), 0);
  EXPECT_TRUE(KeyExists());
  EXPECT_TRUE(KeyIsEmpty());
}

TEST_F(RegisteredKeys, OnlyTheFirst256KeysAreSeen) {
  char name[8];
  for (int i = 0; i < 256; ++i) {
    std::snprintf(name, sizeof name, "k%03d", i);
    Register(name);
  }
  Register("zz");  // enumerated 257th
  EXPECT_EQ(Fetch("k255"), 1);
  EXPECT_EQ(Fetch("zz"), 0);
}

// --------------------------------------------------- the exports, as a host

using HostTest = SaveFetchTest;

TEST_F(HostTest, SaveCheckClassifyAndFetchThroughTheExports) {
  PluginModule plugin;
  ASSERT_TRUE(plugin.loaded()) << plugin.loadError();
  auto start = plugin.Fn<PluginModule::Void>("LIBSTART");
  auto stop = plugin.Fn<PluginModule::Void>("LIBSTOP");
  auto save = plugin.Fn<PluginModule::Save>("SAVETESTRECORD");
  auto valid = plugin.Fn<PluginModule::Check>("ISVALIDFORMAT");
  auto procedure = plugin.Fn<PluginModule::Procedure>("GETPROCEDURETYPE");
  auto fetch = plugin.Fn<PluginModule::Fetch>("FETCHTEST");
  ASSERT_TRUE(start && stop && save && valid && procedure && fetch);

  const std::string path = dir_.path() + "\\host\\test.scp";
  TestRecord in;
  FillTypical(in);
  in.SetProcedureType(3);
  start();
  ASSERT_EQ(save(&in, path.c_str()), 1) << cap_.Dump();
  EXPECT_TRUE(Saved(path)) << cap_.Dump();
  EXPECT_FALSE(in.IsModified());

  ValidFormatInfo info;
  std::memset(&info, 0xAA, sizeof info);
  EXPECT_EQ(valid(path.c_str(), &info), 1);
  EXPECT_EQ(info.complexCount, 0u);
  EXPECT_EQ(info.rhythmMeasCount, 0u);
  EXPECT_EQ(info.diaryPdfSize, 0u);
  EXPECT_EQ(info.reportPdfSize, 0u);
  EXPECT_EQ(info.holterCfgSize, 0u);
  EXPECT_EQ(info.holterCfgBlockSize, 0u);
  EXPECT_EQ(procedure(path.c_str()), 3);

  TestRecord out;
  out.SetFilePath(path.c_str());
  EXPECT_EQ(fetch(&out), 1);
  stop();

  EXPECT_STREQ(out.GetPatientName(), in.GetPatientName());
  EXPECT_STREQ(out.GetStoredPatientId(), in.GetStoredPatientId());
  EXPECT_STREQ(out.GetAccessionNumber(), in.GetAccessionNumber());
  EXPECT_EQ(out.GetProcedureType(), 3u);
  EXPECT_EQ(out.GetBloodPressure(), in.GetBloodPressure());
  EXPECT_EQ(out.GetHeight(), 7000u);
  EXPECT_FALSE(out.IsModified());
  EXPECT_FALSE(cap_.HasText("LOGOEMERROR", "Incorrect termination")) << cap_.Dump();

  // After the last stop there is no service: every data export answers its
  // failure value.
  TestRecord late;
  EXPECT_EQ(save(&late, dir_.File("late.scp").c_str()), 0);
  EXPECT_EQ(valid(path.c_str(), nullptr), 0);
  EXPECT_EQ(procedure(path.c_str()), 7);
  EXPECT_FALSE(fs::exists(dir_.File("late.scp")));
}

}  // namespace
