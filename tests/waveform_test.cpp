#include "lib/dbclient/waveform.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "lib/bytes.h"

namespace {

std::vector<uint8_t> FirstSlots(uint8_t n) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), uint8_t{0});
  return v;
}

// Shapes from no lead to all fourteen slots in any order: the header the
// host reads, the storage after it, and each lead's array on its slot.
TEST(EcgWaveform, LaysOutHeaderStorageAndChannels) {
  const struct {
    std::vector<uint8_t> slots;
    uint32_t s, rate, resolution;
  } shapes[] = {{{}, 100, 500, 5000},
                {{0}, 1000, 500, 5000},
                {{3, 1}, 10, 250, 1000},
                {FirstSlots(8), 5000, 500, 2500},
                {FirstSlots(11), 200, 1000, 4880},
                {FirstSlots(12), 5000, 500, 5000},
                {{13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2}, 30, 128, 5000},
                {FirstSlots(14), 2000, 1000, 1000},
                {{2, 0, 4, 6, 8, 10, 12, 1, 3, 5, 7, 9, 11, 13}, 7, 3, 1},
                {{5}, 0, 0, 0}};
  for (const auto& sh : shapes) {
    const auto n = static_cast<uint32_t>(sh.slots.size());
    SCOPED_TRACE(::testing::Message() << n << " leads of " << sh.s);
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

    // Header: total size, lead count, two zero words, then eleven lead
    // records (the leads past the eleventh have none).
    const uint8_t* h = w.Header();
    EXPECT_EQ(280 + w.storageSize, LoadU32(h));
    EXPECT_EQ(n, LoadU32(h + 4));
    EXPECT_EQ(0u, LoadU32(h + 8));
    EXPECT_EQ(0u, LoadU32(h + 12));
    for (uint32_t i = 0; i < 11; ++i) {
      const uint8_t* r = h + 16 + 24 * i;
      const bool recorded = i < n;
      const uint32_t want[6] = {sh.s, allocated, sh.rate, sh.resolution, recorded ? sh.slots[i] : 0u, 0};
      for (int k = 0; k < 6; ++k) EXPECT_EQ(recorded ? want[k] : 0u, LoadU32(r + 4 * k)) << "record " << i << " word " << k;
    }

    // Lead i's array is the i-th in the storage and sits on its slot; the
    // other slots have none.
    std::vector<bool> used(14);
    for (uint32_t i = 0; i < n; ++i) {
      EXPECT_EQ(sh.slots[i], w.LeadChannelSlot(i)) << i;
      EXPECT_EQ(w.sampleStorage + size_t{allocated} * i, w.Channel(sh.slots[i])) << i;
      used[sh.slots[i]] = true;
    }
    EXPECT_EQ(-1, w.LeadChannelSlot(n));
    for (uint32_t k = 0; k < 14; ++k)
      if (!used[k]) {
        EXPECT_EQ(nullptr, w.Channel(k)) << k;
      }
    EXPECT_EQ(nullptr, w.Channel(14));

    // Every lead fills to its allocated length without touching another's.
    for (uint32_t i = 0; i < n; ++i)
      for (uint32_t j = 0; j < allocated; ++j) w.Channel(sh.slots[i])[j] = static_cast<int16_t>(i * 1000 + j % 1000);
    for (uint32_t i = 0; i < n && allocated > 0; ++i) {
      EXPECT_EQ(static_cast<int16_t>(i * 1000), w.Channel(sh.slots[i])[0]);
      EXPECT_EQ(static_cast<int16_t>(i * 1000 + (allocated - 1) % 1000), w.Channel(sh.slots[i])[allocated - 1]);
    }
    EXPECT_EQ(n, w.LeadCount());
    w.SetValidSampleCount(sh.s);
    EXPECT_EQ(sh.s, w.GetValidSampleCount());
    EXPECT_EQ(sh.s, LoadU32(w.Header() + 12));
  }
}

// More leads than slots, a slot missing, no such slot, a slot used twice,
// storage beyond 32 bits: no storage, and zero answers.
TEST(EcgWaveform, RefusedShapesHaveNoStorageAndAnswerZero) {
  const struct {
    uint32_t n;
    std::vector<uint8_t> slots;
  } refused[] = {{15, FirstSlots(15)}, {3, {0, 1}}, {2, {0, 14}}, {3, {4, 2, 4}}};
  for (const auto& b : refused) {
    EcgWaveform w(b.n, 100, 500, 5000, b.slots);
    EXPECT_FALSE(w.HasStorage()) << b.n;
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
  EXPECT_FALSE(EcgWaveform(14, 0xFFFFFF00u, 1000, 1, FirstSlots(14)).HasStorage());
  // Without storage no channel is given, even with its slot set.
  EcgWaveform w(1, 10, 10, 10, FirstSlots(1));
  ASSERT_NE(nullptr, w.Channel(0));
  int16_t* storage = w.sampleStorage;
  w.sampleStorage = nullptr;
  EXPECT_EQ(nullptr, w.Channel(0));
  w.sampleStorage = storage;
}

}  // namespace
