// The codec where files and memory give out: a length word too short to
// hold its record, allocations that fail while reading, and writers called
// without a buffer or a waveform (states a save never creates, so only the
// codec reaches them).
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "codec_section_fixture.h"

// One allocation of a chosen size fails once armed; the rest go to malloc
// and free (which GCC's pairing check cannot see through).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
static size_t g_failSize = 0;
void* operator new(size_t n) {
  if (g_failSize != 0 && n == g_failSize) {
    g_failSize = 0;
    throw std::bad_alloc();
  }
  void* p = std::malloc(n ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { operator delete(p); }
// The array and nothrow forms too: a sanitizer runtime would otherwise
// supply its own, whose blocks the free above cannot take.
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

class Fidelity : public CodecSectionTest {
 protected:
  std::vector<std::string> Lines() {
    std::vector<std::string> out;
    for (const auto& l : cap.Messages())
      out.push_back(l.call + " " + l.source + ":" + std::to_string(l.line) + (l.hasText ? " " + l.text : ""));
    cap.Clear();
    return out;
  }
};

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
  g_failSize = 1005 + 1;  // the padded section 130 past its ID header
  EXPECT_EQ(codec.GetSection(130, &length), nullptr);
  ASSERT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has("LOGMEMORYERROR", "scpecg", 4835, "")) << cap.Dump();
}

TEST_F(Fidelity, WritersWithoutBufferOrWaveform) {
  using V = std::vector<std::string>;
  TestRecord rec;
  {
    ScpEcg codec(nullptr, &log);
    codec.PutDemographics(&rec);
    EXPECT_EQ(Lines(), (V{"LOGOEMERROR scpecg:4445 SCP-ECG: Buffer NULL", "LOGOEMERROR scpecg:2311 SCP-ECG: PutDemographics"}));
    EXPECT_EQ(codec.PutLeadDefinition(&rec), nullptr);
    EXPECT_EQ(Lines(), (V{"LOGOEMERROR scpecg:4445 SCP-ECG: Buffer NULL", "LOGOEMERROR scpecg:2513 SCP-ECG: PutLeadDefinition"}));
  }
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.FormatRecordHeader(100000));
  EXPECT_EQ(codec.PutLeadDefinition(&rec), nullptr);
  EXPECT_EQ(Lines(), (V{"LOGOEMERROR scpecg:2511 SCP-ECG: no rd"}));
}

}  // namespace
