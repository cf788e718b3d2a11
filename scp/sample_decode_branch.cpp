// The table decoder with 8-bit escapes taken by a branch: for leads where
// they are rare, so that the branch is foreseen. Compiled on its own: see
// sample_decode_kernel.h.

#include "scp/sample_decode_kernel.h"

SCP_DECODE_VARIANT(false, DecodeLeadBranching, DecodeGroupBranching)
