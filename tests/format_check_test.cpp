// The format check and the procedure type: what makes a file valid, what
// each damaged record logs, and what the procedure type walk reports for
// saved and hand-built records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "platform/platform.h"
#include "scp/scpsrv.h"
#include "scp/service.h"
#include "section1_fixture.h"
#include "support/log_capture.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<uint8_t>;
using s1test::Fields;

class FormatCheckTest : public ::testing::Test {
 protected:
  std::string Store(const Bytes& file, const std::string& name = "check.scp") {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(WriteFileBytes(path, file));
    return path;
  }
  // A record saved by the service, as its file bytes.
  Bytes Saved(TestRecord& r) {
    const std::string path = dir_.File("saved.scp");
    EXPECT_EQ(svc_.SaveTestRecord(&r, path.c_str()), 1);
    return ReadFileBytes(path);
  }
  bool Oem(const char* source, int line, const std::string& text) const {
    return cap_.Has("LOGOEMERROR", source, line, text);
  }
  // The file is refused by both operations, with their own lines.
  void ExpectRefused(const std::string& path) {
    ValidFormatInfo info{};
    EXPECT_EQ(svc_.IsValidFormat(path.c_str(), &info), 0);
    EXPECT_TRUE(Oem("scpsrv", 287, "IsValidFormat: [" + path + "]")) << cap_.Dump();
    EXPECT_EQ(svc_.GetProcedureType(path.c_str()), 7);
    EXPECT_TRUE(Oem("scpsrv", 310, "GetProcedureType")) << cap_.Dump();
  }

  s1test::ScopedConfigHome config_;
  TempDir dir_;
  LogCapture cap_;
  ScpService svc_{plat::ThisModule()};
};

TEST_F(FormatCheckTest, NullPathIsLoggedAsNull) {
  ValidFormatInfo info{};
  EXPECT_EQ(svc_.IsValidFormat(nullptr, &info), 0);
  EXPECT_TRUE(Oem("scpsrv", 287, "IsValidFormat: [null]")) << cap_.Dump();
  // A null path is not even handed to the reader.
  EXPECT_EQ(cap_.Messages().size(), 1u) << cap_.Dump();
}

TEST_F(FormatCheckTest, MissingFileIsRefused) { ExpectRefused(dir_.File("absent.scp")); }

TEST_F(FormatCheckTest, SavedRecordIsValidWithoutAnInfoBlock) {
  TestRecord r;
  const std::string path = Store(Saved(r));
  cap_.Clear();
  EXPECT_EQ(svc_.IsValidFormat(path.c_str(), nullptr), 1);
  EXPECT_TRUE(cap_.Messages().empty()) << cap_.Dump();
}

TEST_F(FormatCheckTest, AbsentManufacturerSectionsGiveZeroSizes) {
  TestRecord r;
  const std::string path = Store(Saved(r));
  ValidFormatInfo info;
  std::memset(&info, 0xAB, sizeof info);
  EXPECT_EQ(svc_.IsValidFormat(path.c_str(), &info), 1);
  EXPECT_EQ(info.complexCount, 0u);
  EXPECT_EQ(info.rhythmMeasCount, 0u);
  EXPECT_EQ(info.diaryPdfSize, 0u);
  EXPECT_EQ(info.reportPdfSize, 0u);
  EXPECT_EQ(info.holterCfgSize, 0u);
  EXPECT_EQ(info.holterCfgBlockSize, 0u);
  // Without rhythm data the shape is cleared too.
  EXPECT_EQ(info.longestLead, 0u);
  EXPECT_EQ(info.samplingRate, 0u);
  EXPECT_EQ(info.amplitudeMultiplier, 0u);
  EXPECT_EQ(info.leadCount, 0u);
}

// The format check reads Section 1 into a scratch record; a damaged Section 1
// shows in the log only.
TEST_F(FormatCheckTest, DamagedSection1DoesNotMakeTheFileInvalid) {
  const std::string path = Store(s1test::Section1File(Fields().u32(213, 3).v));
  EXPECT_EQ(svc_.IsValidFormat(path.c_str(), nullptr), 1);
  EXPECT_TRUE(Oem("scpecg", 1950, "Incorrect termination")) << cap_.Dump();
}

class SavedProcedureType : public FormatCheckTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(SavedProcedureType, IsReported) {
  TestRecord r;
  s1test::FillTypical(r);
  r.SetProcedureType(GetParam());
  const std::string path = Store(Saved(r));
  EXPECT_EQ(svc_.GetProcedureType(path.c_str()), GetParam() <= 6 ? static_cast<int>(GetParam()) : 7);
  EXPECT_EQ(cap_.Count("LOGOEMERROR"), 0u) << cap_.Dump();
}

