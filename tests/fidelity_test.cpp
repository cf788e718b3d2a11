// Edge cases where files and host objects sit at the limits of their
// fields: short length words, oversized counts, wrapping values.
#include <gtest/gtest.h>

#include <vector>

#include "codec_section_fixture.h"

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

}  // namespace
