// Sub-records in JSON: complexes, rhythm measurements, trends, the audit
// trail, documents and the Holter configuration.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "lib/byte_cursor.h"
#include "lib/dbclient/testrecord.h"
#include "tools/scpecg/record_json.h"
#include "tools/scpecg/record_parts.h"
#include "tools/scpecg/scpfile.h"

namespace scpecg {

Json DumpComplex(const ComplexData& c) {
  Json o;
  o["recordLength"] = c.recordLength;
  o["value1"] = static_cast<int16_t>(c.value1);
  o["leadCount"] = c.leadCount;
  o["sampleCount"] = c.sampleCount;
  o["codeA"] = c.codeA;
  o["value5"] = c.value5;
  o["codeB"] = c.codeB;
  o["values7to15"] = Numbers(c.values7to15, 9);
  Json leads = Json::array();
  for (uint32_t k = 0; k < std::min<uint32_t>(c.leadCount, ComplexData::kMaxLeads); ++k) {
    const ComplexLead* lead = c.leads[k];
    Json l;
    l["leadCode"] = lead != nullptr ? lead->leadCode : 0;
    l["samples"] = lead != nullptr && lead->samples != nullptr ? Numbers(lead->samples, c.sampleCount) : Json::array();
    leads.push_back(std::move(l));
  }
  o["leads"] = std::move(leads);
  const ComplexMeasurements& m = c.measurements;
  Json mo;
  mo["m1"] = m.m1;
  mo["flag"] = m.flag;
  mo["m2to9"] = Numbers(m.m2to9, 8);
  mo["m10"] = m.m10;
  mo["m11to17"] = Numbers(m.m11to17, 7);
  Json groups = Json::array();
  for (const auto& g : m.groups) groups.push_back(Numbers(g, 61));
  mo["groups"] = std::move(groups);
  o["measurements"] = std::move(mo);
  const ComplexText& t = c.textBlock;
  Json to;
  to["t1"] = t.t1;
  to["t2"] = t.t2;
  to["text"] = FieldText(t.text, sizeof t.text);
  to["code"] = FieldText(t.code, sizeof t.code);
  to["t3"] = t.t3;
  to["t4"] = t.t4;
  o["text"] = std::move(to);
  return o;
}

void BuildComplexes(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Array(j, p, 0, TestRecord::kComplexSlots)) return;
  for (size_t i = 0; i < j.size(); ++i) {
    const std::string cp = At(p, i);
    const Json& x = j[i];
    if (!in.Object(x, cp,
                   {"recordLength", "value1", "leadCount", "sampleCount", "codeA", "value5", "codeB", "values7to15",
                    "leads", "measurements", "text"},
                   {"sampleCount", "leads"}))
      return;
    int64_t s = 0;
    if (!in.Int(x["sampleCount"], Key(cp, "sampleCount"), 0, 1000000, &s)) return;
    const Json& leads = x["leads"];
    if (!in.Array(leads, Key(cp, "leads"), 0, ComplexData::kMaxLeads)) return;
    auto c = std::make_unique<ComplexData>(static_cast<uint32_t>(leads.size()), static_cast<uint32_t>(s));
    if (x.contains("leadCount")) {
      int64_t n = 0;
      if (!in.Int(x["leadCount"], Key(cp, "leadCount"), 0, ComplexData::kMaxLeads, &n)) return;
      if (n != static_cast<int64_t>(leads.size()))
        return in.Fail(Key(cp, "leadCount"), "is " + std::to_string(n) + " but \"leads\" holds " +
                                                 std::to_string(leads.size()));
    }
    if (x.contains("value1")) {
      int32_t v = 0;
      if (!in.Number(x["value1"], Key(cp, "value1"), -32768, 32767, &v)) return;
      c->value1 = v;
    }
    if (!in.Field(x, cp, "codeA", 0, 4, &c->codeA) || !in.Field(x, cp, "value5", 0, kU32, &c->value5) ||
        !in.Field(x, cp, "codeB", 0, 2, &c->codeB) || !in.Fill(x, cp, "values7to15", 0, kU32, c->values7to15))
      return;
    for (size_t k = 0; k < leads.size(); ++k) {
      const std::string lp = At(Key(cp, "leads"), k);
      if (!in.Object(leads[k], lp, {"leadCode", "samples"}, {"samples"})) return;
      ComplexLead* lead = c->leads[k];
      if (lead == nullptr || (s > 0 && lead->samples == nullptr)) return in.Fail(lp, "no memory");
      if (!in.Field(leads[k], lp, "leadCode", 0, 20, &lead->leadCode)) return;
      std::vector<int16_t> v;
      if (!in.Numbers(leads[k]["samples"], Key(lp, "samples"), static_cast<size_t>(s), static_cast<size_t>(s), -32768,
                      32767, &v))
        return;
      std::copy(v.begin(), v.end(), lead->samples);
    }
    if (x.contains("measurements")) {
      const std::string mp = Key(cp, "measurements");
      const Json& m = x["measurements"];
      if (!in.Object(m, mp, {"m1", "flag", "m2to9", "m10", "m11to17", "groups"})) return;
      ComplexMeasurements& cm = c->measurements;
      if (!in.Field(m, mp, "m1", 0, kU32, &cm.m1) || !in.Field(m, mp, "flag", 0, 1, &cm.flag) ||
          !in.Field(m, mp, "m10", 0, kU32, &cm.m10) || !in.Fill(m, mp, "m2to9", 0, 65535, cm.m2to9) ||
          !in.Fill(m, mp, "m11to17", 0, 65535, cm.m11to17))
        return;
      std::vector<uint16_t> v;
      if (m.contains("groups")) {
        const std::string gp = Key(mp, "groups");
        if (!in.Array(m["groups"], gp, 15, 15)) return;
        for (size_t g = 0; g < 15; ++g) {
          if (!in.Numbers(m["groups"][g], At(gp, g), 61, 61, 0, 65535, &v)) return;
          std::copy(v.begin(), v.end(), cm.groups[g]);
        }
      }
    }
    if (x.contains("text")) {
      const std::string tp = Key(cp, "text");
      const Json& t = x["text"];
      if (!in.Object(t, tp, {"t1", "t2", "text", "code", "t3", "t4"})) return;
      ComplexText& ct = c->textBlock;
      if (!in.Field(t, tp, "t1", 0, kU32, &ct.t1) || !in.Field(t, tp, "t2", 0, kU32, &ct.t2) ||
          !in.Field(t, tp, "t3", 0, kU32, &ct.t3) || !in.Field(t, tp, "t4", 0, kU32, &ct.t4))
        return;
      std::string s2;
      if (t.contains("text")) {
        if (!in.Text(t["text"], Key(tp, "text"), sizeof ct.text, &s2)) return;
        std::memset(ct.text, 0, sizeof ct.text);
        std::memcpy(ct.text, s2.data(), s2.size());
      }
      if (t.contains("code")) {
        if (!in.Text(t["code"], Key(tp, "code"), sizeof ct.code, &s2)) return;
        std::memset(ct.code, 0, sizeof ct.code);
        std::memcpy(ct.code, s2.data(), s2.size());
      }
    }
    const uint32_t required = c->RequiredLength();
    if (x.contains("recordLength")) {
      int64_t len = 0;
      if (!in.Int(x["recordLength"], Key(cp, "recordLength"), 0, kU32, &len)) return;
      if (len < required)
        return in.Fail(Key(cp, "recordLength"), std::to_string(len) + " is too small for this complex (at least " +
                                                    std::to_string(required) + ")");
      c->recordLength = static_cast<uint32_t>(len);
    } else {
      c->recordLength = required;
    }
    if (!r.AddComplex(c.release())) return in.Fail(cp, "too many complexes");
  }
}

