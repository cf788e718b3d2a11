// The table decoder with 8-bit escapes taken by a table row, in SSE2
// lanes: for 32-bit x86 builds, which are compiled without SSE2 and choose
// this at run time. The build compiles this file with SSE2 there only;
// elsewhere it is empty.

#include "scp/sample_decode_kernel.h"

#if SCP_DECODE_SSE2_VARIANTS
static_assert(SCP_VECTOR_LANES, "compiled with SSE2");
SCP_DECODE_VARIANT(true, DecodeLeadRowsSse2, DecodeGroupRowsSse2)
#endif
