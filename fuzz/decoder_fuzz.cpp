// Both sample decoders on the same raw lead: they must deliver the same
// count and the same samples without touching memory outside the lead or
// the destination; optionally the bytes also go round through both
// encoders. Input layout and checks: RunDecoders in fuzz_targets.h.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return scpfuzz::Verdict(scpfuzz::RunDecoders(data, size));
}
