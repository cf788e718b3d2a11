// One section reader at a time on fuzzed section data, inside a record
// whose container and CRCs are right so that the reader sees the bytes.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  scpfuzz::Service();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return scpfuzz::Verdict(scpfuzz::RunSection(data, size));
}
