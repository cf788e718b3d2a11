// Edge cases where files and host objects sit at the limits of their
// fields: short length words, oversized counts, wrapping values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "codec_section_fixture.h"

// One allocation, of a chosen size or the n-th from now, fails once armed;
// the rest go to malloc and free (which GCC's pairing check cannot see
// through) and are counted while alive.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
static size_t g_failSize = 0;
static int g_failAt = 0;
static long g_live = 0;
void* operator new(size_t n) {
  if ((g_failSize != 0 && n == g_failSize) || (g_failAt > 0 && --g_failAt == 0)) {
    g_failSize = 0;
    g_failAt = 0;
    throw std::bad_alloc();
  }
  void* p = std::malloc(n ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  ++g_live;
  return p;
}
void operator delete(void* p) noexcept {
  if (p != nullptr) --g_live;
  std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
// The array and nothrow forms too: a sanitizer runtime would otherwise
// supply its own, which neither count nor fail, and whose blocks the free
// above cannot take.
void* operator new[](size_t n) { return operator new(n); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return operator new(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete(p); }

namespace {

using recb::Bytes;

class Fidelity : public CodecSectionTest {};

// A length word below 4 in section 150: the payload behind it is read, and
// then no data remains for a second record.
TEST_F(Fidelity, HolterLengthWordBelowFourReadsThePayloadOnce) {
  TestRecord rec;
  auto* cfg = new HolterConfig;
  rec.SetHolterConfig(cfg);
  Read(recb::Wrap(150, Bytes().u32(0xFFFFFFFF).u32(0).u32(1234).u32(12).zeros(700).v), &ScpEcg::GetHolterCfgData, rec);
  EXPECT_EQ(cfg->sizeWord, 1234u);
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4134, "GetHolterCfgData: invalid record - too short")) << cap.Dump();
}

// A section copy that cannot be allocated is an exception outside the
// checks: line 4835 alone. An index entry that cannot be made is skipped.
TEST_F(Fidelity, FailedAllocationsInTheReader) {
  const auto file = recb::Wrap({{130, Bytes().u32(1).zeros(1001).v}, {131, Bytes().u32(1).u32(8).v}});
  ScpEcg codec(nullptr, &log);
  g_failSize = sizeof(SectionEntry);
  ASSERT_TRUE(recb::OpenBytes(codec, dir, file));
  EXPECT_EQ(g_failSize, 0u) << "the first entry was refused";
  uint32_t length = 0;
  EXPECT_NE(codec.GetSection(131, &length), nullptr);
  EXPECT_EQ(length, 8u);
  g_failSize = 16 + 1005 + 1;  // the padded section 130
  EXPECT_EQ(codec.GetSection(130, &length), nullptr);
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has("LOGMEMORYERROR", "scpecg", 4835, "")) << cap.Dump();
}

// Section 1 without room for its fields is left out, with the message of a
// section 1 that is not written.
TEST_F(Fidelity, DemographicsWithoutRoomAreReported) {
  TestRecord rec;
  const auto file = Save(rec, &ScpEcg::PutDemographics, ScpEcg::kEmptyRecordSize + 16 + 8);
  EXPECT_EQ(recb::EntryOf(file, 1)->length, 0u);
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 2311, "SCP-ECG: PutDemographics")) << cap.Dump();
}

// A constructor whose k-th allocation fails leaves nothing allocated.
TEST(FidelityAllocation, ConstructorsThatThrowLeaveNothingBehind) {
  void (*const makers[])() = {[] { delete new HolterConfig; }, [] { delete new HolterBlock1; },
                              [] { delete new HolterBlock4; }, [] { delete new ComplexData(24, 100); },
                              [] { delete new ComplexLead(1, 100); }};
  for (auto make : makers) {
    for (int k = 1;; ++k) {
      const long before = g_live;
      g_failAt = k;
      bool threw = false;
      try {
        make();
      } catch (const std::bad_alloc&) {
        threw = true;
      }
      g_failAt = 0;
      ASSERT_EQ(g_live, before) << "allocation " << k;
      if (!threw) break;
    }
  }
}

}  // namespace
