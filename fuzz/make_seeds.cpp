// Writes the fuzzers' seed corpora with the library's own writer: a few
// test records that together carry every standard and manufacturer section,
// saved through the service, then cut into the inputs of each harness.
//
//   make_seeds <corpus folder>     (fuzz/corpus in the source tree)
//
// The output is deterministic (fixed accession numbers, dates and signals),
// so that regenerating the corpora changes nothing unless the writer did.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_targets.h"
#include "tests/support/ecg_synth.h"

namespace fs = std::filesystem;

namespace {

fs::path gRoot;
int gWritten = 0;

void WriteSeed(const std::string& harness, const std::string& name, const std::vector<uint8_t>& bytes) {
  const fs::path dir = gRoot / harness;
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "make_seeds: cannot write %s/%s\n", harness.c_str(), name.c_str());
    std::exit(1);
  }
  ++gWritten;
}

void Demographics(TestRecord& r, uint32_t procedure) {
  r.SetAccessionNumber("SEED-0001");
  r.SetPatientName("Anna", "Maria", "Keller");
  r.SetStoredPatientId("4711");
  const CalendarDate birth{1961, 14, 3};
  const DateTime acquired(2021, 6, 2, 9, 41, 17, 50);
  r.SetAcquisitionDateTime(&acquired);
  r.SetBirthDate(&birth);
  r.SetSex(2);
  r.SetRace(4);
  r.SetHeight(6500);
  r.SetWeight(14200);
  r.SetBloodPressure((128u << 16) | 84u);
  r.SetDrugs("Metoprolol");
  r.SetDiagnosis("Palpitations");
  r.SetReferringPhysician("Dr. Brandt");
  r.SetTechnician("L. Ortiz");
  r.SetRoomText("12");
  r.SetStreet("Lindenweg 3");
  r.SetCity("Bern");
  r.SetDeviceName("QMX40");
  r.SetSmoking(2);
  r.SetPacemaker(1);
  r.SetExercise(1, 1);
  r.SetTargetHeartRate(150);
  r.SetProcedureType(procedure);
  const DateTime read(2021, 6, 2, 10, 5, 0, 0);
  r.SetOriginalInterpretation(&read, "Sinus rhythm.\rNormal ECG.");
}

void AddWaveform(TestRecord& r, uint32_t leads, uint32_t samples, uint32_t rate, uint64_t seed) {
  std::vector<uint8_t> slots(leads);
  for (uint32_t i = 0; i < leads; ++i) slots[i] = static_cast<uint8_t>(i);
  auto* wave = new EcgWaveform(leads, samples, rate, 5000, slots);
  ecgsynth::EcgShape shape = rate < 300 ? ecgsynth::HolterEcg(seed) : ecgsynth::RestingEcg(seed);
  shape.rateHz = rate;
  shape.noiseMicrovolts = 2;
  for (uint32_t i = 0; i < leads; ++i) {
    shape.gain = 0.4 + 0.1 * i;
    shape.seed = seed + i;
    const std::vector<int16_t> x = ecgsynth::SynthesizeEcg(shape, samples);
    std::copy(x.begin(), x.end(), wave->Channel(i));
  }
  r.SetWaveform(wave);
}

