#include "tools/scpecg/convert_leads.h"

#include <algorithm>

namespace scpecg {

ConvertLeads StoredLeads(const scpreader::Record& record) {
  ConvertLeads out;
  for (const scpreader::Lead& lead : record.leads) {
    if (lead.derived || lead.samples.empty()) continue;
    out.leads.push_back(&lead);
    out.samples = std::max(out.samples, ConvertLeads::Offset(lead) + lead.samples.size());
  }
  return out;
}

std::string MicrovoltDecimal(int64_t nanovolts) {
  const bool negative = nanovolts < 0;
  const uint64_t a = negative ? 0 - static_cast<uint64_t>(nanovolts) : static_cast<uint64_t>(nanovolts);
  std::string s = (negative ? "-" : "") + std::to_string(a / 1000);
  uint64_t frac = a % 1000;
  if (frac != 0) {
    std::string f = std::to_string(1000 + frac).substr(1);
    while (f.back() == '0') f.pop_back();
    s += "." + f;
  }
  return s;
}

}  // namespace scpecg
