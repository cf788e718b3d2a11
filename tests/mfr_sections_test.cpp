// Manufacturer sections 130 to 147 and the sub-records they carry, through the
// plug-in's exports. Crafted sections and what a fetch makes of them, and
// sub-records and the section data a save writes, live in
// tests/data/mfr_sections.txt. Around them: a save/fetch round trip over
// generated sub-records, every cut of every written section, and the writers'
// size checks on a record buffer that is too small.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "lib/dbclient/audit.h"
#include "lib/dbclient/bloodpressure.h"
#include "lib/dbclient/episodes.h"
#include "lib/dbclient/pacemaker.h"
#include "lib/dbclient/spirometry.h"
#include "lib/eventlog.h"
#include "record_builder.h"
#include "support/plugin_cases.h"

namespace {

using scpfile::Bytes;
using scpfile::Hex;
using Fields = std::map<std::string, std::string>;

// What a target holds before a read, so that whatever a reader leaves shows.
constexpr uint8_t kMark = 0xA5;
constexpr uint32_t kMarkWord = 0xA5A5A5A5u;

// Memory as the manifest writes it: hex, runs of four or more as *N:XX.
std::string Blob(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  std::string out;
  char t[4];
  for (size_t i = 0, j; i < n; i = j) {
    for (j = i; j < n && b[j] == b[i];) ++j;
    std::snprintf(t, sizeof t, "%02x", b[i]);
    if (j - i < 4) j = i + 1;
    out += (out.empty() ? "" : " ") + (j - i >= 4 ? "*" + std::to_string(j - i) + ":" : "") + t;
  }
  return out;
}

std::string Num(int64_t v) { return std::to_string(v); }

// memset that takes the null array of an empty sub-record.
void Set(void* p, int byte, size_t n) {
  if (n) std::memset(p, byte, n);
}

// Every manufacturer sub-record the record holds, by field name, as text.
Fields State(const TestRecord& r) {
  Fields f;
  for (auto [key, l] : {std::pair{std::string("ann"), r.GetAnnotations()}, std::pair{std::string("pann"), r.GetPAnnotations()}}) {
    if (!l) continue;
    f[key] = Num(l->count) + " " + Num(l->readerReset) + " " + Num(l->valueA) + " " + Num(l->valueB);
    f[key + ".e"] = Blob(l->entries, l->capacity * 8);
    for (int x = 17; x < 20; ++x)
      if (l->extensions[x]) f[key + ".x" + Num(x)] = Blob(l->extensions[x], l->capacity * 20);
  }
  if (const EpisodeList* l = r.GetEpisodes()) {
    f["ep"] = Num(l->count) + " " + Num(l->readerReset);
    for (uint32_t i = 0; i < l->capacity; ++i) {
      const EpisodeEntry& e = l->entries[i];
      f["ep.e"] += (i ? " / " : "") + Num(e.value1) + " " + Num(e.value2) + " " + Num(e.value3) + " " + Num(e.value4) +
                   " " + Num(e.typeCode) + " " + Num(e.value5);
    }
    f["ep.store"] = Blob(l->textStore, l->textStoreCapacity);
  }
  if (const PacemakerList* l = r.GetPacemakerList()) f["pmk"] = Num(l->count) + " " + Blob(l->values, l->capacity * 4);
  if (const BloodPressureData* d = r.GetBloodPressureDataRecord())
    f["bpd"] = Num(d->count) + " " + Blob(d->readings, d->capacity * 280);
  if (const BloodPressureResults* b = r.GetBloodPressureResultsRecord()) f["bpr"] = Blob(b, 440);
  if (const SpirometryData* s = r.GetSpirometryDataRecord()) f["spiro"] = Blob(s->words, 424);
  for (int i = 0; i < r.GetSpirometryItemCount(); ++i) f["item" + Num(i)] = Blob(r.GetSpirometryItemAt(i)->words, 6264);
  if (const AuditTrail* t = r.GetAuditTrailRecord()) {
    f["audit"] = Num(t->count);
    for (uint32_t i = 0; i < AuditTrail::kSlots; ++i)
      if (const AuditEntry* e = t->entries[i])
        f["audit" + Num(i)] = Num(e->year) + " " + Num(e->month) + " " + Num(e->day) + " " + Num(e->hour) + " " +
                              Num(e->minute) + " " + Num(e->milliseconds) + " " + Num(e->actionCode) + " " +
                              Blob(e->text, 32);
  }
  return f;
}

// A target to read into: KIND and up to two numbers, every byte marked.
void Attach(TestRecord& r, const std::string& kind, uint32_t n = 0, uint32_t m = 0) {
  if (kind == "ann" || kind == "pann") {
    auto* l = new AnnotationList(n, m);
    Set(l->entries, kMark, n * 8);
    for (int x = 17; x < 20; ++x)
      if (l->extensions[x]) Set(l->extensions[x], kMark, n * 20);
    l->valueA = l->valueB = l->readerReset = kMarkWord;
    kind == "ann" ? r.SetAnnotations(l) : r.SetPAnnotations(l);
  } else if (kind == "ep") {
    auto* l = new EpisodeList(n, m);
    for (uint32_t i = 0; i < n; ++i) l->entries[i] = EpisodeEntry{kMarkWord, kMarkWord, kMarkWord, kMarkWord, kMarkWord, nullptr, kMarkWord};
    l->readerReset = kMarkWord;
    Set(l->textStore, kMark, m);
    r.SetEpisodes(l);
  } else if (kind == "pmk") {
    auto* l = new PacemakerList(n);
    l->count = n;
    Set(l->values, kMark, n * 4);
    r.SetPacemakerList(l);
  } else if (kind == "bpd") {
    auto* d = new BloodPressureData(n);
    d->count = n;
    Set(d->readings, kMark, n * 280);
    r.SetBloodPressureDataRecord(d);
  } else if (kind == "bpr") {
    auto* b = new BloodPressureResults();
    Set(static_cast<void*>(b), kMark, 440);
    r.SetBloodPressureResultsRecord(b);
  } else if (kind == "spiro") {
    auto* s = new SpirometryData();
    Set(s->words, kMark, 424);
    r.SetSpirometryDataRecord(s);
  } else if (kind == "items") {
    for (uint32_t i = 0; i < n; ++i) {
      auto* s = new SpirometryItem();
      Set(s->words, kMark, 6264);
      r.AddSpirometryItem(s);
    }
  } else {
    ADD_FAILURE() << "unknown target " << kind;
  }
}

// A sub-record to save, from a manifest line (see tests/data/mfr_sections.txt).
void Put(TestRecord& r, const std::string& kind, std::istream& a) {
  if (kind == "ann" || kind == "pann") {  // N A B MASK BYTE
    uint32_t n = 0, va = 0, vb = 0, mask = 0, byte = 0;
    a >> n >> va >> vb >> mask >> std::hex >> byte >> std::dec;
    auto* l = new AnnotationList(n, mask);
    l->count = n;
    l->valueA = va;
    l->valueB = vb;
    Set(l->entries, static_cast<int>(byte), n * 8);
    for (int x = 17; x < 20; ++x)  // array x holds BYTE + x - 16
      if (l->extensions[x]) Set(l->extensions[x], static_cast<int>(byte + x - 16), n * 20);
    kind == "ann" ? r.SetAnnotations(l) : r.SetPAnnotations(l);
  } else if (kind == "ep" || kind == "noep") {  // one more episode: V1 V2 V3 V4 TYPE V5 [TEXT]
    if (!r.GetEpisodes()) r.SetEpisodes(new EpisodeList(8, 0));
    if (kind == "noep") return;
    EpisodeList* l = r.GetEpisodes();
    EpisodeEntry& e = l->entries[l->count];
    std::string text;
    a >> e.value1 >> e.value2 >> e.value3 >> e.value4 >> e.typeCode >> e.value5 >> text;
    if (!text.empty()) l->SetText(l->count, text.c_str());
    ++l->count;
  } else if (kind == "pmk" || kind == "bpd") {  // N BYTE
    uint32_t n = 0, byte = 0;
    a >> n >> std::hex >> byte >> std::dec;
    if (kind == "pmk") {
      auto* l = new PacemakerList(n);
      l->count = n;
      Set(l->values, static_cast<int>(byte), n * 4);
      r.SetPacemakerList(l);
    } else {
      auto* d = new BloodPressureData(n);
      d->count = n;
      Set(d->readings, static_cast<int>(byte), n * 280);
      r.SetBloodPressureDataRecord(d);
    }
  } else if (kind == "bpr" || kind == "spiro") {  // the block, as bytes
    Bytes b = Hex(a);
    if (kind == "bpr") {
      r.SetBloodPressureResultsRecord(new BloodPressureResults());
      std::memcpy(static_cast<void*>(r.GetBloodPressureResultsRecord()), b.data(), std::min<size_t>(b.size(), 440));
    } else {
      r.SetSpirometryDataRecord(new SpirometryData());
      std::memcpy(r.GetSpirometryDataRecord()->words, b.data(), std::min<size_t>(b.size(), 424));
    }
  } else if (kind == "audit") {  // one more entry: Y M D H MIN MS CODE TEXT; "count N" sets the count
    AuditTrail* t = r.GetAuditTrailRecord();
    std::string first;
    a >> first;
    if (first == "count") {
      a >> t->count;
    } else if (first == "empty") {
      int slot = 0;
      a >> slot;
      delete t->entries[slot];
      t->entries[slot] = nullptr;
    } else {
      AuditEntry* e = t->entries[t->count++];
      e->year = std::stoi(first);
      std::string text;
      a >> e->month >> e->day >> e->hour >> e->minute >> e->milliseconds >> e->actionCode >> text;
      std::memcpy(e->text, text.data(), std::min<size_t>(text.size(), 32));
    }
  } else {
    ADD_FAILURE() << "unknown sub-record " << kind;
  }
}

Bytes Section1(uint32_t procedure) { return {0xd5, 4, 0, static_cast<uint8_t>(procedure), 0, 0, 0, 0xff, 0, 0}; }

class MfrSections : public PluginCases {
 protected:
  // Fetches file into back (targets attached already); the export's result.
  int Fetch(const Bytes& file, TestRecord& back) {
    cap_.Clear();
    EXPECT_TRUE(WriteFileBytes(path_, file));
    back.SetFilePath(path_.c_str());
    return fetch_(&back);
  }
  int Save(TestRecord& rec) {
    cap_.Clear();
    return save_(&rec, path_.c_str());
  }

