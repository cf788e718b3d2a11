// The reader of any producer's records on arbitrary bytes: it must stay
// within the data (the sanitizers watch), and every lead it decodes must
// hold exactly the samples its Section 3 entry spans.
#include <algorithm>
#include <cstdint>

#include "reader/scpreader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const scpreader::Record r = scpreader::Read({data, size});
  for (const scpreader::Lead& l : r.leads) {
    if (l.samples.empty()) continue;
    const uint32_t first = std::max<uint32_t>(l.startSample, 1);
    if (l.endSample < first || l.samples.size() != l.endSample - first + 1) __builtin_trap();
  }
  for (const scpreader::Problem& p : r.problems)
    if (p.lead >= static_cast<int>(r.leads.size())) __builtin_trap();
  return 0;
}
