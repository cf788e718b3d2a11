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
  // Samples per lead: the longest lead; shorter ones read as 0 beyond their
  // end (Section 3 lets leads end early, the formats we write do not).
  size_t samples = 0;
  int32_t Sample(size_t lead, size_t i) const {
    const std::vector<int32_t>& s = leads[lead]->samples;
    return i < s.size() ? s[i] : 0;
  }
};

ConvertLeads StoredLeads(const scpreader::Record& record);

// Microvolts of a nanovolt count as the shortest exact decimal ("-12.5").
std::string MicrovoltDecimal(int64_t nanovolts);

}  // namespace scpecg
