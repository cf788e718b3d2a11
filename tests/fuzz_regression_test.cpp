// Replays every file of fuzz/regressions and fuzz/corpus through the entry
// points the fuzz harnesses drive (format check, procedure type, fetch into
// a record with every sub-record attached, both sample decoders, each
// section reader), so that a finding stays fixed in the ordinary test run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_targets.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

const fs::path kFuzzDir = fs::path(SCP_TEST_SOURCE_DIR) / "fuzz";

struct FuzzFile {
  std::string relative;  // e.g. "corpus/fetch/resting-small.scp"
  std::string name;      // a test name made of it
};

std::vector<FuzzFile> FuzzFiles() {
  std::vector<FuzzFile> files;
  for (const char* sub : {"regressions", "corpus"}) {
    const fs::path root = kFuzzDir / sub;
    if (!fs::is_directory(root)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
      const std::string rel = fs::relative(entry.path(), kFuzzDir).generic_string();
      std::string name;
      for (char c : rel) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      files.push_back({rel, name});
    }
  }
  std::sort(files.begin(), files.end(), [](const FuzzFile& a, const FuzzFile& b) { return a.relative < b.relative; });
  return files;
}

class FuzzFileReplay : public ::testing::TestWithParam<FuzzFile> {};

TEST_P(FuzzFileReplay, EveryEntryPointReturnsInRange) {
  const std::vector<uint8_t> bytes = ReadFileBytes((kFuzzDir / GetParam().relative).string());
  ASSERT_FALSE(bytes.empty() && fs::file_size(kFuzzDir / GetParam().relative) != 0) << "unreadable";
  const uint8_t* data = bytes.data();
  const size_t size = bytes.size();
  EXPECT_EQ("", scpfuzz::RunCheck(data, size));
  EXPECT_EQ("", scpfuzz::RunProcedureType(data, size));
  EXPECT_EQ("", scpfuzz::RunFetch(data, size));
  EXPECT_EQ("", scpfuzz::RunDecoders(data, size));
  EXPECT_EQ("", scpfuzz::RunSection(data, size));
}

INSTANTIATE_TEST_SUITE_P(Files, FuzzFileReplay, ::testing::ValuesIn(FuzzFiles()),
                         [](const ::testing::TestParamInfo<FuzzFile>& info) { return info.param.name; });

// The replay above passes vacuously on an empty tree; every harness must
// have seeds, and the regressions folder must be there.
TEST(FuzzCorpus, EveryHarnessHasSeeds) {
  for (const char* harness : {"check", "proceduretype", "fetch", "decoder", "section"}) {
    const fs::path dir = kFuzzDir / "corpus" / harness;
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    EXPECT_GT(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 0) << dir;
  }
  EXPECT_TRUE(fs::is_directory(kFuzzDir / "regressions"));
}

// The seeds of the format check come from the library's own writer: each
// must still be a record that the format check accepts, with its sections
// there to be summarized.
TEST(FuzzCorpus, WriterSeedsAreValidRecords) {
  int seen = 0;
  for (const auto& entry : fs::directory_iterator(kFuzzDir / "corpus" / "check")) {
    const std::vector<uint8_t> bytes = ReadFileBytes(entry.path().string());
    ValidFormatInfo info{};
    EXPECT_EQ(1, scpfuzz::Service().IsValidFormat(scpfuzz::WriteFileInput(bytes.data(), bytes.size()), &info))
        << entry.path();
    ++seen;
  }
  EXPECT_GE(seen, 5);
}

// Section inputs are built into records by the harness's own container
// builder; a reader must see exactly the bytes it was given, odd lengths
// included, and a section named twice or not at all must not confuse it.
class BuiltRecord : public ::testing::TestWithParam<size_t> {};

TEST_P(BuiltRecord, SectionsReadBackExactly) {
  const size_t n = GetParam();
  std::vector<uint8_t> a(n), b(n + 3);
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(i * 7 + 1);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(255 - i);
  const scpfuzz::SectionBytes sections[] = {{1, a}, {151, b}};
  const std::vector<uint8_t> rec = scpfuzz::BuildRecord(sections);
  ScpService& service = scpfuzz::Service();
  ScpEcg codec(&service, service.log());
  ASSERT_TRUE(codec.OpenRecord(scpfuzz::Scratch::Get().Write(rec.data(), rec.size())));
  for (const auto& [id, want] : {std::pair<uint16_t, const std::vector<uint8_t>*>{1, &a}, {151, &b}}) {
    uint32_t length = 0;
    std::unique_ptr<uint8_t[]> got = codec.GetSection(id, &length);
    if (want->empty()) {
      // A section of 16 bytes has no data and fails as damaged.
      EXPECT_EQ(nullptr, got);
      continue;
    }
    ASSERT_NE(nullptr, got) << "section " << id;
    ASSERT_EQ(want->size(), length);
    EXPECT_TRUE(std::equal(want->begin(), want->end(), got.get()));
  }
  uint32_t length = 0;
  EXPECT_EQ(nullptr, codec.GetSection(8, &length));
}

INSTANTIATE_TEST_SUITE_P(Lengths, BuiltRecord, ::testing::Values(0, 1, 2, 7, 300, 4095));

// The harness's CRC repair makes a mutated record readable again: a flipped
// data byte fails the section check until the repair bit is set.
TEST(FuzzInput, RepairBitPutsCrcsRight) {
  const std::vector<uint8_t> text{13, 6, 0, 'A', 'b', 'c', 'd', 'e', 0, 255, 0, 0};
  const scpfuzz::SectionBytes sections[] = {{1, text}};
  std::vector<uint8_t> rec = scpfuzz::BuildRecord(sections);
  rec[rec.size() - 7] ^= 0x20;  // 'c' -> 'C' inside Section 1
  for (uint8_t repair : {0, 2}) {
    rec[0] = static_cast<uint8_t>((rec[0] & ~2) | repair);
    TestRecord record;
    record.SetFilePath(scpfuzz::WriteFileInput(rec.data(), rec.size()));
    ASSERT_EQ(1, scpfuzz::Service().FetchTest(&record));
    EXPECT_STREQ(repair ? "AbCde" : "", record.GetDiagnosis()) << "repair bit " << int{repair};
  }
}

}  // namespace
