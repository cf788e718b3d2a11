// The table-driven sample decoder: which variant decodes which leads (see
// sample_decode_kernel.h for how it decodes).

#include <algorithm>
#include <cstdint>

#if SCP_DECODE_SSE2_VARIANTS
#include <cpuid.h>
#endif

#include "scp/sample_codec.h"
#include "scp/sample_decode_kernel.h"
#include "scp/sample_lanes.h"

namespace scpcodec::fast {
namespace {

// Whether the group's destinations are pairwise apart, as a one-at-a-time
// order needs them to be for the same result.
bool Disjoint(const LeadSpan* group, uint32_t size, uint32_t destCount) {
  for (uint32_t i = 0; i < size; ++i) {
    if (group[i].dest == nullptr) return false;
    for (uint32_t j = 0; j < i; ++j) {
      const auto [lo, hi] = std::minmax(group[i].dest, group[j].dest);
      if (static_cast<size_t>(hi - lo) < destCount) return false;
    }
  }
  return true;
}

// The variants' entry points in the lanes this processor runs best.
struct Variants {
  DecodeLeadFn *leadRows, *leadBranching;
  DecodeGroupFn *groupRows, *groupBranching;
  bool vectorLanes;
};

#if SCP_DECODE_SSE2_VARIANTS
bool HasSse2() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (edx & bit_SSE2) != 0;
}
#endif

const Variants& Chosen() {
  static const Variants chosen = [] {
#if SCP_DECODE_SSE2_VARIANTS
    // The processor query runs once; the choice never changes within a process.
    if (HasSse2())
      return Variants{DecodeLeadRowsSse2, DecodeLeadBranchingSse2, DecodeGroupRowsSse2, DecodeGroupBranchingSse2,
                      true};
#endif
    return Variants{DecodeLeadRows, DecodeLeadBranching, DecodeGroupRows, DecodeGroupBranching, kVectorLanes};
  }();
  return chosen;
}

// The group takes escape rows by the codes' length over all its leads.
void DecodeGroup(LeadSpan* group, uint32_t count, uint32_t destCount, const uint8_t* src, bool secondDifference) {
  uint64_t bytes = 0;
  for (uint32_t k = 0; k < count; ++k) bytes += group[k].byteCount;
  const Variants& v = Chosen();
  (EscapeRows(bytes, uint64_t{destCount} * count) ? v.groupRows : v.groupBranching)(group, count, destCount, src,
                                                                                    secondDifference);
}

}  // namespace

uint32_t decodeLead(const HuffmanMode& mode, int16_t* dest, uint32_t destCount, const uint8_t* src,
                    uint32_t offset, uint32_t byteCount, bool secondDifference) {
  const uint8_t* lead = src + offset;
  if (!mode.huffman) return DecodePlain(dest, destCount, lead, byteCount, secondDifference);
  const Variants& v = Chosen();
  (EscapeRows(byteCount, destCount) ? v.leadRows : v.leadBranching)(dest, destCount, lead, byteCount,
                                                                    secondDifference);
  return destCount;
}

void decodeLeads(const HuffmanMode& mode, LeadSpan* leads, uint32_t leadCount, uint32_t destCount,
                 const uint8_t* src, bool secondDifference) {
  // Leads go in turn only with vector lanes: with the plain lanes struct
  // their lanes do not fit the registers together, and one lead at a time
  // is faster (Holter: 4 times). The SSE2 variants of 32-bit x86 builds go
  // in turn too: there, three Holter leads in turn take as many
  // instructions as one at a time (1.13 against 1.12 million for 60,000
  // samples, counted under qemu-i386), and the leads' independent steps
  // can overlap.
  const bool together = Chosen().vectorLanes && mode.huffman;
  uint32_t i = 0;
  while (i < leadCount) {
    LeadSpan* group = leads + i;
    const uint32_t left = leadCount - i;
    if (together && left >= 3 && Disjoint(group, 3, destCount)) {
      DecodeGroup(group, 3, destCount, src, secondDifference);
      i += 3;
    } else if (together && left >= 2 && Disjoint(group, 2, destCount)) {
      DecodeGroup(group, 2, destCount, src, secondDifference);
      i += 2;
    } else {
      group->delivered = group->dest ? fast::decodeLead(mode, group->dest, destCount, src, group->offset,
                                                        group->byteCount, secondDifference)
                                     : 0;
      ++i;
    }
  }
}

}  // namespace scpcodec::fast
