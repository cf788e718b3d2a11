// What a conversion takes from a read record: the stored leads (derived
// ones are printout aids, computed from I and II, and would only repeat
// data), laid out with one length, and the record's sample unit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reader/scpreader.h"

namespace scpecg {

struct ConvertLeads {
  std::vector<const scpreader::Lead*> leads;
  // Samples per lead on the record's time axis: a lead that starts late
  // (Section 3's first sample beyond 1) or ends early reads 0 outside its
  // samples, as the formats we write have one length for all.
  size_t samples = 0;
  static size_t Offset(const scpreader::Lead& l) { return l.startSample > 1 ? l.startSample - 1 : 0; }
  int32_t Sample(size_t lead, size_t i) const {
    const scpreader::Lead& l = *leads[lead];
    const size_t k = i - Offset(l);
    return i >= Offset(l) && k < l.samples.size() ? l.samples[k] : 0;
  }
};

ConvertLeads StoredLeads(const scpreader::Record& record);

// Microvolts of a nanovolt count as the shortest exact decimal ("-12.5").
std::string MicrovoltDecimal(int64_t nanovolts);

}  // namespace scpecg
