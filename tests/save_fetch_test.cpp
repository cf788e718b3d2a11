// Saving a test record and fetching it back: one round trip over records
// generated from the record's field list, the path, folder, accession number
// and modified flag rules of the save, the registered-key check of the
// fetch, and the exports driven the way a host drives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "platform/platform.h"
#include "platform/resources.h"
#include "plugin_module.h"
#include "scp/scpsrv.h"
#include "scp/service.h"
#include "support/log_capture.h"
#include "support/scp_file.h"
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

// A file whose section 1 holds the given fields and the end tag.
Bytes Section1File(Bytes fields) {
  fields.insert(fields.end(), {255, 0, 0});
  return scpfile::BuildRecord({{1, fields}});
}

class SaveFetchTest : public ::testing::Test {
 protected:
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

// ------------------------------------------ round trip over generated records

// Calls f(name, member of a, member of b) for every field, in memory order.
template <typename F>
void ForEachField(TestRecord& a, TestRecord& b, F&& f) {
#define SCP_VISIT(name, ...) f(std::string_view(#name), a.name, b.name);
  SCP_TEST_RECORD_FIELDS(SCP_VISIT)
#undef SCP_VISIT
}

// Fields that no section stores: the host's own values, what the record
// keeps for itself, the interpretation and the sub-records (pointers).
bool InSection1(std::string_view name) {
  static const std::set<std::string_view> kNot = {
      "testKey", "patientId", "interpretationText", "interpretationStatus", "originalDateTime", "hostText1",
      "hostText2", "hostText3", "confirmedDateTime", "metricUnits", "filePath", "modified", "annotationIndex",
      "hostValue", "auditDateTime", "identityReadable", "complexDataCount", "rhythmCount", "tripleCount",
      "spirometryItemCount"};
  return !kNot.contains(name);
}

// The largest value generated: lengths must fit the file's signed 16-bit
// millimetres and ounces, and a room is a number from 0 to 65535.
uint32_t Largest(std::string_view name, uint32_t typeMax) {
  return name == "height" ? 129000 : name == "weight" ? 204793 : name == "room" ? 65535 : typeMax;
}

// a * b / c rounded to the nearest, halves away from zero (non-negative here).
uint32_t MulDivRound(uint64_t a, uint64_t b, uint64_t c) { return static_cast<uint32_t>((a * b + c / 2) / c); }

// What a number is after a trip through Section 1: a code outside its range
// is written as the code for "none", 16-bit values lose their high half and
// come back sign-extended, lengths go through millimetres and ounces.
uint32_t AfterTrip(std::string_view name, uint32_t v) {
  auto code = [&](uint32_t hi, uint32_t other) { return v <= hi ? v : other; };
  if (name == "sex" || name == "ambulatory" || name == "family") return code(2, 0);
  if (name == "smoking" || name == "alcohol") return code(3, 0);
  if (name == "race" || name == "pacemaker") return code(4, 0);
  if (name == "measureLeadA" || name == "measureLeadB") return code(11, 0);
  if (name == "procedureType") return code(6, 7);
  if (name == "tag212Flag" || name == "exerciseFlag") return v != 0;
  if (name == "exerciseType") return v == 1;
  if (name == "filterBitmap") return v & 0xFF;
  if (name == "highPassFilter" || name == "lowPassFilter" || name == "targetHeartRate")
    return static_cast<uint32_t>(static_cast<int16_t>(v & 0xFFFF));
  if (name == "height") return MulDivRound(MulDivRound(v, 254, 1000), 1000, 254);
  if (name == "weight") return MulDivRound(MulDivRound(v, 16, 100), 100, 16);
  return v;
}

// Record k: every Section 1 field at its largest (k % 3 == 0), at its
// smallest (1) or random (2).
void Generate(TestRecord& r, int k) {
  std::mt19937 rng(static_cast<uint32_t>(k));
  auto pick = [&](uint64_t hi) -> uint64_t { return k % 3 == 0 ? hi : k % 3 == 1 ? 0 : rng() % (hi + 1); };
  auto text = [&](size_t n, const char* alphabet) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += alphabet[rng() % std::strlen(alphabet)];
    return s;
  };
  static const char* kPrintable = " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]_`abcxyz{|}~";
  ForEachField(r, r, [&](std::string_view name, auto& m, auto&) {
    using T = std::remove_cvref_t<decltype(m)>;
    if (!InSection1(name)) return;
    if constexpr (std::is_same_v<T, char[sizeof(T)]>) {
      const std::string s = text(pick(sizeof m - 1), kPrintable);
      std::memset(m, 0, sizeof m);
      std::memcpy(m, s.data(), s.size());
    } else if constexpr (std::is_integral_v<T>) {
      m = static_cast<T>(pick(Largest(name, static_cast<uint32_t>(std::numeric_limits<T>::max()))));
    } else if constexpr (std::is_same_v<T, DateTime*> || std::is_same_v<T, CalendarDate*>) {
      auto* bytes = reinterpret_cast<uint8_t*>(m);  // every byte of the date (and time) is a field
      std::generate(bytes, bytes + sizeof *m, [&] { return static_cast<uint8_t>(pick(255)); });
    }
  });
  // The name and the identifier go through their setters: the name is
  // composed, and the plain identifier follows from the stored one.
  const char* kName = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -";
  r.SetPatientName(text(pick(14), kName).c_str(), text(pick(14), kName).c_str(), text(pick(14), kName).c_str());
  r.SetStoredPatientId(text(pick(20), kName).c_str());
}

