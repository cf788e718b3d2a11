// FETCHTEST on the input as a file, into a record with every sub-record
// attached (small or generous set, picked by the input's first byte).
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  scpfuzz::Service();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return scpfuzz::Verdict(scpfuzz::RunFetch(data, size));
}
