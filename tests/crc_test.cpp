#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "scp/crc.h"
#include "scp/scpecg.h"

namespace {

TEST(Crc, CheckValueOfBothRoutines) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(scpcrc::Portable(digits, 9), 0x29B1);
  EXPECT_EQ(scpcrc::Fast(digits, 9), 0x29B1);
  EXPECT_EQ(ScpEcg::ComputeCrc(digits, 0, 9), 0x29B1);
  EXPECT_EQ(scpcrc::Portable(digits, 0), 0xFFFF);
  EXPECT_EQ(scpcrc::Fast(digits, 0), 0xFFFF);
}

TEST(Crc, RoutinesAgreeOnEveryLengthUpTo4096) {
  std::mt19937 rng(1064);
  std::vector<uint8_t> buf(4096 + 7);
  for (auto& b : buf) b = static_cast<uint8_t>(rng());
  for (size_t n = 0; n <= 4096; ++n) {
    // Start at varying alignments too.
    const uint8_t* p = buf.data() + (n % 7);
    ASSERT_EQ(scpcrc::Portable(p, n), scpcrc::Fast(p, n)) << "length " << n;
  }
}

TEST(Crc, FirstOffsetIsHonoured) {
  const uint8_t data[] = {0xEE, 0xEE, '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(ScpEcg::ComputeCrc(data, 2, 9), 0x29B1);
}

}  // namespace
