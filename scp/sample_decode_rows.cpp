// The table decoder with 8-bit escapes taken by a table row chosen without
// a branch: for leads where they are common. Compiled on its own: see
// sample_decode_kernel.h.

#include "scp/sample_decode_kernel.h"

SCP_DECODE_VARIANT(true, DecodeLeadRows, DecodeGroupRows)