TEST_F(SaveFetchTest, GeneratedRecordsComeBackThroughSection1) {
  for (int k = 0; k < 12; ++k) {
    SCOPED_TRACE("record " + std::to_string(k));
    TestRecord in;
    Generate(in, k);
    const std::string path = dir_.File("round" + std::to_string(k) + ".scp");
    cap_.Clear();
    ASSERT_EQ(svc_.SaveTestRecord(&in, path.c_str()), 1) << cap_.Dump();
    TestRecord out;
    out.SetTestKey(0x12345678);
    out.SetFilePath(path.c_str());
    ASSERT_EQ(svc_.FetchTest(&out), 1) << cap_.Dump();
    EXPECT_EQ(cap_.Count("LOGOEMERROR"), 0u) << cap_.Dump();
    EXPECT_EQ(out.GetTestKey(), 0x12345678u) << "the host's key is put back";
    EXPECT_FALSE(out.IsModified());
    EXPECT_STREQ(out.GetPatientId(), in.GetPatientId());
    ForEachField(in, out, [&](std::string_view name, auto& a, auto& b) {
      using T = std::remove_cvref_t<decltype(a)>;
      if (!InSection1(name)) return;
      SCOPED_TRACE(std::string(name));
      if constexpr (std::is_same_v<T, char[sizeof(T)]>) {
        // At most 255 characters of the drugs and the diagnosis are written.
        const size_t travels = name == "drugs" || name == "diagnosis" ? 255 : sizeof a;
        EXPECT_EQ(std::string(b), std::string(a).substr(0, travels));
      } else if constexpr (std::is_integral_v<T>) {
        EXPECT_EQ(static_cast<uint32_t>(b), AfterTrip(name, static_cast<uint32_t>(a)));
      } else if constexpr (std::is_same_v<T, DateTime*> || std::is_same_v<T, CalendarDate*>) {
        auto want = *a;
        if constexpr (std::is_same_v<T, DateTime*>) {
          if (name == "acquisitionDateTime") want.hundredths = 0;  // the file holds none
        }
        EXPECT_EQ(std::memcmp(b, &want, sizeof want), 0);
      }
    });
  }
}

// ----------------------------------------------------------------- saving

// A path of exactly n characters inside dir; its folders are made when
// asked for.
std::string PathOfLength(const std::string& dir, size_t n, bool makeFolders) {
  std::string p = dir;
  while (n - p.size() > 200) {
    p += "/" + std::string(150, 'd');
    if (makeFolders) fs::create_directories(p);
  }
  return p + "/" + std::string(n - p.size() - 5, 'f') + ".scp";
}

TEST_F(SaveFetchTest, PathOf511CharactersIsAccepted) {
  TestRecord r;
#ifdef _WIN32
  // The service takes the path, but Windows' ANSI file calls refuse one
  // beyond MAX_PATH: the save fails as a failed open does, not with the
  // length refusal. The wide calls behind std::filesystem may make the
  // folders (Wine's do); then the name's length is all the system objects to.
  const std::string path = PathOfLength(dir_.path(), 511, false);
  std::error_code ec;
  const bool folders = fs::create_directories(fs::path(path).parent_path(), ec);
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
  EXPECT_EQ(svc_.SaveTestRecord(&r, path.c_str()), 1) << cap_.Dump();
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(std::string(r.GetFilePath()), path);
  EXPECT_TRUE(Saved(path));
#endif
  EXPECT_EQ(path.size(), 511u);
}

