#include "reader/record_parts.h"

namespace scpreader {

void DeriveLimbLeads(std::vector<Lead>* leads) {
  auto find = [&](uint16_t id) -> const Lead* {
    for (const Lead& l : *leads)
      if (l.id == id && !l.samples.empty()) return &l;
    return nullptr;
  };
  const Lead* one = find(1);
  const Lead* two = find(2);
  if (one == nullptr || two == nullptr || one->startSample != two->startSample ||
      one->samples.size() != two->samples.size())
    return;
  const std::vector<int32_t> a = one->samples, b = two->samples;
  const uint32_t start = one->startSample, end = one->endSample;
  struct Rule {
    uint16_t id;
    int ia, ib;  // twice the weights of I and II
  };
  for (const Rule& rule : {Rule{61, -2, 2}, Rule{62, -1, -1}, Rule{63, 2, -1}, Rule{64, -1, 2}}) {
    bool stored = false;
    for (const Lead& l : *leads) stored = stored || l.id == rule.id;
    if (stored) continue;
    Lead l;
    l.id = rule.id;
    l.name = LeadName(rule.id);
    l.startSample = start;
    l.endSample = end;
    l.derived = true;
    l.samples.resize(a.size());
    for (size_t k = 0; k < a.size(); ++k) {
      const int64_t twice = int64_t{rule.ia} * a[k] + int64_t{rule.ib} * b[k];
      // Halves rounded away from zero.
      l.samples[k] = static_cast<int32_t>(twice >= 0 ? (twice + 1) / 2 : -((-twice + 1) / 2));
    }
    leads->push_back(std::move(l));
  }
}

}  // namespace scpreader
