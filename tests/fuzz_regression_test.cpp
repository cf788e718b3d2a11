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

}  // namespace