void AddHolterParts(TestRecord& r) {
  auto* ann = new AnnotationList(6, AnnotationList::kHolterExtensions);
  ann->count = 5;
  for (uint32_t i = 0; i < 5; ++i) {
    ann->entries[i] = AnnotationEntry{100 + 160 * i, static_cast<uint8_t>(i % 3), 1, static_cast<uint16_t>(i)};
    for (uint32_t a = 17; a < 20; ++a) ann->extensions[a][i].words[0] = static_cast<uint16_t>(a * 10 + i);
  }
  ann->valueA = 7;
  ann->valueB = 9;
  r.SetAnnotations(ann);
  auto* pann = new AnnotationList(3);
  pann->count = 2;
  pann->entries[0] = AnnotationEntry{40, 2, 0, 0};
  pann->entries[1] = AnnotationEntry{200, 2, 0, 1};
  r.SetPAnnotations(pann);
  auto* ep = new EpisodeList(2, 64);
  ep->count = 2;
  ep->entries[0].value1 = 10;
  ep->entries[0].typeCode = 3;
  ep->entries[1].value1 = 300;
  ep->entries[1].typeCode = 40;
  ep->SetText(0, "Run of SVES");
  r.SetEpisodes(ep);
  auto* pm = new PacemakerList(2);
  pm->count = 2;
  pm->values[0] = 60;
  pm->values[1] = 1200;
  r.SetPacemakerList(pm);
  for (int slot : {0, 3}) {
    auto* trend = new TrendRecord(slot == 0 ? 2 : 1, 1000);
    for (int32_t s = 0; s < 4; ++s) {
      const int32_t values[2] = {70 + s, -s};
      trend->AddSample(1000 + 60 * static_cast<uint32_t>(s), values);
    }
    r.SetTrendAt(slot, trend);
  }
  static constexpr uint8_t kPdf[] = {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', '%', '%', 'E', 'O', 'F'};
  auto* diary = new DocumentBuffer(64);
  diary->SetContent(kPdf);
  r.SetDiaryDocument(diary);
  auto* report = new DocumentBuffer(64);
  report->SetContent(std::span<const uint8_t>(kPdf, 9));
  r.SetReportDocument(report);
  auto* cfg = new HolterConfig();
  cfg->block1->values[0] = 24;
  cfg->block1->entries[0]->code = 5;
  cfg->block2->flags[0] = 1;
  cfg->block4->entries[3]->flag = 1;
  cfg->closingFlag = 1;
  r.SetHolterConfig(cfg);
  static constexpr uint8_t kBlock[] = {1, 2, 3, 4, 5, 6, 7};
  auto* block = new DocumentBuffer(16);
  block->SetContent(kBlock);
  r.SetHolterConfigBlock(block);
}

void AddStressParts(TestRecord& r) {
  for (uint32_t c = 0; c < 1; ++c) {
    auto* complex = new ComplexData(2, 12);
    complex->value1 = -5;
    for (uint32_t l = 0; l < 2; ++l) {
      complex->leads[l]->leadCode = l + 1;
      for (uint32_t s = 0; s < 12; ++s) complex->leads[l]->samples[s] = static_cast<int16_t>((s * 37 + c) % 200 - 100);
    }
    std::snprintf(complex->textBlock.text, sizeof complex->textBlock.text, "Complex %u", c);
    r.AddComplex(complex);
  }
  for (uint32_t i = 0; i < 2; ++i) {
    auto* rm = new RhythmMeasurement();
    rm->Bytes()[8] = static_cast<uint8_t>(60 + i);
    r.AddRhythm(rm);
  }
  auto* bp = new BloodPressureData(2);
  bp->count = 2;
  bp->readings[0].words[0] = 130;
  bp->readings[1].words[0] = 125;
  r.SetBloodPressureDataRecord(bp);
  auto* results = new BloodPressureResults();
  results->value1 = 2;
  results->groups[0].values[0] = 131;
  r.SetBloodPressureResultsRecord(results);
  auto* spiro = new SpirometryData();
  spiro->words[5] = 3200;
  r.SetSpirometryDataRecord(spiro);
  AuditTrail* audit = r.GetAuditTrailRecord();
  audit->SetCount(2);
  for (int32_t i = 0; i < 2; ++i) {
    AuditEntry* e = audit->GetEntry(i);
    e->year = 2021;
    e->month = 6;
    e->day = 2 + i;
    e->hour = 10;
    e->actionCode = i;
    std::snprintf(e->text, sizeof e->text, "edit %d", i);
  }
}

std::vector<uint8_t> Save(const std::string& name, TestRecord& r) {
  const std::string path = fs::temp_directory_path() / ("make_seeds-" + name + ".scp");
  if (scpfuzz::Service().SaveTestRecord(&r, path.c_str()) != 1) {
    std::fprintf(stderr, "make_seeds: saving %s failed\n", name.c_str());
    std::exit(1);
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  fs::remove(path);
  return bytes;
}

// The data of a section in a record written above, through the library's
// own reader; empty when absent.
std::vector<uint8_t> SectionOf(const std::vector<uint8_t>& rec, uint16_t id) {
  ScpService& service = scpfuzz::Service();
  ScpEcg codec(&service, service.log());
  if (!codec.OpenRecord(scpfuzz::Scratch::Get().Write(rec.data(), rec.size()))) return {};
  uint32_t length = 0;
  std::unique_ptr<uint8_t[]> data = codec.GetSection(id, &length);
  return data ? std::vector<uint8_t>(data.get(), data.get() + length) : std::vector<uint8_t>{};
}

std::map<std::vector<uint8_t>, bool> gSectionSeeds;

void WriteRecordSeeds(const std::string& name, const std::vector<uint8_t>& rec, bool holter) {
  // Byte 0 (the record CRC's low byte, unread by the library) asks the
  // harness to keep the section CRCs right under mutation (bit 1) and picks
  // the fetch's sub-records (bit 0).
  std::vector<uint8_t> repaired = rec;
  repaired[0] = static_cast<uint8_t>(repaired[0] | 2);
  for (const char* harness : {"check", "proceduretype"}) WriteSeed(harness, name + ".scp", repaired);
  for (int generous = 0; generous < 2; ++generous) {
    std::vector<uint8_t> variant = rec;
    variant[0] = static_cast<uint8_t>((variant[0] & ~3) | 2 | generous);
    WriteSeed("fetch", name + (generous ? "-generous.scp" : "-small.scp"), variant);
  }
  // One section input per row of the section table that this record fills;
  // the rhythm row carries sections 2, 3 and 6 as RunSection lays them out.
  const std::span<const SectionOps> table = SectionTable();
  for (size_t row = 0; row < table.size(); ++row) {
    const uint16_t id = table[row].id;
    std::vector<uint8_t> payload = SectionOf(rec, id);
    if (id == 3) {
      const std::vector<uint8_t> s6 = SectionOf(rec, 6);
      if (s6.empty() || payload.size() > 255) continue;
      payload.insert(payload.begin(), {static_cast<uint8_t>(SectionOf(rec, 2).empty() ? 0 : 1),
                                       static_cast<uint8_t>(payload.size())});
      payload.insert(payload.end(), s6.begin(), s6.end());
    }
    if (payload.empty()) continue;
    const std::vector<uint8_t> input = scpfuzz::SectionInput(row, static_cast<uint8_t>(holter ? 3 : 1), payload);
    if (gSectionSeeds.emplace(input, true).second) WriteSeed("section", "s" + std::to_string(id) + "-" + name, input);
  }
}

void WriteDecoderSeeds() {
  ecgsynth::EcgShape shape = ecgsynth::RestingEcg(3);
  shape.noiseMicrovolts = 2;
  const std::vector<int16_t> x = ecgsynth::SynthesizeEcg(shape, 400);
  const std::vector<int16_t> walk = ecgsynth::RandomWalk(200, 300, 5);
  // Huffman-coded leads (room for the longest codes, 26 bits, throughout),
  // plain samples (no Section 2), and raw samples for the round trip.
  const struct {
    const char* name;
    uint8_t flags;
    const std::vector<int16_t>& samples;
    bool coded;
  } cases[] = {{"huffman-2nd", 3, x, true},        {"huffman", 1, walk, true},
               {"huffman-2nd-walk", 3, walk, true}, {"plain-2nd", 2, walk, false},
               {"roundtrip-huffman-2nd", 7, x, false}, {"roundtrip-plain", 4, walk, false}};
  for (const auto& c : cases) {
    const auto count = static_cast<uint32_t>(c.samples.size());
    std::vector<uint8_t> input{c.flags, static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                               static_cast<uint8_t>(c.coded ? 0 : 0x10)};
    std::vector<uint8_t> lead(4 * count + 4);
    if (c.coded) {
      const RhythmEncoder encoder{1, static_cast<uint8_t>(c.flags & 2 ? 1 : 0), 0};
      lead.resize(encodeLead(encoder, lead.data(), 0, static_cast<uint32_t>(lead.size()), c.samples.data(), count));
    } else {
      lead.resize(2 * count);
      for (uint32_t i = 0; i < count; ++i) StoreU16(&lead[2 * i], static_cast<uint16_t>(c.samples[i]));
    }
    input.insert(input.end(), lead.begin(), lead.end());
    WriteSeed("decoder", std::string(c.name) + ".bin", input);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
    return 2;
  }
  gRoot = argv[1];
  {
    // Resting ECG: demographics, Sections 2, 3, 6 and 8.
    TestRecord r;
    Demographics(r, 1);
    AddWaveform(r, 8, 250, 500, 11);
    WriteRecordSeeds("resting", Save("resting", r), false);
  }
  {
    // Holter: procedure type 4, annotations with their extension arrays,
    // episodes, pacemaker, trends, documents and the Holter configuration.
    TestRecord r;
    Demographics(r, 4);
    AddWaveform(r, 3, 200, 200, 21);
    AddHolterParts(r);
    WriteRecordSeeds("holter", Save("holter", r), true);
  }
  {
    // Stress test: complexes, rhythm measurements, blood pressure,
    // spirometry and the audit trail.
    TestRecord r;
    Demographics(r, 2);
    AddStressParts(r);
    WriteRecordSeeds("stress", Save("stress", r), false);
  }
  {
    // A record with nothing but the defaults and no waveform.
    TestRecord r;
    r.SetAccessionNumber("SEED-0004");
    WriteRecordSeeds("minimal", Save("minimal", r), false);
  }
  {
    // One lead of 32000 samples: 4-byte byte counts in Section 6.
    TestRecord r;
    r.SetAccessionNumber("SEED-0005");
    const uint8_t slot[1] = {1};
    auto* wave = new EcgWaveform(1, 32000, 1000, 1000, slot);
    for (uint32_t n = 0; n < 32000; n += 800) wave->Channel(1)[n] = 40;
    r.SetWaveform(wave);
    std::vector<uint8_t> rec = Save("wide", r);
    rec[0] = static_cast<uint8_t>(rec[0] | 3);
    for (const char* harness : {"check", "fetch"}) WriteSeed(harness, "wide.scp", rec);
  }
  {
    // Section 145 has no writer: spirometry items in the reader's framing
    // (count, then records each led by their own length and followed by
    // four bytes), beside the minimal record's Section 1.
    TestRecord r;
    r.SetAccessionNumber("SEED-0006");
    r.SetProcedureType(3);
    const std::vector<uint8_t> s1 = SectionOf(Save("items", r), 1);
    std::vector<uint8_t> items(4, 0);
    StoreU32(items.data(), 2);
    for (uint32_t length : {24u, 8u}) {
      const size_t at = items.size();
      items.resize(at + length + 4, 0);
      StoreU32(&items[at], length);
      for (uint32_t k = 4; k < length; ++k) items[at + k] = static_cast<uint8_t>(k);
    }
    const scpfuzz::SectionBytes sections[] = {{1, s1}, {145, items}};
    std::vector<uint8_t> rec = scpfuzz::BuildRecord(sections);
    rec[0] = static_cast<uint8_t>(rec[0] | 2);
    for (const char* harness : {"check", "fetch"}) WriteSeed(harness, "items.scp", rec);
    WriteSeed("section", "s145-items", scpfuzz::SectionInput(FindSection(145) - SectionTable().data(), 1, items));
  }
  WriteDecoderSeeds();
  std::printf("make_seeds: %d files in %s\n", gWritten, gRoot.c_str());
  return 0;
}