void BuildRhythms(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Array(j, p, 0, TestRecord::kRhythmSlots)) return;
  for (size_t i = 0; i < j.size(); ++i) {
    std::vector<uint32_t> w;
    if (!in.Numbers(j[i], At(p, i), RhythmMeasurement::kBlockSize / 4, RhythmMeasurement::kBlockSize / 4, 0, kU32, &w))
      return;
    if (w[0] != RhythmMeasurement::kBlockSize)
      return in.Fail(At(At(p, i), 0), "the first word is the block size and must be 672");
    auto m = std::make_unique<RhythmMeasurement>();
    ByteWriter block(m->Bytes(), RhythmMeasurement::kBlockSize);
    for (const uint32_t word : w) block.U32(word);
    if (!r.AddRhythm(m.release())) return in.Fail(At(p, i), "too many rhythm measurements");
  }
}

Json DumpTrend(const TrendRecord& t) {
  const uint32_t c = t.GetSampleCount(), v = t.GetValueCount();
  Json o;
  o["valueCount"] = v;
  Json times = Json::array(), values = Json::array();
  for (uint32_t s = 0; s < c; ++s) {
    times.push_back(t.GetTime(s));
    Json row = Json::array();
    for (uint32_t k = 0; k < v; ++k) row.push_back(t.values != nullptr ? t.values[size_t{s} * v + k] : 0);
    values.push_back(std::move(row));
  }
  o["times"] = std::move(times);
  o["values"] = std::move(values);
  return o;
}

