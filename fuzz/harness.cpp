// One libFuzzer harness per entry point of fuzz_targets.h, built from this
// file with SCP_FUZZ_RUN naming the entry point (see CMakeLists.txt): the
// format check, the procedure type, the fetch, both sample decoders, one
// section reader. Input layouts and checks are in fuzz_targets.h.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  scpfuzz::Service();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return scpfuzz::Verdict(scpfuzz::SCP_FUZZ_RUN(data, size));
}