// A null record or path, and a path of 512 characters: refused, nothing
// written, the record as it was.
TEST_F(SaveFetchTest, RefusedSavesKeepTheRecord) {
  TestRecord r;
  EXPECT_EQ(svc_.SaveTestRecord(nullptr, dir_.File("x.scp").c_str()), 0);
  EXPECT_EQ(svc_.SaveTestRecord(&r, nullptr), 0);
  ASSERT_EQ(cap_.Messages().size(), 2u) << cap_.Dump();
  EXPECT_TRUE(cap_.Has("LOGOEMERROR", "scpsrv", 137, "Test or File Name NULL"));
  const std::string path = PathOfLength(dir_.path(), 512, false);
  ASSERT_EQ(path.size(), 512u);
  EXPECT_EQ(svc_.SaveTestRecord(&r, path.c_str()), 0);
  EXPECT_TRUE(cap_.Has("LOGOEMERROR", "scpsrv", 136, "File Name larger than 512 characters")) << cap_.Dump();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_STREQ(r.GetFilePath(), "");
  EXPECT_STREQ(r.GetAccessionNumber(), "");
  EXPECT_FALSE(r.IsModified());
}

// Only the last folder of a path is made, and only a backslash separates.
TEST_F(SaveFetchTest, OnlyTheLastMissingFolderIsMade) {
  struct Case {
    const char* tail;
    int result;
    const char* made;     // folder that exists afterwards, or none
    const char* notMade;  // folder that must not exist
  };
  for (const Case& c : {Case{"\\sub\\x.scp", 1, "/sub", nullptr}, Case{"\\a\\b\\x.scp", 0, nullptr, "/a"},
                        Case{"/missing/x.scp", 0, nullptr, "/missing"}}) {
    SCOPED_TRACE(c.tail);
    cap_.Clear();
    const std::string path = dir_.path() + c.tail;
    TestRecord r;
    EXPECT_EQ(svc_.SaveTestRecord(&r, path.c_str()), c.result) << cap_.Dump();
    EXPECT_EQ(Saved(path), c.result == 1);
    EXPECT_EQ(Message7100(), c.result == 0) << cap_.Dump();
    EXPECT_TRUE(!c.made || fs::is_regular_file(dir_.path() + c.made + "/x.scp"));
    EXPECT_TRUE(!c.notMade || !fs::exists(dir_.path() + c.notMade));
    // A failed open has its own details.
    EXPECT_EQ(cap_.HasText("LOGSYSTEMERROR", "Could not open " + path), c.result == 0) << cap_.Dump();
  }
}

