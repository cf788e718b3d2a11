#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "lib/fileutil.h"
#include "scp/crc.h"
#include "scp/scpecg.h"
#include "scp/section_read.h"
#include "support/scp_file.h"
#include "support/test_util.h"

namespace {

// The check value, and every routine against the plain bit-by-bit
// definition on every length up to 4096, from varying alignments.
TEST(Crc, RoutinesAgreeWithTheBitwiseDefinition) {
  const uint8_t digits[] = {0xEE, 0xEE, '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(scpfile::BitCrc(digits + 2, 9), 0x29B1);
  EXPECT_EQ(ScpEcg::ComputeCrc(digits, 2, 9), 0x29B1);  // from the first offset
  EXPECT_EQ(scpcrc::Portable(digits, 0), 0xFFFF);
  EXPECT_EQ(scpcrc::Fast(digits, 0), 0xFFFF);
  std::mt19937 rng(1064);
  std::vector<uint8_t> buf(4096 + 7);
  for (auto& b : buf) b = static_cast<uint8_t>(rng());
  std::copy(digits + 2, digits + 11, buf.begin());
  for (size_t n = 0; n <= 4096; ++n) {
    const uint8_t* p = buf.data() + (n == 9 ? 0 : n % 7);
    const uint16_t want = scpfile::BitCrc(p, n);
    ASSERT_EQ(scpcrc::Portable(p, n), want) << "length " << n;
    ASSERT_EQ(scpcrc::Fast(p, n), want) << "length " << n;
    ASSERT_EQ(scpcrc::Carryless(p, n), want) << "length " << n;
  }
}

// The writer folds section CRCs into the record CRC; any split of a buffer
// must give the CRC of the whole.
TEST(Crc, CombineEqualsTheCrcOfTheJoinedBuffer) {
  std::mt19937 rng(2025);
  std::vector<uint8_t> buf(70000);
  for (auto& b : buf) b = static_cast<uint8_t>(rng());
  const size_t lengths[] = {0, 1, 2, 3, 15, 16, 17, 255, 256, 1023, 4096, 65535, 69999};
  for (size_t total : lengths) {
    const uint16_t whole = scpcrc::Fast(buf.data(), total);
    for (size_t cut : {size_t{0}, total / 3, total / 2, total}) {
      if (cut > total) continue;
      const uint16_t a = scpcrc::Fast(buf.data(), cut);
      const uint16_t b = scpcrc::Fast(buf.data() + cut, total - cut);
      EXPECT_EQ(scpcrc::Combine(a, b, total - cut), whole) << "total " << total << " cut " << cut;
    }
  }
  // Three pieces folded left to right.
  const uint16_t ab = scpcrc::Combine(scpcrc::Fast(buf.data(), 10), scpcrc::Fast(buf.data() + 10, 990), 990);
  EXPECT_EQ(scpcrc::Combine(ab, scpcrc::Fast(buf.data() + 1000, 5000), 5000), scpcrc::Fast(buf.data(), 6000));
}

// A section read in slices carries its CRC along: over every byte from the
// third on, whatever the length, including a flipped byte slices in.
TEST(Crc, ReadAlongGivesTheCrcOfTheBytesRead) {
  std::mt19937 rng(64);
  std::vector<uint8_t> bytes(600000);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  bytes[530000] ^= 0x10;
  TempDir dir;
  const std::string path = dir.File("section.bin");
  {
    FileUtil out;
    ASSERT_TRUE(out.SetFileName(path.c_str()) && out.OpenForWrite(true, nullptr));
    ASSERT_TRUE(out.Write(bytes.data(), static_cast<uint32_t>(bytes.size())));
  }
  for (uint32_t length : {3u, 70000u, 262144u, 262145u, 600000u}) {
    FileUtil in;
    ASSERT_TRUE(in.SetFileName(path.c_str()) && in.OpenForRead(nullptr));
    std::vector<uint8_t> read(length);
    uint16_t crc = 0xFFFF;
    ASSERT_EQ(ReadWithCrc(in, length, read.data(), nullptr, &crc, 2), length);
    EXPECT_TRUE(std::equal(read.begin(), read.end(), bytes.begin())) << length;
    EXPECT_EQ(crc, scpcrc::Portable(bytes.data() + 2, length - 2)) << length;
  }
  // Piece by piece from any register, as the slices are.
  EXPECT_EQ(scpcrc::Continue(scpcrc::Continue(0xFFFF, bytes.data(), 1000), bytes.data() + 1000, 99000),
            scpcrc::Portable(bytes.data(), 100000));
}

}  // namespace
