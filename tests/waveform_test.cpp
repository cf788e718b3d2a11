#include "lib/dbclient/waveform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "lib/bytes.h"

namespace {

struct Shape {
  std::vector<uint8_t> slots;  // channel slot of each lead
  uint32_t s;
  uint32_t rate;
  uint32_t resolution;
};

class WaveformShapeTest : public ::testing::TestWithParam<Shape> {};

TEST_P(WaveformShapeTest, LaysOutHeaderStorageAndChannels) {
  const Shape& sh = GetParam();
  const uint32_t n = static_cast<uint32_t>(sh.slots.size());
  EcgWaveform w(n, sh.s, sh.rate, sh.resolution, sh.slots);
  ASSERT_TRUE(w.HasStorage());
  const uint32_t allocated = sh.s + sh.rate;
  EXPECT_EQ(allocated * n * 2, w.storageSize);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(w.sampleStorage), w.block + 280);
  EXPECT_EQ(n, w.LeadCount());
  EXPECT_EQ(n > 0 ? sh.s : 0u, w.SamplesPerLead());
  EXPECT_EQ(n > 0 ? allocated : 0u, w.AllocatedSamplesPerLead());
  EXPECT_EQ(n > 0 ? sh.rate : 0u, w.SamplingRate());
  EXPECT_EQ(n > 0 ? sh.resolution : 0u, w.AmplitudeResolution());
  EXPECT_EQ(0u, w.GetValidSampleCount());

  const uint8_t* h = w.Header();
  EXPECT_EQ(280 + w.storageSize, LoadU32(h));
  EXPECT_EQ(n, LoadU32(h + 4));
  EXPECT_EQ(0u, LoadU32(h + 8));
  EXPECT_EQ(0u, LoadU32(h + 12));
  const uint32_t recorded = std::min<uint32_t>(n, 11);
  for (uint32_t i = 0; i < 11; ++i) {
    const uint8_t* r = h + 16 + 24 * i;
    if (i < recorded) {
      EXPECT_EQ(sh.s, LoadU32(r)) << i;
      EXPECT_EQ(allocated, LoadU32(r + 4)) << i;
      EXPECT_EQ(sh.rate, LoadU32(r + 8)) << i;
      EXPECT_EQ(sh.resolution, LoadU32(r + 12)) << i;
      EXPECT_EQ(sh.slots[i], LoadU32(r + 16)) << i;
      EXPECT_EQ(0u, LoadU32(r + 20)) << i;
    } else {
      for (int b = 0; b < 24; ++b) EXPECT_EQ(0, r[b]) << i;
    }
  }

  // Lead i's array is the i-th in the storage and sits on its channel slot.
  std::vector<bool> used(14);
  for (uint32_t i = 0; i < n; ++i) {
    EXPECT_EQ(sh.slots[i], w.LeadChannelSlot(i)) << i;
    EXPECT_EQ(w.sampleStorage + size_t{allocated} * i, w.Channel(sh.slots[i])) << i;
    used[sh.slots[i]] = true;
  }
  EXPECT_EQ(-1, w.LeadChannelSlot(n));
  for (uint32_t k = 0; k < 14; ++k) {
    if (!used[k]) {
      EXPECT_EQ(nullptr, w.Channel(k)) << k;
    }
  }
  EXPECT_EQ(nullptr, w.Channel(14));

  // Every lead can be filled to its allocated length without touching
  // another lead's samples or the header.
  for (uint32_t i = 0; i < n; ++i) {
    int16_t* a = w.Channel(sh.slots[i]);
    for (uint32_t j = 0; j < allocated; ++j) a[j] = static_cast<int16_t>(i * 1000 + j % 1000);
  }
  for (uint32_t i = 0; i < n && allocated > 0; ++i) {
    const int16_t* a = w.Channel(sh.slots[i]);
    EXPECT_EQ(static_cast<int16_t>(i * 1000), a[0]);
    EXPECT_EQ(static_cast<int16_t>(i * 1000 + (allocated - 1) % 1000), a[allocated - 1]);
  }
  EXPECT_EQ(n, w.LeadCount());

  w.SetValidSampleCount(sh.s);
  EXPECT_EQ(sh.s, w.GetValidSampleCount());
  EXPECT_EQ(sh.s, LoadU32(w.Header() + 12));
}

std::vector<uint8_t> Slots(std::initializer_list<uint8_t> s) { return s; }
std::vector<uint8_t> FirstSlots(uint8_t n) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), uint8_t{0});
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Leads, WaveformShapeTest,
    ::testing::Values(Shape{{}, 100, 500, 5000}, Shape{Slots({0}), 1000, 500, 5000},
                      Shape{Slots({3, 1}), 10, 250, 1000}, Shape{FirstSlots(8), 5000, 500, 2500},
                      Shape{FirstSlots(11), 200, 1000, 4880},
                      Shape{FirstSlots(12), 5000, 500, 5000},  // standard 12-lead
                      Shape{Slots({13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2}), 30, 128, 5000},
                      Shape{FirstSlots(14), 2000, 1000, 1000},
                      Shape{Slots({2, 0, 4, 6, 8, 10, 12, 1, 3, 5, 7, 9, 11, 13}), 7, 3, 1},
                      Shape{Slots({5}), 0, 0, 0}));

struct BadArgs {
  uint32_t n;
  std::vector<uint8_t> slots;
};

void PrintTo(const BadArgs& b, std::ostream* os) {
  *os << b.n << " leads on slots";
  for (uint8_t s : b.slots) *os << ' ' << int(s);
}

class WaveformRefusedTest : public ::testing::TestWithParam<BadArgs> {};

TEST_P(WaveformRefusedTest, HasNoStorageAndAnswersZero) {
  const BadArgs& b = GetParam();
  EcgWaveform w(b.n, 100, 500, 5000, b.slots);
  EXPECT_FALSE(w.HasStorage());
  EXPECT_EQ(nullptr, w.block);
  EXPECT_EQ(0u, w.storageSize);
  EXPECT_EQ(0u, w.LeadCount());
  EXPECT_EQ(0u, w.SamplesPerLead());
  EXPECT_EQ(0u, w.SamplingRate());
  EXPECT_EQ(0u, w.AmplitudeResolution());
  for (uint32_t k = 0; k < 14; ++k) EXPECT_EQ(nullptr, w.Channel(k));
  EXPECT_EQ(-1, w.LeadChannelSlot(0));
  w.SetValidSampleCount(100);  // no header to update
  EXPECT_EQ(100u, w.GetValidSampleCount());
}

INSTANTIATE_TEST_SUITE_P(Arguments, WaveformRefusedTest,
                         ::testing::Values(BadArgs{15, FirstSlots(15)},  // more leads than slots
                                           BadArgs{3, Slots({0, 1})},    // a slot missing
                                           BadArgs{2, Slots({0, 14})},   // no such slot
                                           BadArgs{3, Slots({4, 2, 4})}  // slot used twice
                                           ));

TEST(EcgWaveform, ChannelIsNullWithoutStorageEvenWhenTheSlotIsSet) {
  EcgWaveform w(1, 10, 10, 10, Slots({0}));
  ASSERT_NE(nullptr, w.Channel(0));
  int16_t* storage = w.sampleStorage;
  w.sampleStorage = nullptr;
  EXPECT_EQ(nullptr, w.Channel(0));
  w.sampleStorage = storage;
}

TEST(EcgWaveform, StorageBeyond32BitsIsRefused) {
  EcgWaveform w(14, 0xFFFFFF00u, 1000, 1, FirstSlots(14));
  EXPECT_FALSE(w.HasStorage());
}

}  // namespace