INSTANTIATE_TEST_SUITE_P(Codes, SavedProcedureType, ::testing::Values(0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u));

struct Section1Case {
  const char* name;
  Bytes data;
  int code;
  int line;  // scpecg line of the expected walk message, or 0
  const char* text;
};

class HandBuiltProcedureType : public FormatCheckTest, public ::testing::WithParamInterface<Section1Case> {};

TEST_P(HandBuiltProcedureType, IsReported) {
  const Section1Case& k = GetParam();
  const std::string path = Store(s1test::Section1File(k.data));
  EXPECT_EQ(svc_.IsValidFormat(path.c_str(), nullptr), 1);
  cap_.Clear();
  EXPECT_EQ(svc_.GetProcedureType(path.c_str()), k.code);
  if (k.line) {
    EXPECT_TRUE(Oem("scpecg", k.line, k.text)) << cap_.Dump();
  } else {
    EXPECT_EQ(cap_.Count("LOGOEMERROR"), 0u) << cap_.Dump();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HandBuiltProcedureType,
    ::testing::Values(Section1Case{"Nine", Fields().u32(213, 9).end().v, 7, 0, ""},
                      Section1Case{"ThreeUnterminated", Fields().u32(213, 3).v, 7, 4341, "Incorrect termination"},
                      Section1Case{"NoTag213", Fields().text(0, "Smith").u8(8, 1).end().v, 2, 0, ""},
                      Section1Case{"Five", Fields().text(0, "Smith").u32(213, 5).end().v, 5, 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormatCheckTest, MissingSection1IsValidWithProcedureType2) {
  const std::string path = Store(s1test::Build({{8, Bytes(20, 0)}}));
  EXPECT_EQ(svc_.IsValidFormat(path.c_str(), nullptr), 1);
  cap_.Clear();
  EXPECT_EQ(svc_.GetProcedureType(path.c_str()), 2);
  EXPECT_TRUE(cap_.Has("LOGMEMORYERROR", "scpecg", 4344, "")) << cap_.Dump();
  // An absent section is no container error.
  EXPECT_EQ(cap_.Count("LOGOEMERROR"), 0u) << cap_.Dump();
}

// ------------------------------------------------------------ damaged files

struct RefusedCase {
  const char* name;
  void (*damage)(Bytes&);
  int line;
  const char* text;
};

class RefusedFile : public FormatCheckTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedFile, IsRefusedByBothChecks) {
  TestRecord r;
  Bytes file = Saved(r);
  GetParam().damage(file);
  ExpectRefused(Store(file));
  EXPECT_TRUE(Oem("scpecg", GetParam().line, GetParam().text)) << cap_.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Damage, RefusedFile,
    ::testing::Values(RefusedCase{"FileOf21Bytes", [](Bytes& f) { f.resize(21); }, 4422, "SCP: invalid size"},
                      // Section 0 claims 346 bytes from offset 6.
                      RefusedCase{"Section0PastTheFile", [](Bytes& f) { f.resize(300); }, 4416, "SCP: not SCP file"},
                      // A byte inside the pointer table.
                      RefusedCase{"Section0Crc", [](Bytes& f) { f[100] ^= 0x01; }, 4415, "SCP: header CRC"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormatCheckTest, RecordCrcAndLengthAreNotChecked) {
  TestRecord r;
  s1test::FillTypical(r);
  r.SetProcedureType(5);
  Bytes file = Saved(r);
  for (int i = 0; i < 6; ++i) file[i] ^= 0x5A;
  const std::string path = Store(file);
  EXPECT_EQ(svc_.IsValidFormat(path.c_str(), nullptr), 1);
  EXPECT_EQ(svc_.GetProcedureType(path.c_str()), 5);
  TestRecord out;
  out.SetFilePath(path.c_str());
  EXPECT_EQ(svc_.FetchTest(&out), 1);
  EXPECT_STREQ(out.GetPatientName(), r.GetPatientName());
  EXPECT_EQ(out.GetProcedureType(), 5u);
  EXPECT_EQ(cap_.Count("LOGOEMERROR"), 0u) << cap_.Dump();
}

TEST_F(FormatCheckTest, FlippedSection1ByteIsACrcError) {
  TestRecord r;
  s1test::FillTypical(r);
  Bytes file = Saved(r);
  // Section 1 starts right behind section 0; flip a byte of its data.
  ASSERT_EQ(s1test::Get16(file, 352 + 2), 1);
  file[352 + 16 + 5] ^= 0x40;
  const std::string path = Store(file);
  EXPECT_EQ(svc_.IsValidFormat(path.c_str(), nullptr), 1);
  EXPECT_TRUE(Oem("scpecg", 4830, "SCP-ECG: CRC error ( section 1 )")) << cap_.Dump();
  EXPECT_TRUE(cap_.Has("LOGSYSTEMERROR", "", -1, "SCP-ECG File does not contain Section 1")) << cap_.Dump();
  cap_.Clear();
  EXPECT_EQ(svc_.GetProcedureType(path.c_str()), 2);
  EXPECT_TRUE(Oem("scpecg", 4830, "SCP-ECG: CRC error ( section 1 )")) << cap_.Dump();
  EXPECT_TRUE(cap_.Has("LOGMEMORYERROR", "scpecg", 4344, "")) << cap_.Dump();
}

TEST_F(FormatCheckTest, PointerToAnotherSectionsHeader) {
  const Bytes s8(30, 0x11);
  std::vector<s1test::Pointer> table;
  for (uint16_t id : s1test::kStandardIds) {
    s1test::Pointer p{id, -1};
    if (id == 1 || id == 8) p.section = 0;  // both name the section 8 bytes
    table.push_back(p);
  }
  const std::string path = Store(s1test::BuildRaw(table, {{8, s8}}));
  EXPECT_EQ(svc_.IsValidFormat(path.c_str(), nullptr), 1);
  cap_.Clear();
  EXPECT_EQ(svc_.GetProcedureType(path.c_str()), 2);
  EXPECT_TRUE(Oem("scpecg", 4830, "SCP-ECG: id does not match pointer id ( section 1 )")) << cap_.Dump();
}

// A pointer table of 34 entries: the 34th is dropped with one message, so a
// Section 1 named only there cannot be read.
TEST_F(FormatCheckTest, ThirtyFourthPointerIsDropped) {
  const Bytes s1 = Fields().u32(213, 3).end().v;
  std::vector<s1test::Pointer> table;
  for (uint16_t id : s1test::kStandardIds) table.push_back({id == 1 ? uint16_t{200} : id, -1});
  table.push_back({1, 0});
  ASSERT_EQ(table.size(), 34u);
  const std::string path = Store(s1test::BuildRaw(table, {{1, s1}}));
  EXPECT_EQ(svc_.IsValidFormat(path.c_str(), nullptr), 1);
  cap_.Clear();
  EXPECT_EQ(svc_.GetProcedureType(path.c_str()), 2);
  EXPECT_EQ(cap_.Count("LOGOEMERROR"), 1u) << cap_.Dump();
  EXPECT_TRUE(Oem("scpecg", 4406, "SCP: too many section indices")) << cap_.Dump();

  // The same section named within the first 33 entries is read.
  table[1] = {1, 0};
  table.pop_back();
  EXPECT_EQ(svc_.GetProcedureType(Store(s1test::BuildRaw(table, {{1, s1}}), "33.scp").c_str()), 3);
}

// Random files of every length up to a little beyond section 0, and random
// tails behind a sound section 0: neither check may fail in any other way
// than by its result.
TEST_F(FormatCheckTest, RandomFilesAreCheckedCleanly) {
  std::mt19937 rng(777);
  TestRecord r;
  s1test::FillTypical(r);
  const Bytes saved = Saved(r);
  for (size_t n = 0; n < 420; ++n) {
    Bytes noise(n);
    for (auto& b : noise) b = static_cast<uint8_t>(rng());
    Bytes tail(saved.begin(), saved.begin() + std::min(saved.size(), n + 352));
    for (size_t i = 352; i < tail.size(); ++i) tail[i] = static_cast<uint8_t>(rng());
    for (const Bytes* file : {&noise, &tail}) {
      const std::string path = Store(*file);
      ValidFormatInfo info{};
      const int valid = svc_.IsValidFormat(path.c_str(), &info);
      const int code = svc_.GetProcedureType(path.c_str());
      ASSERT_TRUE(valid == 0 || valid == 1);
      ASSERT_GE(code, 0);
      ASSERT_LE(code, 7);
      if (file == &tail) {
        EXPECT_EQ(valid, 1) << n;
      } else if (n < 22) {
        EXPECT_EQ(valid, 0) << n;
      }
    }
    cap_.Clear();
  }
}

}  // namespace