TEST_F(SaveFetchTest, EmptyAccessionNumberGetsAGuidAnExistingOneIsKept) {
  TestRecord r;
  const std::string path = dir_.File("acc.scp");
  ASSERT_EQ(svc_.SaveTestRecord(&r, path.c_str()), 1);
  const std::string acc = r.GetAccessionNumber();
  EXPECT_TRUE(std::regex_match(acc, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{7}")))
      << acc;
  EXPECT_TRUE(cap_.Has("LOGSERVICESTART", "", -1, "CommonObjectInterface")) << cap_.Dump();
  EXPECT_TRUE(cap_.Has("LOGSERVICESTOP", "", -1, "CommonObjectInterface")) << cap_.Dump();
  TestRecord again, mine;
  ASSERT_EQ(svc_.SaveTestRecord(&again, path.c_str()), 1);
  EXPECT_NE(std::string(again.GetAccessionNumber()), acc);
  cap_.Clear();
  mine.SetAccessionNumber("MINE");
  ASSERT_EQ(svc_.SaveTestRecord(&mine, path.c_str()), 1);
  EXPECT_STREQ(mine.GetAccessionNumber(), "MINE");
  EXPECT_EQ(cap_.Count("LOGSERVICESTART"), 0u) << "no COM start: " << cap_.Dump();
}

TEST_F(SaveFetchTest, ModifiedFlagFollowsTheSave) {
  struct Case {
    bool modifiedBefore, pathChanges, hasAccession, succeeds, modifiedAfter;
  };
  const std::string good = dir_.File("m.scp");
  const std::string bad = dir_.path() + "/no/such/m.scp";
  for (const Case& k : {Case{true, true, false, true, false},    // success clears
                        Case{true, false, true, false, true},    // failure keeps it set
                        Case{false, true, true, false, true},    // failure with a new path sets
                        Case{false, false, false, false, true},  // failure with a new accession number sets
                        Case{false, false, true, false, false}}) {
    const std::string& path = k.succeeds ? good : bad;
    TestRecord r;
    if (k.hasAccession) r.SetAccessionNumber("ACC");
    if (!k.pathChanges) r.SetFilePath(path.c_str());
    r.ClearModified();
    if (k.modifiedBefore) r.SetSex(1);
    EXPECT_EQ(svc_.SaveTestRecord(&r, path.c_str()), k.succeeds ? 1 : 0);
    EXPECT_EQ(r.IsModified(), k.modifiedAfter) << k.modifiedBefore << k.pathChanges << k.hasAccession;
    EXPECT_EQ(std::string(r.GetFilePath()), path);
  }
}

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
  fs::resize_file(path, (uint64_t{1} << 32) + 360, ec);  // sparse where it can be
  if (ec) GTEST_SKIP() << "no room for a file over 4 GiB: " << ec.message();
  cap_.Clear();
  EXPECT_EQ(svc_.GetProcedureType(path.c_str()), 3) << cap_.Dump();
  TestRecord out;
  out.SetFilePath(path.c_str());
  EXPECT_EQ(svc_.FetchTest(&out), 1) << cap_.Dump();
  EXPECT_STREQ(out.GetPatientName(), in.GetPatientName());
  EXPECT_FALSE(cap_.HasText("LOGOEMERROR", "SCP-ECG: Read error")) << cap_.Dump();
  fs::remove(path);
}

TEST_F(SaveFetchTest, OnlyThePresentFieldsChange) {
  TestRecord r;
  r.SetTechnician("keep");
  r.SetFilePath(Store(Section1File({8, 1, 0, 2, 20, 5, 0, 'D', 'r', ' ', 'B', 0})).c_str());
  EXPECT_EQ(svc_.FetchTest(&r), 1);
  EXPECT_EQ(r.GetSex(), 2u);
  EXPECT_STREQ(r.GetReferringPhysician(), "Dr B");
  EXPECT_STREQ(r.GetTechnician(), "keep");
  EXPECT_FALSE(r.IsModified());
  // Empty texts are left out of a saved file, so they clear nothing.
  TestRecord empty;
  ASSERT_EQ(svc_.SaveTestRecord(&empty, dir_.File("empty.scp").c_str()), 1);
  r.SetFilePath(dir_.File("empty.scp").c_str());
  EXPECT_EQ(svc_.FetchTest(&r), 1);
  EXPECT_STREQ(r.GetTechnician(), "keep");
}

// The rhythm sections are read only into a waveform the host attached.
TEST_F(SaveFetchTest, RecordWithoutWaveformGetsNoRhythmData) {
  TestRecord in, out;
  in.SetPatientName("John", "Doe", "Smith");
  const uint8_t slots[2] = {0, 1};
  in.SetWaveform(new EcgWaveform(2, 500, 500, 5000, slots));
  const std::string path = dir_.File("wave.scp");
  ASSERT_EQ(svc_.SaveTestRecord(&in, path.c_str()), 1) << cap_.Dump();
  const std::vector<uint16_t> ids = scpfile::SectionIds(ReadFileBytes(path));
  EXPECT_EQ(std::vector<uint16_t>(ids.begin(), ids.begin() + std::min<size_t>(4, ids.size())),
            (std::vector<uint16_t>{1, 2, 3, 6}));
  cap_.Clear();
  out.SetFilePath(path.c_str());
  ASSERT_EQ(svc_.FetchTest(&out), 1);
  EXPECT_TRUE(out.GetWaveform() == nullptr && std::string(out.GetPatientName()) == in.GetPatientName());
  EXPECT_TRUE(cap_.Messages().empty()) << cap_.Dump();
}

// ------------------------------------------------------ registered keys

// On POSIX the registry key is a folder under the test's own
// XDG_CONFIG_HOME. On Windows it is the real key of the current user's
// hive: each test starts without it and removes it afterwards, and the suite
// refuses to run where keys are registered, so that it never withdraws a
// real registration (CI runs it in a fresh Wine prefix).
class RegisteredKeys : public SaveFetchTest {
 protected:
#ifdef _WIN32
  void SetUp() override {
    if (KeyExists() && !KeyIsEmpty())
      GTEST_SKIP() << "scramble keys are registered under HKEY_CURRENT_USER\\" << ScpService::kRegisteredKeysPath;
    RemoveKey();
  }
  void TearDown() override { RemoveKey(); }
  static void RemoveKey() {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, ScpService::kRegisteredKeysPath);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, ScpService::kRegisteredKeysPath);
  }
  // Subkeys of the key, or -1 without the key.
  static long Subkeys() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, ScpService::kRegisteredKeysPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return -1;
    DWORD n = 1;
    const LONG rc = ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS ? static_cast<long>(n) : 1;
  }
  static bool KeyExists() { return Subkeys() >= 0; }
  static bool KeyIsEmpty() { return Subkeys() == 0; }
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
  // Fetches a file whose Section 1 carries the scramble key (none when empty).
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

