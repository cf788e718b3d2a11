// Sections 129 (trends), 133 (complexes), 137 (rhythm measurements),
// 148/149/151 (documents) and 150 (Holter configuration) through the
// exports, as a host sees them:
//   - crafted sections in tests/data/mfr_records.txt, read into the
//     sub-records a case attaches, with the exact log and fetched fields;
//   - a save/fetch round trip over generated sub-records of every kind;
//   - a sweep that cuts each section of a saved record at many lengths and
//     expects exactly the message the walk over its records must give.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "lib/dbclient/complex.h"
#include "lib/dbclient/document.h"
#include "lib/dbclient/holtercfg.h"
#include "lib/dbclient/rhythmmeas.h"
#include "lib/dbclient/trend.h"
#include "support/plugin_cases.h"

namespace {

using scpfile::Bytes;
using scpfile::Hex;
using Sections = std::vector<std::pair<uint16_t, Bytes>>;

// Section 1 of every crafted record: procedure type 3, then the end tag.
const Bytes kSection1 = {0xd5, 0x04, 0x00, 0x03, 0x00, 0x00, 0x00, 0xff, 0x00, 0x00};

std::string List(auto begin, auto end) {
  std::string s;
  for (auto it = begin; it != end; ++it) {
    if (it != begin) s += ',';
    s += std::to_string(*it);
  }
  return s;
}

std::string DocText(const DocumentBuffer* d) {
  if (d == nullptr) return "none";
  std::string s = std::to_string(d->GetLength()) + ":";
  char hex[4];
  for (uint32_t i = 0; i < d->GetLength(); ++i) s += (std::snprintf(hex, sizeof hex, "%02x", d->GetData()[i]), hex);
  return s;
}

// Every stored field; with stored set, as it reads back: version 13, codes
// 1..13 or 0, flags 0 or 1, flag bits 0..24 over the target's higher bits.
std::vector<uint32_t> HolterFields(const HolterConfig& h, bool stored, uint32_t highBits = 0) {
  auto flag = [&](uint32_t x) { return stored ? uint32_t{x != 0} : x; };
  std::vector<uint32_t> f{h.sizeWord, stored ? 13 : h.version};
  f.insert(f.end(), std::begin(h.block1->values), std::end(h.block1->values));
  for (const HolterCodedEntry* e : h.block1->entries)
    f.insert(f.end(), {stored && (e->code < 1 || e->code > 13) ? 0 : e->code, e->value});
  for (uint8_t x : h.block2->flags) f.push_back(flag(x));
  f.insert(f.end(), std::begin(h.block2->values), std::end(h.block2->values));
  f.insert(f.end(), std::begin(h.block2->extra), std::end(h.block2->extra));
  f.insert(f.end(), std::begin(h.block3->values), std::end(h.block3->values));
  f.insert(f.end(),
           {h.block3->value68, stored ? (h.block3->flags & 0x01FFFFFFu) | (highBits & ~0x01FFFFFFu) : h.block3->flags,
            h.block4->value});
  for (const HolterFlaggedEntry* e : h.block4->entries)
    f.insert(f.end(), {flag(e->flag), e->values[0], e->values[1], e->values[2]});
  f.insert(f.end(), std::begin(h.block5->values), std::end(h.block5->values));
  f.insert(f.end(), std::begin(h.block6->values), std::end(h.block6->values));
  f.push_back(flag(h.closingFlag));
  return f;
}

// A fetched sub-record as text, by name: complexI, complexI.leadK,
// complexI.meas, complexI.text, rhythmI, trendI, diary, report, cfgblock,
// holter.
std::string Field(const TestRecord& r, const std::string& name) {
  const size_t dot = name.find('.');
  const std::string head = name.substr(0, dot), tail = dot == std::string::npos ? "" : name.substr(dot + 1);
  auto index = [&](const char* prefix) { return std::stoi(head.substr(std::strlen(prefix))); };
  if (head.rfind("complex", 0) == 0) {
    const ComplexData* c = r.GetComplexAt(index("complex"));
    if (c == nullptr) return "none";
    if (tail.empty()) {
      std::vector<int64_t> h{c->recordLength, c->value1, c->leadCount, c->sampleCount, c->codeA, c->value5, c->codeB};
      h.insert(h.end(), std::begin(c->values7to15), std::end(c->values7to15));
      return List(h.begin(), h.end());
    }
    if (tail.rfind("lead", 0) == 0) {
      const ComplexLead* l = c->GetLead(std::stoul(tail.substr(4)));
      return l ? std::to_string(l->leadCode) + ":" + List(l->samples, l->samples + c->sampleCount) : "none";
    }
    const ComplexMeasurements& m = c->measurements;
    if (tail == "meas")
      return List(&m.m1, &m.flag + 1) + "," + List(std::begin(m.m2to9), std::end(m.m2to9)) + "," +
             std::to_string(m.m10) + "," + List(std::begin(m.m11to17), std::end(m.m11to17)) + "," +
             std::to_string(m.groups[0][0]) + "," + std::to_string(m.groups[14][60]);
    const ComplexText& t = c->textBlock;
    return std::to_string(t.t1) + "," + std::to_string(t.t2) + "," + std::string(t.text, strnlen(t.text, 1024)) + "," +
           std::string(t.code, strnlen(t.code, 4)) + "," + std::to_string(t.t3) + "," + std::to_string(t.t4);
  }
  if (head.rfind("rhythm", 0) == 0) {  // words 0, 1, 2, 160, 161, 162 and 167 of the block
    const RhythmMeasurement* m = r.GetRhythmAt(index("rhythm"));
    if (m == nullptr) return "none";
    uint32_t w[168];
    std::memcpy(w, m->block, sizeof w);
    return List(w, w + 3) + "," + List(w + 160, w + 163) + "," + std::to_string(w[167]);
  }
  if (head.rfind("trend", 0) == 0) {  // count|times|values|per-value words
    const TrendRecord* t = r.GetTrendAt(index("trend"));
    if (t == nullptr) return "none";
    std::vector<int64_t> times, values, per;
    for (uint32_t s = 0; s < t->GetSampleCount(); ++s) {
      times.push_back(t->GetTime(s));
      for (uint32_t j = 0; j < t->GetValueCount(); ++j) values.push_back(t->GetValue(s, j));
    }
    if (t->GetSampleCount() > 8) return std::to_string(t->GetSampleCount()) + "|last " + std::to_string(times.back());
    return std::to_string(t->GetSampleCount()) + "|" + List(times.begin(), times.end()) + "|" +
           List(values.begin(), values.end());
  }
  if (head == "diary") return DocText(r.GetDiaryDocument());
  if (head == "report") return DocText(r.GetReportDocument());
  if (head == "cfgblock") return DocText(r.GetHolterConfigBlock());
  if (head == "holter" && r.GetHolterConfig()) {  // a choice of fields from every block
    const std::vector<uint32_t> all = HolterFields(*r.GetHolterConfig(), false);
    std::vector<uint32_t> f;
    for (int i : {0, 1, 2, 4, 5, 6, 19, 21, 25, 26, 32, 33, 49, 50, 51, 52, 53, 54, 152, 153, 156, 157, 174, 175})
      f.push_back(all[i]);
    return List(f.begin(), f.end());
  }
  return "<no field " + name + ">";
}

class MfrRecords : public PluginCases {
 protected:
  std::string Write(const std::string& name, const Bytes& file) {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(WriteFileBytes(path, file));
    return path;
  }
  // ISVALIDFORMAT's result, then the complex and rhythm counts and the four sizes of its info block.
  std::vector<uint32_t> Check(const std::string& path) {
    ValidFormatInfo info{};
    cap_.Clear();
    const auto result = static_cast<uint32_t>(check_(path.c_str(), &info));
    return {result,
            info.complexCount,
            info.rhythmMeasCount,
            info.diaryPdfSize,
            info.reportPdfSize,
            info.holterCfgSize,
            info.holterCfgBlockSize};
  }
  int Fetch(const std::string& path, TestRecord& rec) {
    rec.SetFilePath(path.c_str());
    cap_.Clear();
    return fetch_(&rec);
  }

};

// ------------------------------------------------------ crafted sections

// A sub-record that a case attaches to the record it fetches into.
void Attach(TestRecord& rec, std::istream& ls) {
  std::string kind;
  ls >> kind;
  auto doc = [&] {  // CAPACITY [LENGTH]: a document already holding LENGTH bytes 0xEE
    uint32_t capacity = 0, length = 0;
    ls >> capacity >> length;
    auto* d = new DocumentBuffer(capacity);
    EXPECT_TRUE(d->SetContent(Bytes(length, 0xEE)));
    return d;
  };
  if (kind == "complex") {  // N S [SLOT..]: slots 0..N-1, or the given ones, of S samples
    uint32_t n = 0, s = 0, slot = 0;
    ls >> n >> s;
    auto* c = new ComplexData(n, s);
    while (ls >> slot) c->SetLead(slot, new ComplexLead(0, s));
    rec.AddComplex(c);
  } else if (kind == "nocomplex") {
    rec.AddComplex(new ComplexData());
    rec.SetComplexAt(rec.GetComplexDataCount() - 1, nullptr);
  } else if (kind == "rhythm" || kind == "norhythm") {
    rec.AddRhythm(new RhythmMeasurement);
    if (kind == "norhythm") rec.SetRhythmAt(rec.GetRhythmCount() - 1, nullptr);
  } else if (kind == "trend") {  // SLOT VALUES [BASE]
    uint32_t slot = 0, v = 0, base = 0;
    ls >> slot >> v >> base;
    rec.SetTrendAt(static_cast<int32_t>(slot), new TrendRecord(v, base));
  } else if (kind == "diary") {
    rec.SetDiaryDocument(doc());
  } else if (kind == "report") {
    rec.SetReportDocument(doc());
  } else if (kind == "cfgblock") {
    rec.SetHolterConfigBlock(doc());
  } else if (kind == "holter") {
    rec.SetHolterConfig(new HolterConfig);
  } else {
    ADD_FAILURE() << "unknown sub-record " << kind;
  }
}

TEST_F(MfrRecords, EveryCraftedSection) {
  std::ifstream in(std::string(SCP_TEST_SOURCE_DIR) + "/tests/data/mfr_records.txt");
  ASSERT_TRUE(in);
  std::string line, name, op;
  Sections sections;
  std::unique_ptr<TestRecord> rec;
  std::vector<std::string> logs;
  int cases = 0, no = 0;
  std::string path;
  auto finish = [&] {  // compares the log of the last call of a case
    if (!op.empty()) {
      EXPECT_EQ(Messages(), logs) << "log of " << op << " in case " << name;
    }
    op.clear();
    logs.clear();
  };
  while (std::getline(in, line)) {
    ++no;
    std::istringstream ls(line);
    std::string key;
    if (!(ls >> key) || key[0] == '#') continue;
    SCOPED_TRACE("mfr_records.txt:" + std::to_string(no) + " case " + name);
    if (key == "case") {
      finish();
      ls >> name;
      sections = {{1, kSection1}};
      rec = std::make_unique<TestRecord>();
      path.clear();
      ++cases;
    } else if (key == "section") {
      int id = 0;
      ls >> id;
      sections.emplace_back(static_cast<uint16_t>(id), Hex(ls));
    } else if (key == "attach") {
      Attach(*rec, ls);
    } else if (key == "check" || key == "fetch") {  // check: the six counts and sizes of the info block
      finish();
      if (path.empty()) path = Write(name + ".scp", scpfile::BuildRecord(sections));
      op = key;
      std::vector<uint32_t> want;
      for (uint32_t v = 0; ls >> v;) want.push_back(v);
      EXPECT_EQ(key == "fetch" ? std::vector<uint32_t>{static_cast<uint32_t>(Fetch(path, *rec))} : Check(path), want);
    } else if (key == "log") {  // "log xN ..." stands for N equal lines
      std::string rest;
      std::getline(ls >> std::ws, rest);
      const size_t times = rest[0] == 'x' ? std::stoul(rest.substr(1)) : 1;
      logs.insert(logs.end(), times, times > 1 ? rest.substr(rest.find(' ') + 1) : rest);
    } else if (key == "field") {
      std::string field, want;
      ls >> field;
      std::getline(ls >> std::ws, want);
      EXPECT_EQ(Field(*rec, field), want) << field;
    } else {
      ADD_FAILURE() << "unknown key " << key;
    }
  }
  finish();
  EXPECT_GT(cases, 30);
}

// ------------------------------------------------------------ round trip

struct Gen {
  std::mt19937 rng;
  uint32_t operator()(uint32_t below = 0) { return below ? rng() % below : rng(); }
};

ComplexData* MakeComplex(Gen& g, uint32_t n, uint32_t s, uint32_t spareSlot) {
  auto* c = new ComplexData(n, s);
  if (spareSlot < ComplexData::kMaxLeads && c->GetLead(spareSlot) == nullptr)
    c->SetLead(spareSlot, new ComplexLead(0, s));
  c->value1 = static_cast<int16_t>(g());
  c->codeA = g(7);
  c->codeB = g(4);
  c->value5 = g();
  for (uint32_t& v : c->values7to15) v = g();
  for (ComplexLead* l : c->leads)
    if (l != nullptr) {
      l->leadCode = g(23);
      for (uint32_t i = 0; i < s; ++i) l->samples[i] = static_cast<int16_t>(g());
    }
  auto* words = reinterpret_cast<uint16_t*>(&c->measurements);
  for (size_t i = 0; i < sizeof c->measurements / 2; ++i) words[i] = static_cast<uint16_t>(g());
  c->measurements.flag = g(3);
  c->textBlock = {g(), g(), {}, {}, g(), g()};
  const uint32_t text = g(3) == 0 ? 1024 : g(1024), code = g(5);
  for (uint32_t i = 0; i < text; ++i) c->textBlock.text[i] = static_cast<char>('a' + g(26));
  for (uint32_t i = 0; i < code; ++i) c->textBlock.code[i] = static_cast<char>('A' + g(26));
  c->recordLength = c->RequiredLength() + g(4);  // odd lengths get the container's pad byte
  return c;
}

// What a complex reads back as: codes and flag as stored, samples of slots 0..n-1.
void ExpectComplex(const ComplexData& a, const ComplexData& b) {
  EXPECT_EQ(std::tie(a.recordLength, a.value1, a.leadCount, a.sampleCount, a.value5),
            std::tie(b.recordLength, b.value1, b.leadCount, b.sampleCount, b.value5));
  EXPECT_EQ(a.codeA <= 3 ? a.codeA : 4, b.codeA);
  EXPECT_EQ(a.codeB <= 1 ? a.codeB : 2, b.codeB);
  EXPECT_EQ(0, std::memcmp(a.values7to15, b.values7to15, sizeof a.values7to15));
  for (uint32_t k = 0; k < ComplexData::kMaxLeads; ++k) {
    if (a.leads[k] == nullptr) continue;
    EXPECT_EQ(std::min(a.leads[k]->leadCode, 20u), b.leads[k]->leadCode) << k;
    if (k < a.leadCount) {
      EXPECT_EQ(0, std::memcmp(a.leads[k]->samples, b.leads[k]->samples, 2 * a.sampleCount)) << k;
    }
  }
  ComplexMeasurements m = a.measurements;
  m.flag = m.flag != 0;
  EXPECT_EQ(0, std::memcmp(&m, &b.measurements, sizeof m));
  EXPECT_EQ(0, std::memcmp(&a.textBlock, &b.textBlock, sizeof a.textBlock));
}

void FillHolter(Gen& g, HolterConfig& h) {
  h.sizeWord = 690 + g(14);  // written back as held, below 696 too
  for (uint32_t& v : h.block1->values) v = g();
  for (HolterCodedEntry* e : h.block1->entries) *e = {g(16), g()};
  for (uint8_t& f : h.block2->flags) f = static_cast<uint8_t>(g(3));
  for (uint32_t& v : h.block2->values) v = g();
  for (uint32_t& v : h.block2->extra) v = g();
  for (uint32_t& v : h.block3->values) v = g();
  h.block3->value68 = g();
  h.block3->flags = g();
  h.block4->value = g();
  for (HolterFlaggedEntry* e : h.block4->entries) {
    e->flag = static_cast<uint8_t>(g(3));
    for (uint32_t& v : e->values) v = g();
  }
  for (uint32_t& v : h.block5->values) v = g();
  for (uint32_t& v : h.block6->values) v = g();
  h.closingFlag = g(2);
}

DocumentBuffer* MakeDoc(Gen& g, uint32_t length) {
  Bytes b(length);
  for (uint8_t& x : b) x = static_cast<uint8_t>(g());
  auto* d = new DocumentBuffer(length + g(3));
  EXPECT_TRUE(d->SetContent(b));
  return d;
}

// A record with sub-records of every kind, drawn at random.
struct Generated {
  TestRecord in;
  uint32_t trendValues[32] = {};
};

void Generate(Gen& g, Generated& r) {
  for (uint32_t i = 0, n = g(4); i < n; ++i) r.in.AddComplex(MakeComplex(g, g(4), g(30), g(3) ? 99 : g(24)));
  for (uint32_t i = 0, n = g(4); i < n; ++i) {
    auto* m = new RhythmMeasurement;
    for (size_t k = 8; k < RhythmMeasurement::kBlockSize; ++k) m->block[k] = static_cast<uint8_t>(g());
    m->SetVersion(g());
    r.in.AddRhythm(m);
  }
  if (g(4)) r.in.SetDiaryDocument(MakeDoc(g, 1 + g(3000)));
  if (g(4)) r.in.SetReportDocument(MakeDoc(g, 1 + g(300)));
  if (g(4)) r.in.SetHolterConfigBlock(MakeDoc(g, 1 + g(900)));
  if (g(4)) {
    r.in.SetHolterConfig(new HolterConfig);
    FillHolter(g, *r.in.GetHolterConfig());
  }
  for (int32_t slot = 0; slot < 32; ++slot) {
    if (g(3)) continue;
    const uint32_t v = g(5), base = g(50);
    auto* t = new TrendRecord(v, base);
    std::vector<int32_t> values(v);
    for (uint32_t s = 0, c = g(6); s < c; ++s) {
      for (int32_t& x : values) x = static_cast<int32_t>(g());
      t->AddSample(base + g(100000), values);
    }
    for (uint32_t j = 0; j < v; ++j) t->SetPerValue(j, g());
    r.in.SetTrendAt(slot, t);
    r.trendValues[slot] = v;
  }
}

TEST_F(MfrRecords, SavedSubRecordsFetchBackAsTheyWereStored) {
  uint32_t kinds[4] = {};  // complexes, rhythms, documents, trend samples seen
  for (uint32_t round = 1; round <= 12; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Gen g{std::mt19937(round)};
    Generated r;
    Generate(g, r);
    const std::string path = dir_.File("round" + std::to_string(round) + ".scp");
    cap_.Clear();
    ASSERT_EQ(save_(&r.in, path.c_str()), 1) << cap_.Dump();
    EXPECT_FALSE(cap_.HasText("LOGOEMERROR", "SCP-ECG: size limit")) << cap_.Dump();

    const TestRecord& in = r.in;
    kinds[0] += in.GetComplexDataCount();
    kinds[1] += in.GetRhythmCount();
    kinds[2] +=
        (in.GetDiaryDocument() != nullptr) + (in.GetReportDocument() != nullptr) + (in.GetHolterConfig() != nullptr);
    auto docWord = [](const DocumentBuffer* d) { return d ? d->GetLength() + 4 : 0u; };
    EXPECT_EQ(Check(path),
              (std::vector<uint32_t>{1, static_cast<uint32_t>(in.GetComplexDataCount()),
                                     static_cast<uint32_t>(in.GetRhythmCount()), docWord(in.GetDiaryDocument()),
                                     docWord(in.GetReportDocument()), in.GetHolterConfig() ? 704u : 0u,
                                     docWord(in.GetHolterConfigBlock())}));

    // Targets: complexes with the same lead slots, documents holding one
    // byte (an empty diary or report is not read), trends with other
    // value counts and base times.
    TestRecord out;
    for (int32_t i = 0; i < in.GetComplexDataCount(); ++i) {
      auto* c = new ComplexData();
      for (uint32_t k = 0; k < ComplexData::kMaxLeads; ++k)
        if (in.GetComplexAt(i)->leads[k]) c->SetLead(k, new ComplexLead(0, in.GetComplexAt(i)->sampleCount));
      out.AddComplex(c);
    }
    for (int32_t i = 0; i < in.GetRhythmCount(); ++i) out.AddRhythm(new RhythmMeasurement);
    for (auto [get, set] : {std::pair{&TestRecord::GetDiaryDocument, &TestRecord::SetDiaryDocument},
                            {&TestRecord::GetReportDocument, &TestRecord::SetReportDocument},
                            {&TestRecord::GetHolterConfigBlock, &TestRecord::SetHolterConfigBlock}}) {
      auto* d = new DocumentBuffer(4000);
      d->SetContent(Bytes{1});
      (out.*set)(d);
    }
    out.SetHolterConfig(new HolterConfig);
    const uint32_t high = 0xFE000000u | g(1u << 25);
    out.GetHolterConfig()->block3->flags = high;
    uint32_t outValues[32], outBase[32];
    for (int32_t slot = 0; slot < 32; ++slot) {
      outValues[slot] = g(6);
      outBase[slot] = g(50);
      out.SetTrendAt(slot, new TrendRecord(outValues[slot], outBase[slot]));
    }
    ASSERT_EQ(Fetch(path, out), 1);
    EXPECT_EQ(Messages(), std::vector<std::string>{});

    for (int32_t i = 0; i < in.GetComplexDataCount(); ++i) ExpectComplex(*in.GetComplexAt(i), *out.GetComplexAt(i));
    for (int32_t i = 0; i < in.GetRhythmCount(); ++i)
      EXPECT_EQ(0, std::memcmp(in.GetRhythmAt(i)->block, out.GetRhythmAt(i)->block, RhythmMeasurement::kBlockSize))
          << i;
    EXPECT_EQ(DocText(out.GetDiaryDocument()), in.GetDiaryDocument() ? DocText(in.GetDiaryDocument()) : "1:01");
    EXPECT_EQ(DocText(out.GetReportDocument()), in.GetReportDocument() ? DocText(in.GetReportDocument()) : "1:01");
    EXPECT_EQ(DocText(out.GetHolterConfigBlock()),
              in.GetHolterConfigBlock() ? DocText(in.GetHolterConfigBlock()) : "1:01");
    if (in.GetHolterConfig()) {
      EXPECT_EQ(HolterFields(*out.GetHolterConfig(), false), HolterFields(*in.GetHolterConfig(), true, high));
    }
    for (int32_t slot = 0; slot < 32; ++slot) {
      const TrendRecord* a = in.GetTrendAt(slot);
      const TrendRecord* b = out.GetTrendAt(slot);
      ASSERT_EQ(b->GetSampleCount(), a ? a->GetSampleCount() : 0u) << slot;
      kinds[3] += b->GetSampleCount();
      for (uint32_t s = 0; a && s < a->GetSampleCount(); ++s) {
        EXPECT_EQ(b->GetTime(s), a->GetTime(s) - outBase[slot]) << slot;
        for (uint32_t j = 0; j < outValues[slot]; ++j)
          EXPECT_EQ(b->GetValue(s, j), j < r.trendValues[slot] ? a->GetValue(s, j) : 0);
      }
    }
  }
  for (uint32_t seen : kinds) EXPECT_GT(seen, 10u);
}

// ---------------------------------------------------------- damage sweep

// The data of each section of a file, by id (pad byte included).
std::map<uint16_t, Bytes> SectionData(const Bytes& f) {
  std::map<uint16_t, Bytes> out;
  for (size_t e = 32; e + 10 <= 352; e += 10) {
    const uint32_t length = scpfile::U32(f, e + 2), at = scpfile::U32(f, e + 6) - 1;
    if (length >= 16)
      out[static_cast<uint16_t>(scpfile::U16(f, e))] = Bytes(f.begin() + at + 16, f.begin() + at + length);
  }
  return out;
}

struct Walk {
  uint16_t id;
  int tooShort, tooShort2;  // lines; the texts are common but for 150
  int probe;                // the probe's "too short" line; 0: a count probe (133, 137), -1: none (129)
};

// The message that reading data of n bytes must give, and where each record
// starts (its length word) when the data is whole.
std::string Expected(const Walk& w, const Bytes& d, size_t n, std::vector<int64_t>* starts) {
  const std::string pre = w.id == 150 ? "GetHolterCfgData: " : "";
  const std::string shortMsg =
      "LOGOEMERROR scpecg:" + std::to_string(w.tooShort) + " " + pre + "invalid record - too short";
  const std::string short2 =
      "LOGOEMERROR scpecg:" + std::to_string(w.tooShort2) + " " + pre + "invalid record - too short 2";
  const uint32_t count = scpfile::U32(d, 0);
  int64_t pos = 4;
  const auto size = static_cast<int64_t>(n);
  for (uint32_t i = 0; i < count; ++i) {
    if (size - pos < 4) return shortMsg;
    if (starts) starts->push_back(pos);
    const uint32_t length = scpfile::U32(d, pos);
    const bool framing3 = w.id >= 148;
    // 150 compares W with what remains counting the length word itself.
    const int64_t remains = size - pos - (framing3 && w.id != 150 ? 4 : 0);
    if (w.id == 129 ? pos + length > size : length > remains) return short2;
    pos += w.id == 129 ? length + 4 : framing3 ? 4 + length : length;
  }
  return "";
}

TEST_F(MfrRecords, EveryCutOfASavedSectionStopsWithItsMessage) {
  Gen g{std::mt19937(99)};
  TestRecord in;
  in.AddComplex(MakeComplex(g, 1, 3, 99));
  in.AddComplex(MakeComplex(g, 2, 2, 5));
  for (uint32_t version : {40, 41}) {
    in.AddRhythm(new RhythmMeasurement);
    in.GetRhythmAt(version - 40)->SetVersion(version);
  }
  in.SetDiaryDocument(MakeDoc(g, 9));
  in.SetReportDocument(MakeDoc(g, 10));
  in.SetHolterConfigBlock(MakeDoc(g, 3));
  in.SetHolterConfig(new HolterConfig);
  for (int32_t slot : {0, 2, 31}) {
    in.SetTrendAt(slot, new TrendRecord(2));
    in.GetTrendAt(slot)->AddSample(7, std::vector<int32_t>{1, 2});
  }
  const std::string whole = dir_.File("whole.scp");
  ASSERT_EQ(save_(&in, whole.c_str()), 1) << cap_.Dump();
  const auto sections = SectionData(ReadFileBytes(whole));

  const Walk walks[] = {{129, 3097, 3091, -1},   {133, 3320, 3319, 0},    {137, 3428, 3427, 0},
                        {148, 3937, 3936, 3997}, {149, 4034, 4033, 4094}, {150, 4134, 4133, 4194},
                        {151, 4231, 4230, 4291}};
  for (const Walk& w : walks) {
    const Bytes& d = sections.at(w.id);
    std::vector<int64_t> starts;
    ASSERT_EQ(Expected(w, d, d.size(), &starts), "") << w.id;
    int tried = 0;
    for (size_t n = 4; n < d.size(); n += 2) {  // odd data gets a pad byte: even sizes are all there are
      bool near = n < 16 || n % 101 == 0 || n + 8 > d.size();
      for (int64_t s : starts) near = near || (static_cast<int64_t>(n) + 6 > s && static_cast<int64_t>(n) < s + 12);
      if (!near) continue;
      ++tried;
      SCOPED_TRACE("section " + std::to_string(w.id) + " cut to " + std::to_string(n));
      Sections cut;
      for (const auto& [id, data] : sections)
        if (id != 0) cut.emplace_back(id, id == w.id ? Bytes(data.begin(), data.begin() + n) : data);
      const std::string path = Write("cut.scp", scpfile::BuildRecord(cut));
      const std::string want = Expected(w, d, n, nullptr);
      TestRecord out;
      for (int i = 0; i < 2; ++i) {
        out.AddComplex(new ComplexData(2, 3));
        out.AddRhythm(new RhythmMeasurement);
      }
      out.SetTrendAt(0, new TrendRecord(2));
      EXPECT_EQ(Fetch(path, out), 1);
      EXPECT_EQ(Messages(), want.empty() ? std::vector<std::string>{} : std::vector<std::string>{want});
      // A first record that is there whole is read before the damage.
      const bool first = static_cast<int64_t>(n) >= starts[0] + scpfile::U32(d, starts[0]);
      const bool read = w.id == 133   ? out.GetComplexAt(0)->value5 == in.GetComplexAt(0)->value5
                        : w.id == 137 ? out.GetRhythmAt(0)->GetVersion() == 40
                        : w.id == 129 ? out.GetTrendAt(0)->GetSampleCount() == 1
                                      : first;
      EXPECT_EQ(read, first);
      if (w.probe < 0) continue;
      const uint32_t got = Check(path)[w.id == 133 ? 1 : w.id == 137 ? 2 : w.id - 145];
      const bool tooShort = w.probe > 0 && n < 8;
      EXPECT_EQ(got, tooShort ? 0 : scpfile::U32(d, w.probe ? 4 : 0));
      const std::string probeShort = "LOGOEMERROR scpecg:" + std::to_string(w.probe) + " invalid record - too short";
      EXPECT_EQ(Messages(), tooShort ? std::vector<std::string>{probeShort} : std::vector<std::string>{});
    }
    EXPECT_GT(tried, 4) << w.id;
  }
}

}  // namespace
