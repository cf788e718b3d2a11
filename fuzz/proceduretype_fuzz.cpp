// GETPROCEDURETYPE on the input as a file.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  scpfuzz::Service();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return scpfuzz::Verdict(scpfuzz::RunProcedureType(data, size));
}
