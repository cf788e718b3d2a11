// The fast encoder's variants. scpcodec::fast::encodeLead runs the widest
// one the processor has; each is callable here so that tests and fuzzers
// compare every variant with the portable encoder on any machine that runs
// it. All give the portable encoder's bytes and results.
#pragma once

#include <cstdint>

#include "scp/sample_codec.h"

namespace scpcodec::fast {

// Plain C++ with 16-byte lanes where the target has them: every target.
uint32_t encodeLeadBaseline(const RhythmEncoder& encoder, uint8_t* out, uint32_t offset, uint32_t room,
                            const int16_t* samples, uint32_t count);

// The Huffman part of a lead (after EncodeSettled) into out[0, room).
using HuffmanEncoder = uint32_t (*)(uint8_t* out, uint32_t room, const int16_t* samples, uint32_t count,
                                    bool secondDifference);

// 64-byte lanes (AVX-512), or null where this build or processor has none.
HuffmanEncoder Avx512Encoder();

}  // namespace scpcodec::fast