  std::string path_ = dir_.File("record.scp");
};

TEST_F(MfrSections, EveryCaseOfTheManifest) {
  std::ifstream in(std::string(SCP_TEST_SOURCE_DIR) + "/tests/data/mfr_sections.txt");
  ASSERT_TRUE(in);
  std::string line, name;
  std::vector<std::pair<uint16_t, Bytes>> sections;
  std::vector<std::tuple<std::string, uint32_t, uint32_t>> targets;
  std::unique_ptr<TestRecord> rec, back;
  std::vector<std::string> want;
  bool saved = false, pending = false;
  int cases = 0;
  auto endCall = [&] {  // the log of the call before
    if (pending) {
      EXPECT_EQ(Messages(), want) << "case " << name;
    }
    want.clear();
    pending = false;
  };
  for (int no = 1; std::getline(in, line); ++no) {
    std::istringstream ls(line);
    std::string key;
    if (!(ls >> key) || key[0] == '#') continue;
    SCOPED_TRACE("mfr_sections.txt:" + Num(no) + " case " + name);
    if (key == "case") {
      endCall();
      ls >> name;
      ++cases;
      sections.clear();
      targets.clear();
      rec = std::make_unique<TestRecord>();
      back.reset();
      saved = false;
    } else if (key == "section") {
      int id = 0;
      ls >> id;
      sections.emplace_back(static_cast<uint16_t>(id), Hex(ls));
    } else if (key == "attach") {
      std::string kind;
      uint32_t n = 0, m = 0;
      ls >> kind >> n >> m;
      targets.emplace_back(kind, n, m);
    } else if (key == "put") {
      std::string kind;
      ls >> kind;
      Put(*rec, kind, ls);
    } else if (key == "save") {
      endCall();
      int result = -1;
      ls >> result;
      EXPECT_EQ(Save(*rec), result);
      saved = pending = true;
    } else if (key == "data") {  // ID HEX, or ID absent
      int id = 0;
      ls >> id;
      std::string rest;
      std::getline(ls >> std::ws, rest);
      std::istringstream hs(rest);
      const Bytes bytes = rest == "absent" ? Bytes{} : Hex(hs);
      const auto got = recb::DataOf(ReadFileBytes(path_), static_cast<uint16_t>(id));
      EXPECT_EQ(got ? Blob(got->data(), got->size()) : "absent", rest == "absent" ? rest : Blob(bytes.data(), bytes.size()))
          << "section " << id;
    } else if (key == "fetch") {
      endCall();
      int result = -1;
      ls >> result;
      back = std::make_unique<TestRecord>();
      for (const auto& [kind, n, m] : targets) Attach(*back, kind, n, m);
      const Bytes file = saved ? ReadFileBytes(path_) : scpfile::BuildRecord(sections);
      EXPECT_EQ(Fetch(file, *back), result);
      pending = true;
    } else if (key == "field") {
      std::string field;
      ls >> field;
      std::string v;
      std::getline(ls >> std::ws, v);
      ASSERT_TRUE(back) << "field before fetch";
      const Fields f = State(*back);
      const auto it = f.find(field);
      EXPECT_EQ(it == f.end() ? "<none>" : it->second, v) << "field " << field;
    } else if (key == "log") {
      std::string v;
      std::getline(ls >> std::ws, v);
      if (const size_t at = v.find("{path}"); at != std::string::npos) v.replace(at, 6, path_);
      want.push_back(v);
    } else {
      ADD_FAILURE() << "unknown key " << key;
    }
  }
  endCall();
  EXPECT_GT(cases, 20);
}

// ------------------------------------------------- generated sub-records

struct Generated {
  TestRecord rec;
  Fields want;  // what a fetch into Targets() gives
  bool holter;
  void Targets(TestRecord& back) const {
    const AnnotationList* a = rec.GetAnnotations();
    Attach(back, "ann", a->capacity, holter ? AnnotationList::kHolterExtensions : 0);
    Attach(back, "pann", rec.GetPAnnotations()->capacity);
    Attach(back, "ep", rec.GetEpisodes()->capacity, 1024);
    Attach(back, "pmk", rec.GetPacemakerList()->capacity);
    Attach(back, "bpd", rec.GetBloodPressureDataRecord()->capacity);
    Attach(back, "bpr");
    Attach(back, "spiro");
  }
};

// Random sub-records of every saved kind. Episode texts have even lengths so
// that every section has even length (the pad byte is the crafted cases').
void Generate(uint32_t variant, Generated& g) {
  std::mt19937 rng(variant);
  auto u = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  auto fill = [&](void* p, size_t n) {
    for (size_t i = 0; i < n; ++i) static_cast<uint8_t*>(p)[i] = static_cast<uint8_t>(rng());
  };
  TestRecord& r = g.rec;
  g.holter = variant % 2 == 0;
  r.SetProcedureType(g.holter ? 4 : 1);
  for (int k = 0; k < 2; ++k) {
    const uint32_t n = 1 + u(6);
    auto* l = new AnnotationList(n, k == 0 && g.holter ? AnnotationList::kHolterExtensions : 0);
    l->count = n;
    l->valueA = static_cast<uint32_t>(rng());
    l->valueB = static_cast<uint32_t>(rng());
    fill(l->entries, n * 8);
    for (int x = 17; x < 20; ++x)
      if (l->extensions[x]) fill(l->extensions[x], n * 20);
    k == 0 ? r.SetAnnotations(l) : r.SetPAnnotations(l);
  }
  const uint32_t ne = 1 + u(5);
  auto* ep = new EpisodeList(ne, 0);
  ep->count = ne;
  Bytes store;
  for (uint32_t i = 0; i < ne; ++i) {
    EpisodeEntry& e = ep->entries[i];
    fill(&e.value1, 20);
    fill(&e.value4, 4);
    e.typeCode = u(50);
    std::string text(2 * u(8), 'x');
    for (char& c : text) c = static_cast<char>('!' + u(90));
    ep->SetText(i, text.c_str());
    if (!text.empty()) {
      const uint32_t head[2] = {i, static_cast<uint32_t>(text.size())};
      store.insert(store.end(), reinterpret_cast<const uint8_t*>(head), reinterpret_cast<const uint8_t*>(head) + 6);
      store.insert(store.end(), text.begin(), text.end());
    }
  }
  for (int b = 0; b < 4; ++b) store.push_back(static_cast<uint8_t>(ne >> (8 * b)));
  store.resize(1024, kMark);
  r.SetEpisodes(ep);
  auto* pm = new PacemakerList(1 + u(5));
  pm->count = pm->capacity;
  fill(pm->values, pm->count * 4);
  r.SetPacemakerList(pm);
  auto* bp = new BloodPressureData(1 + u(3));
  bp->count = bp->capacity;
  fill(bp->readings, bp->count * 280);
  r.SetBloodPressureDataRecord(bp);
  r.SetBloodPressureResultsRecord(new BloodPressureResults());
  fill(r.GetBloodPressureResultsRecord(), 440);
  r.SetSpirometryDataRecord(new SpirometryData());
  fill(r.GetSpirometryDataRecord()->words, 424);
  AuditTrail* t = r.GetAuditTrailRecord();
  t->count = variant == 1 ? 16 : 1 + static_cast<int32_t>(u(16));  // all slots once
  for (int32_t i = 0; i < t->count; ++i) {
    AuditEntry* e = t->entries[i];
    e->year = static_cast<int16_t>(rng());  // 16 bits on file, signed
    e->month = u(256), e->day = u(256), e->hour = u(24), e->minute = u(60), e->milliseconds = u(60000);
    e->actionCode = u(4);
    fill(e->text, 32);
  }
  // What the fetch gives: the same, with the mapped type codes, the texts in
  // the store, the spirometry block's first word 424.
  g.want = State(r);
  if (!g.holter) g.want.erase("ann.x17"), g.want.erase("ann.x18"), g.want.erase("ann.x19");
  for (uint32_t i = 0; i < ne; ++i) ep->entries[i].typeCode = std::min(ep->entries[i].typeCode, 36u);
  g.want["ep"] = Num(ne) + " 0";
  g.want["ep.e"] = State(r)["ep.e"];
  g.want["ep.store"] = Blob(store.data(), store.size());
  r.GetSpirometryDataRecord()->words[0] = 424;
  g.want["spiro"] = State(r)["spiro"];
}

TEST_F(MfrSections, GeneratedSubRecordsSaveAndFetchBackEqual) {
  for (uint32_t variant = 1; variant <= 8; ++variant) {
    SCOPED_TRACE("variant " + Num(variant));
    Generated g;
    Generate(variant, g);
    ASSERT_EQ(Save(g.rec), 1);
    EXPECT_EQ(Messages(), std::vector<std::string>{"LOGINFORMATION SCP Save Test Record [" + path_ + "]"});
    TestRecord back;
    g.Targets(back);
    EXPECT_EQ(Fetch(ReadFileBytes(path_), back), 1);
    EXPECT_EQ(Messages(), std::vector<std::string>{});
    EXPECT_EQ(State(back), g.want);
  }
}

// ------------------------------------------------------- every cut, read

struct Reader {
  uint16_t id;
  int framing;  // 1: one record and a trailing word; 2: self-length records; 3: a length word W
  int invalidLine;  // framing 1; framings 2 and 3: "too short", then "too short 2"
  const char* invalidText;
  int shortLine, short2Line;
  std::string key;  // the State fields it fills
};
const Reader kReaders[] = {
    {130, 1, 3180, "SCP-ECG: invalid ann section", 0, 0, "ann"},
    {131, 1, 3239, "SCP-ECG: invalid episode section", 0, 0, "ep"},
    {138, 1, 3499, "SCP-ECG: invalid pmk section", 0, 0, "pmk"},
    {146, 1, 3803, "SCP-ECG: invalid p ann section", 0, 0, "pann"},
    {139, 2, 0, nullptr, 3565, 3564, "bpd"},
    {140, 2, 0, nullptr, 3634, 3633, "bpr"},
    {144, 2, 0, nullptr, 3703, 3702, "spiro"},
    {147, 3, 0, nullptr, 3870, 3869, "audit"},
};

// Each written section cut at every length: the reader imports a whole
// record or reports where it ran out, and leaves the target as it was.
TEST_F(MfrSections, EveryCutOfEveryWrittenSectionIsReadWholeOrReported) {
  for (uint32_t variant : {1u, 2u}) {
    Generated g;
    Generate(variant, g);
    ASSERT_EQ(Save(g.rec), 1);
    const Bytes file = ReadFileBytes(path_);
    TestRecord fresh;
    g.Targets(fresh);
    const Fields untouched = State(fresh);
    TestRecord absent;  // no manufacturer section at all
    g.Targets(absent);
    ASSERT_EQ(Fetch(scpfile::BuildRecord({{1, Section1(1)}}), absent), 1);
    EXPECT_EQ(Messages(), std::vector<std::string>{});
    EXPECT_EQ(State(absent), untouched);
    for (const Reader& s : kReaders) {
      Fields whole = untouched;
      for (const auto& [k, v] : g.want)
        if (k.rfind(s.key, 0) == 0) whole[k] = v;
      const Bytes data = recb::DataOf(file, s.id).value();
      for (size_t t = 1; t <= data.size(); ++t) {
        SCOPED_TRACE("variant " + Num(variant) + " section " + Num(s.id) + " cut at " + Num(t));
        Bytes cut(data.begin(), data.begin() + t);
        TestRecord back;
        g.Targets(back);
        ASSERT_EQ(Fetch(scpfile::BuildRecord({{1, Section1(g.holter ? 4 : 1)}, {s.id, cut}}), back), 1);
        cut.resize(t + (t & 1) + 8, 0);  // the container's pad byte, and zero words to read below
        const size_t seen = t + (t & 1);
        const uint32_t count = scpfile::U32(cut, 0), L = scpfile::U32(cut, 4);
        std::vector<std::string> log;
        bool imported = false;
        if (s.framing == 1) {
          const size_t length = seen - (L & 1);
          imported = seen >= 8 && count == 1 && (length == L + 8 || (s.id == 130 && length == L + 4));
          if (!imported) log = {"LOGOEMERROR scpecg:" + Num(s.invalidLine) + " " + s.invalidText};
        } else if (seen < 8) {
          log = {"LOGOEMERROR scpecg:" + Num(s.shortLine) + " invalid record - too short"};
        } else if (L > seen - (s.framing == 2 ? 4 : 8)) {
          log = {"LOGOEMERROR scpecg:" + Num(s.short2Line) + " invalid record - too short 2"};
        } else {
          imported = true;
        }
        EXPECT_EQ(Messages(), log);
        // The pad byte stands in for a cut byte: exact only when that was zero.
        if (!imported) {
          EXPECT_EQ(State(back), untouched);
        } else if ((t & 1) == 0 || data[t] == 0) {
          EXPECT_EQ(State(back), whole);
        }
      }
    }
  }
}

// ---------------------------------------------------- writers, size limit

// The writers called on a record buffer sized around what each section
// needs: the codec's own operations, as the save calls them.
TEST_F(MfrSections, SectionThatDoesNotFitIsLeftOutAndLogged) {
  struct Writer {
    uint16_t id;
    void (ScpEcg::*put)(TestRecord*);
    int sizeLine, beginLine;
    const char* beginText;
  };
  const Writer writers[] = {
      {130, &ScpEcg::PutAnnotationData, 3211, 3212, "SCP-ECG: PutAnnotationData"},
      {131, &ScpEcg::PutEpisodeData, 3269, 3270, "SCP-ECG: PutEpisodeData"},
      {138, &ScpEcg::PutPacemakerData, 3529, 3530, "SCP-ECG: PutPacemakerData"},
      {139, &ScpEcg::PutBloodPressureData, 3597, 3598, "SCP-ECG: PutBloodPressureData"},
      {140, &ScpEcg::PutBloodPressureResults, 3666, 3667, "SCP-ECG: PutBloodPressureResults"},
      {144, &ScpEcg::PutSpirometryData, 3735, 3736, "SCP-ECG: PutSpirometryData"},
      {146, &ScpEcg::PutPAnnotationData, 3833, 3834, "SCP-ECG: PutAnnotationData"},
      {147, &ScpEcg::PutAuditTrail, 3900, 3901, "SCP-ECG: PutAuditTrail"},
  };
  Generated g;
  Generate(3, g);
  ASSERT_EQ(Save(g.rec), 1);
  const Bytes file = ReadFileBytes(path_);
  EventLog log{plat::ThisModule()};
  const uint32_t base = ScpEcg::kEmptyRecordSize + 16;
  for (const Writer& w : writers) {
    const Bytes data = recb::DataOf(file, w.id).value();
    const uint32_t n = static_cast<uint32_t>(data.size());
    // Capacity, where the next section starts, what the section holds, the log.
    const std::tuple<uint32_t, uint32_t, std::string, std::vector<std::string>> tries[] = {
        {base + n, base + n, Blob(data.data(), n), {}},
        {base + n - 1, base, "absent", {"LOGOEMERROR scpecg:" + Num(w.sizeLine) + " SCP-ECG: size limit"}},
        {base + 8, base, "absent", {"LOGOEMERROR scpecg:" + Num(w.sizeLine) + " SCP-ECG: size limit"}},
        {base - 1, ScpEcg::kEmptyRecordSize, "absent",
         {"LOGOEMERROR scpecg:4440 SCP-ECG: Buffer overflow", "LOGOEMERROR scpecg:" + Num(w.beginLine) + " " + w.beginText}},
    };
    for (const auto& [capacity, next, content, want] : tries) {
      SCOPED_TRACE("section " + Num(w.id) + " capacity " + Num(capacity));
      cap_.Clear();
      ScpEcg codec(nullptr, &log);
      ASSERT_TRUE(codec.FormatRecordHeader(capacity));
      (codec.*w.put)(&g.rec);
      EXPECT_EQ(codec.position(), next);
      const auto got = recb::DataOf(recb::Finish(codec), w.id);
      EXPECT_EQ(got ? Blob(got->data(), got->size()) : "absent", content);
      EXPECT_EQ(Messages(), want);
    }
  }
}

}  // namespace
