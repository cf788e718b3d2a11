// The table decoder with 8-bit escapes taken by a branch: for leads where they are rare, so that
// the branch is foreseen. Compiled on its own: see
// sample_decode_kernel.h.

#include "scp/sample_decode_kernel.h"

namespace scpcodec::fast {

void DecodeLeadBranching(int16_t* dest, uint32_t destCount, const uint8_t* lead, uint32_t byteCount,
                    bool secondDifference) {
  DecodeLeadWith<false>(dest, destCount, lead, byteCount, secondDifference);
}

void DecodeGroupBranching(LeadSpan* group, uint32_t count, uint32_t destCount, const uint8_t* src,
                     bool secondDifference) {
  DecodeGroupWith<false>(group, count, destCount, src, secondDifference);
}

}  // namespace scpcodec::fast