void BuildTrends(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  std::vector<std::string> slots;
  for (int i = 0; i < TestRecord::kTrendSlots; ++i) slots.push_back(std::to_string(i));
  if (!in.Object(j, p, slots)) return;
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string tp = Key(p, it.key());
    const Json& x = it.value();
    if (x.is_null()) continue;
    if (!in.Object(x, tp, {"valueCount", "times", "values"}, {"valueCount", "times", "values"})) return;
    int64_t v = 0;
    if (!in.Int(x["valueCount"], Key(tp, "valueCount"), 0, TrendRecord::kMaxHostValues, &v)) return;
    std::vector<uint32_t> times;
    if (!in.Numbers(x["times"], Key(tp, "times"), 0, TrendRecord::kMaxSamples, 0, kU32, &times)) return;
    if (!in.Array(x["values"], Key(tp, "values"), times.size(), times.size())) return;
    auto t = std::make_unique<TrendRecord>(static_cast<uint32_t>(v));
    if (t->dataBlock == nullptr) return in.Fail(tp, "no memory");
    for (size_t s = 0; s < times.size(); ++s) {
      std::vector<int32_t> row;
      if (!in.Numbers(x["values"][s], At(Key(tp, "values"), s), static_cast<size_t>(v), static_cast<size_t>(v),
                      INT32_MIN, INT32_MAX, &row))
        return;
      t->AddSample(times[s], row);
    }
    r.SetTrendAt(std::stoi(it.key()), t.release());
  }
}

Json DumpAudit(const AuditTrail* a) {
  if (a == nullptr || a->count < 1) return nullptr;
  Json entries = Json::array();
  for (int32_t i = 0; i < std::min<int32_t>(a->count, AuditTrail::kSlots); ++i) {
    const AuditEntry* e = a->entries[i];
    if (e == nullptr) continue;
    Json o;
    o["year"] = e->year;
    o["month"] = e->month;
    o["day"] = e->day;
    o["hour"] = e->hour;
    o["minute"] = e->minute;
    o["milliseconds"] = e->milliseconds;
    o["actionCode"] = e->actionCode;
    o["text"] = TrimmedBytes(e->text, sizeof e->text);
    entries.push_back(std::move(o));
  }
  return Json{{"entries", std::move(entries)}};
}