// An empty key needs no registry; a key looked up creates the registry key.
TEST_F(RegisteredKeys, EmptyKeyIsReadableAMissingRegistryKeyIsCreatedEmpty) {
  EXPECT_EQ(Fetch(""), 1);
  EXPECT_FALSE(KeyExists());
  EXPECT_EQ(Fetch("K7x"), 0);
  EXPECT_TRUE(KeyExists());
  EXPECT_TRUE(KeyIsEmpty());
}

// The comparison is byte for byte on both platforms, although the registry
// itself does not tell "k7x" from "K7x".
TEST_F(RegisteredKeys, RegisteredKeyIsReadableAndCaseMatters) {
  Register("Alpha");
  Register("k7x");
  Register("Zulu");
  EXPECT_EQ(Fetch("K7x"), 0);
  EXPECT_EQ(Fetch("k7x"), 1);
  EXPECT_EQ(Fetch("Zulu"), 1);
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

TEST_F(SaveFetchTest, SaveCheckClassifyAndFetchThroughTheExports) {
  PluginModule plugin;
  ASSERT_TRUE(plugin.loaded()) << plugin.loadError();
  auto save = plugin.Fn<PluginModule::Save>("SAVETESTRECORD");
  auto valid = plugin.Fn<PluginModule::Check>("ISVALIDFORMAT");
  auto procedure = plugin.Fn<PluginModule::Procedure>("GETPROCEDURETYPE");
  auto fetch = plugin.Fn<PluginModule::Fetch>("FETCHTEST");
  ASSERT_TRUE(save && valid && procedure && fetch);
  const std::string path = dir_.path() + "\\host\\test.scp";
  TestRecord in;
  in.SetPatientName("John", "Doe", "Smith");
  in.SetStoredPatientId("ID-0042xZ");
  in.SetHeight(7000);
  in.SetProcedureType(3);
  plugin.Fn<PluginModule::Void>("LIBSTART")();
  ASSERT_EQ(save(&in, path.c_str()), 1) << cap_.Dump();
  EXPECT_TRUE(Saved(path)) << cap_.Dump();
  EXPECT_FALSE(in.IsModified());

  uint32_t info[18];
  std::memset(info, 0xAA, sizeof info);
  EXPECT_EQ(valid(path.c_str(), reinterpret_cast<ValidFormatInfo*>(info)), 1);
  // No sub-record was saved: the counts and sizes behind the channels are 0.
  for (int i = 12; i < 18; ++i) EXPECT_EQ(info[i], 0u) << "info field " << i;
  EXPECT_EQ(procedure(path.c_str()), 3);

  TestRecord out;
  out.SetFilePath(path.c_str());
  EXPECT_EQ(fetch(&out), 1);
  plugin.Fn<PluginModule::Void>("LIBSTOP")();
  EXPECT_STREQ(out.GetPatientName(), in.GetPatientName());
  EXPECT_STREQ(out.GetStoredPatientId(), in.GetStoredPatientId());
  EXPECT_TRUE(out.GetHeight() == 7000 && out.GetProcedureType() == 3);  // 1778 mm in the file

  // After the last stop there is no service: every data export answers its
  // failure value.
  TestRecord late;
  EXPECT_EQ(save(&late, dir_.File("late.scp").c_str()), 0);
  EXPECT_EQ(valid(path.c_str(), nullptr), 0);
  EXPECT_EQ(procedure(path.c_str()), 7);
  EXPECT_FALSE(fs::exists(dir_.File("late.scp")));
}

}  // namespace
