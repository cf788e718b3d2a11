// The table decoder with 8-bit escapes taken by a table row chosen without a branch: for leads
// where they are common. Compiled on its own: see
// sample_decode_kernel.h.

#include "scp/sample_decode_kernel.h"

namespace scpcodec::fast {

void DecodeLeadRows(int16_t* dest, uint32_t destCount, const uint8_t* lead, uint32_t byteCount,
                    bool secondDifference) {
  DecodeLeadWith<true>(dest, destCount, lead, byteCount, secondDifference);
}

void DecodeGroupRows(LeadSpan* group, uint32_t count, uint32_t destCount, const uint8_t* src,
                     bool secondDifference) {
  DecodeGroupWith<true>(group, count, destCount, src, secondDifference);
}

}  // namespace scpcodec::fast