void BuildAudit(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p, {"entries"}, {"entries"})) return;
  const std::string ep = Key(p, "entries");
  const Json& entries = j["entries"];
  if (!in.Array(entries, ep, 1, AuditTrail::kSlots)) return;
  AuditTrail* trail = r.GetAuditTrailRecord();
  if (trail == nullptr) return in.Fail(p, "the record has no audit trail");
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string ip = At(ep, i);
    const Json& x = entries[i];
    if (!in.Object(x, ip, {"year", "month", "day", "hour", "minute", "milliseconds", "actionCode", "text"},
                   {"year", "month", "day"}))
      return;
    AuditEntry* e = trail->entries[i];
    if (e == nullptr) return in.Fail(ip, "no memory");
    if (!in.Field(x, ip, "year", -32768, 32767, &e->year) || !in.Field(x, ip, "month", 0, 12, &e->month) ||
        !in.Field(x, ip, "day", 0, 31, &e->day))
      return;
    e->hour = e->minute = e->milliseconds = 0;
    e->actionCode = 1;
    std::memset(e->text, 0, sizeof e->text);
    if (!in.Field(x, ip, "hour", 0, 23, &e->hour) || !in.Field(x, ip, "minute", 0, 59, &e->minute) ||
        !in.Field(x, ip, "milliseconds", 0, 59999, &e->milliseconds) ||
        !in.Field(x, ip, "actionCode", 0, 3, &e->actionCode))
      return;
    if (x.contains("text")) {
      std::string t;
      if (!in.Text(x["text"], Key(ip, "text"), sizeof e->text, &t, true)) return;
      std::memcpy(e->text, t.data(), t.size());
    }
  }
  trail->SetCount(static_cast<int32_t>(entries.size()));
}

Json DumpDocument(const DocumentBuffer* d) {
  if (d == nullptr || d->length == 0 || d->data == nullptr) return nullptr;
  return Base64Encode(std::span<const uint8_t>(d->data, std::min(d->length, d->capacity)));
}

void BuildDocument(In& in, const Json& j, const std::string& p, TestRecord& r,
                   void (TestRecord::*attach)(DocumentBuffer*)) {
  if (j.is_null()) return;
  if (!j.is_string()) return in.Fail(p, "expected a base64 string or null, got " + TypeName(j));
  std::vector<uint8_t> bytes;
  if (!Base64Decode(j.get<std::string>(), &bytes)) return in.Fail(p, "is not valid base64");
  if (bytes.empty()) return in.Fail(p, "an empty document is not stored; use null");
  auto d = std::make_unique<DocumentBuffer>(static_cast<uint32_t>(bytes.size()));
  if (!d->SetContent(bytes)) return in.Fail(p, "no memory for the document");
  (r.*attach)(d.release());
}

Json DumpHolterConfig(const HolterConfig* h) {
  if (h == nullptr) return nullptr;
  Json o;
  o["sizeWord"] = h->sizeWord;
  o["version"] = h->version;
  if (h->block1) {
    Json b;
    b["values"] = Numbers(h->block1->values, 3);
    Json e = Json::array();
    for (const HolterCodedEntry* x : h->block1->entries)
      e.push_back(x ? Json::array({x->code, x->value}) : Json::array({0, 0}));
    b["entries"] = std::move(e);
    o["block1"] = std::move(b);
  }
  if (h->block2) {
    Json b;
    b["flags"] = Numbers(h->block2->flags, 5);
    b["values"] = Numbers(h->block2->values, 5);
    b["extra"] = Numbers(h->block2->extra, 2);
    o["block2"] = std::move(b);
  }
  if (h->block3) {
    Json b;
    b["values"] = Numbers(h->block3->values, 17);
    b["value68"] = h->block3->value68;
    b["flags"] = h->block3->flags;
    o["block3"] = std::move(b);
  }
  if (h->block4) {
    Json b;
    b["value"] = h->block4->value;
    Json e = Json::array();
    for (const HolterFlaggedEntry* x : h->block4->entries)
      e.push_back(x ? Json::array({x->flag, x->values[0], x->values[1], x->values[2]}) : Json::array({0, 0, 0, 0}));
    b["entries"] = std::move(e);
    o["block4"] = std::move(b);
  }
  if (h->block5) o["block5"] = Numbers(h->block5->values, 4);
  if (h->block6) o["block6"] = Numbers(h->block6->values, 18);
  o["closingFlag"] = h->closingFlag;
  return o;
}

void BuildHolterConfig(In& in, const Json& j, const std::string& p, TestRecord& r) {
  if (j.is_null()) return;
  if (!in.Object(j, p,
                 {"sizeWord", "version", "block1", "block2", "block3", "block4", "block5", "block6", "closingFlag"}))
    return;
  auto h = std::make_unique<HolterConfig>();
  if (!h->block1 || !h->block2 || !h->block3 || !h->block4 || !h->block5 || !h->block6) return in.Fail(p, "no memory");
  // A fetch always reads the current layout and reports version 13 (the
  // only version taken).
  if (!in.Field(j, p, "sizeWord", HolterConfig::kMinimumSizeWord, 16 * 1024 * 1024, &h->sizeWord) ||
      !in.Field(j, p, "version", HolterConfig::kCurrentVersion, HolterConfig::kCurrentVersion, &h->version) ||
      !in.Field(j, p, "closingFlag", 0, 1, &h->closingFlag))
    return;
  std::vector<uint32_t> v;
  if (j.contains("block1")) {
    const std::string bp = Key(p, "block1");
    const Json& b = j["block1"];
    if (!in.Object(b, bp, {"values", "entries"})) return;
    if (!in.Fill(b, bp, "values", 0, kU32, h->block1->values)) return;
    if (b.contains("entries")) {
      const std::string ep = Key(bp, "entries");
      if (!in.Array(b["entries"], ep, HolterBlock1::kEntries, HolterBlock1::kEntries)) return;
      for (size_t i = 0; i < HolterBlock1::kEntries; ++i) {
        if (!in.Numbers(b["entries"][i], At(ep, i), 2, 2, 0, kU32, &v)) return;
        if (v[0] > 13) return in.Fail(At(At(ep, i), 0), std::to_string(v[0]) + " is out of range (0 to 13)");
        h->block1->entries[i]->code = v[0];
        h->block1->entries[i]->value = v[1];
      }
    }
  }
  if (j.contains("block2")) {
    const std::string bp = Key(p, "block2");
    const Json& b = j["block2"];
    if (!in.Object(b, bp, {"flags", "values", "extra"})) return;
    if (!in.Fill(b, bp, "flags", 0, 1, h->block2->flags) || !in.Fill(b, bp, "values", 0, kU32, h->block2->values) ||
        !in.Fill(b, bp, "extra", 0, kU32, h->block2->extra))
      return;
  }
  if (j.contains("block3")) {
    const std::string bp = Key(p, "block3");
    const Json& b = j["block3"];
    if (!in.Object(b, bp, {"values", "value68", "flags"})) return;
    if (!in.Fill(b, bp, "values", 0, kU32, h->block3->values) ||
        !in.Field(b, bp, "value68", 0, kU32, &h->block3->value68) ||
        !in.Field(b, bp, "flags", 0, HolterBlock3::kStoredFlagBits, &h->block3->flags))
      return;
  }
  if (j.contains("block4")) {
    const std::string bp = Key(p, "block4");
    const Json& b = j["block4"];
    if (!in.Object(b, bp, {"value", "entries"})) return;
    if (!in.Field(b, bp, "value", 0, kU32, &h->block4->value)) return;
    if (b.contains("entries")) {
      const std::string ep = Key(bp, "entries");
      if (!in.Array(b["entries"], ep, HolterBlock4::kEntries, HolterBlock4::kEntries)) return;
      for (size_t i = 0; i < HolterBlock4::kEntries; ++i) {
        if (!in.Numbers(b["entries"][i], At(ep, i), 4, 4, 0, kU32, &v)) return;
        if (v[0] > 1) return in.Fail(At(At(ep, i), 0), std::to_string(v[0]) + " is out of range (0 to 1)");
        h->block4->entries[i]->flag = static_cast<uint8_t>(v[0]);
        for (int k = 0; k < 3; ++k) h->block4->entries[i]->values[k] = v[k + 1];
      }
    }
  }
  if (!in.Fill(j, p, "block5", 0, kU32, h->block5->values) || !in.Fill(j, p, "block6", 0, kU32, h->block6->values))
    return;
  r.SetHolterConfig(h.release());
}

}  // namespace scpecg
