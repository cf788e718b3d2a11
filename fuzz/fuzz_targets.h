// The entry points that the fuzz harnesses drive, shared with the
// regression test (tests/fuzz_regression_test.cpp) so that a file found by
// a fuzzer is replayed through exactly the same code.
//
// Every Run* function takes raw bytes and returns an empty string when the
// library behaved, or a description of the broken expectation. A crash, a
// hang or a memory error is caught by the sanitizers instead.
//
// Input layouts:
// - check, procedure type, fetch: the bytes are the file. Byte 0, the low
//   byte of the record CRC, which no reader verifies, carries two choices:
//   bit 1 has the harness put right the CRC of section 0 and of every
//   section that its pointer table names before the file is written (so
//   that mutations reach the section readers), and bit 0 picks the small or
//   the generous set of sub-records for the fetch.
// - decoder: byte 0 flags (bit 0 Huffman, bit 1 second differences, bit 2
//   also round-trip the rest as samples through both encoders), bytes 1-2
//   the destination count (14 bits), byte 3 the source offset (bits 0-2) and
//   the encoder's extra room (bits 3-7), then the lead's bytes.
// - section: byte 0 picks the row of the section table (modulo its size),
//   byte 1 options (bit 0 generous sub-records, bit 1 Holter procedure
//   type), then the section's data; the rhythm row's layout is in
//   RunSection.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "lib/bytes.h"
#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "platform/platform.h"
#include "scp/lead_table.h"
#include "scp/sample_codec.h"
#include "scp/sample_encode_variants.h"
#include "scp/scpecg.h"
#include "scp/section_table.h"
#include "scp/scpsrv.h"
#include "scp/service.h"

namespace scpfuzz {

// ------------------------------------------------------------ environment

// One folder per process, under /dev/shm where there is one (a RAM disk,
// so that the file each input goes through costs no disk I/O) and in the
// temporary folder otherwise, holding the input file and, on POSIX, the
// registry folder that a fetch's scramble key lookup reads.
class Scratch {
 public:
  static Scratch& Get() {
    static Scratch* s = new Scratch();  // never destroyed: see atexit below
    return *s;
  }
  const std::string& file() const { return file_; }

  // Writes the bytes as the input file and returns its path.
  const char* Write(const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(file_.c_str(), "wb");
    if (f == nullptr) std::abort();
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written) std::abort();
    return file_.c_str();
  }

 private:
  Scratch() {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> bases;
#ifndef _WIN32
    bases.emplace_back("/dev/shm");
#endif
    if (fs::path tmp = fs::temp_directory_path(ec); !ec) bases.push_back(tmp);
    // A random name: parallel fuzzing jobs each get a folder of their own.
    std::random_device random;
    for (int attempt = 0; dir_.empty() && attempt < 16; ++attempt) {
      const std::string name = "scpfuzz-" + std::to_string(random()) + std::to_string(random());
      for (const fs::path& base : bases) {
        if (fs::create_directory(base / name, ec)) {
          dir_ = (base / name).string();
          break;
        }
      }
    }
    if (dir_.empty()) std::abort();
    file_ = (fs::path(dir_) / "input.scp").string();
    // The registered-key lookup creates its registry key folder under here
    // (Windows keeps it in the registry instead).
    if (!plat::SetEnvironmentVariable("XDG_CONFIG_HOME", dir_.c_str())) std::abort();
    std::atexit([] { Get().Remove(); });
  }
  void Remove() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string dir_;
  std::string file_;
};

// Recomputes section 0's CRC and the CRC of every section that its pointer
// table names, where the section lies within the bytes and clear of
// section 0.
inline void RepairCrcs(std::vector<uint8_t>& f) {
  const uint64_t h0 = ScpEcg::kRecordHeaderSize;
  if (f.size() < h0 + SectionHeader::kSize) return;
  const uint32_t s0 = LoadU32(&f[h0 + 4]);
  if (s0 < SectionHeader::kSize || h0 + s0 > f.size()) return;
  for (uint64_t p = h0 + SectionHeader::kSize; p + 10 <= h0 + s0; p += 10) {
    const uint32_t length = LoadU32(&f[p + 2]);
    const uint32_t index = LoadU32(&f[p + 6]);
    if (index == 0 || length <= SectionHeader::kSize) continue;
    const uint64_t at = index - 1;
    if (at + length > f.size() || (at < h0 + s0 && at + length > h0)) continue;
    StoreU16(&f[at], ScpEcg::ComputeCrc(f.data(), static_cast<uint32_t>(at + 2), length - 2));
  }
  StoreU16(&f[h0], ScpEcg::ComputeCrc(f.data(), static_cast<uint32_t>(h0 + 2), s0 - 2));
}

// Writes a file input (see the layouts above) and returns its path.
inline const char* WriteFileInput(const uint8_t* data, size_t size) {
  if (size == 0 || (data[0] & 2) == 0) return Scratch::Get().Write(data, size);
  std::vector<uint8_t> file(data, data + size);
  RepairCrcs(file);
  return Scratch::Get().Write(file.data(), file.size());
}

// The one service of the process. Its log goes to the null device unless
// the caller already pointed it elsewhere.
inline ScpService& Service() {
  static ScpService* service = [] {
    Scratch::Get();
#ifdef _WIN32
    constexpr const char* kNullDevice = "NUL";
#else
    constexpr const char* kNullDevice = "/dev/null";
#endif
    const char* log = std::getenv("EVTLIB03_LOG");
    if (log == nullptr || *log == '\0') plat::SetEnvironmentVariable("EVTLIB03_LOG", kNullDevice);
    return new ScpService(plat::ThisModule());
  }();
  return *service;
}

// -------------------------------------------------------- the test record

// Attaches every sub-record a fetch can fill. The small set has room for
// one or two items everywhere (and channels or extension arrays missing
// here and there), so that files holding more must be cut to it; the
// generous set has room for far more than the seeds hold.
inline void AttachEverything(TestRecord& r, bool generous) {
  if (generous) {
    const uint8_t slots[14] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    r.SetWaveform(new EcgWaveform(14, 2500, 500, 5000, slots));
    r.SetAnnotations(new AnnotationList(4096, AnnotationList::kHolterExtensions));
    r.SetPAnnotations(new AnnotationList(4096, AnnotationList::kHolterExtensions));
    r.SetEpisodes(new EpisodeList(256, 65536));
    r.SetPacemakerList(new PacemakerList(1024));
    r.SetBloodPressureDataRecord(new BloodPressureData(256));
    for (int i = 0; i < 4; ++i) r.AddComplex(new ComplexData(24, 600));
    for (int i = 0; i < 8; ++i) r.AddRhythm(new RhythmMeasurement());
    for (int i = 0; i < 4; ++i) r.AddSpirometryItem(new SpirometryItem());
    r.SetDiaryDocument(new DocumentBuffer(65536));
    r.SetReportDocument(new DocumentBuffer(65536));
    r.SetHolterConfigBlock(new DocumentBuffer(65536));
    r.SetTrendAt(0, new TrendRecord(16));
    r.SetTrendAt(5, new TrendRecord(3));
    r.SetTrendAt(31, new TrendRecord(1));
  } else {
    // Two leads on channels 0 and 7: leads named for other channels find no
    // sample array.
    const uint8_t slots[2] = {0, 7};
    r.SetWaveform(new EcgWaveform(2, 40, 500, 5000, slots));
    // Extension array 17 only: the Holter reader meets missing arrays 18, 19.
    r.SetAnnotations(new AnnotationList(2, AnnotationList::ExtensionBit(17)));
    r.SetPAnnotations(new AnnotationList(1));
    r.SetEpisodes(new EpisodeList(1, 8));
    r.SetPacemakerList(new PacemakerList(1));
    r.SetBloodPressureDataRecord(new BloodPressureData(1));
    r.AddComplex(new ComplexData(1, 4));
    r.AddComplex(new ComplexData());
    r.AddRhythm(new RhythmMeasurement());
    r.AddSpirometryItem(new SpirometryItem());
    r.SetDiaryDocument(new DocumentBuffer(4));
    r.SetReportDocument(new DocumentBuffer(1));
    r.SetHolterConfigBlock(new DocumentBuffer(8));
    r.SetTrendAt(0, new TrendRecord(1));
  }
  r.SetBloodPressureResultsRecord(new BloodPressureResults());
  r.SetSpirometryDataRecord(new SpirometryData());
  r.SetHolterConfig(new HolterConfig());
}

// What no reader may break, whatever the file held.
inline std::string CheckRecord(const TestRecord& r) {
  std::string problems;
  auto expect = [&](bool ok, const char* what) {
    if (!ok) problems += std::string(what) + "; ";
  };
  if (const EcgWaveform* w = r.GetWaveform())
    expect(w->GetValidSampleCount() == 0 || w->GetValidSampleCount() == w->SamplesPerLead(),
           "valid sample count is neither 0 nor S");
  for (const AnnotationList* a : {r.GetAnnotations(), r.GetPAnnotations()})
    if (a) expect(a->GetCount() <= a->GetCapacity(), "annotation count above capacity");
  if (const EpisodeList* e = r.GetEpisodes()) expect(e->GetCount() <= e->GetCapacity(), "episode count above capacity");
  if (const PacemakerList* p = r.GetPacemakerList())
    expect(p->GetCount() <= p->GetCapacity(), "pacemaker count above capacity");
  if (const BloodPressureData* b = r.GetBloodPressureDataRecord())
    expect(b->GetCount() <= b->GetCapacity(), "blood pressure count above capacity");
  for (const DocumentBuffer* d : {r.GetDiaryDocument(), r.GetReportDocument(), r.GetHolterConfigBlock()})
    if (d) expect(d->GetLength() <= d->GetCapacity(), "document length above capacity");
  for (int32_t i = 0; i < TestRecord::kTrendSlots; ++i)
    if (const TrendRecord* t = r.GetTrendAt(i))
      expect(t->GetSampleCount() <= TrendRecord::kMaxSamples, "trend samples above capacity");
  if (const AuditTrail* a = r.GetAuditTrailRecord())
    expect(a->GetCount() >= 0 && a->GetCount() <= static_cast<int32_t>(AuditTrail::kSlots),
           "audit count outside 0..16");
  expect(r.GetProcedureType() <= 7, "procedure type outside 0..7");
  expect(r.GetIdentityReadable() <= 1, "identity readable neither 0 nor 1");
  return problems;
}

// -------------------------------------------------------- file entry points

// ISVALIDFORMAT with an information block. Fields that the check must not
// touch keep a marker value.
inline std::string RunCheck(const uint8_t* data, size_t size) {
  const char* path = WriteFileInput(data, size);
  constexpr uint32_t kMark = 0xA5A5A5A5u;
  ValidFormatInfo info;
  uint32_t* fields = reinterpret_cast<uint32_t*>(&info);
  for (int i = 0; i < 18; ++i) fields[i] = kMark;
  const int32_t valid = Service().IsValidFormat(path, &info);
  if (valid != 0 && valid != 1) return "validity " + std::to_string(valid);
  if (valid == 0) {
    for (int i = 0; i < 18; ++i)
      if (fields[i] != kMark) return "a refused file changed field " + std::to_string(i);
    return {};
  }
  if (info.leadCount > static_cast<uint32_t>(LeadTable::kMaxEntries)) return "lead count above 32";
  if (info.samplingRate > 1000000) return "sampling rate above 1 MHz";
  for (uint32_t i = 0; i < 8; ++i) {
    const uint32_t c = info.channel[i];
    if (i < info.leadCount && c >= static_cast<uint32_t>(kChannelSlotCount)) return "channel slot above 13";
    if (i >= info.leadCount && c != kMark) return "channel field beyond the lead count changed";
  }
  return {};
}

// GETPROCEDURETYPE: a code from 0 to 7.
inline std::string RunProcedureType(const uint8_t* data, size_t size) {
  const int32_t code = Service().GetProcedureType(WriteFileInput(data, size));
  return code >= 0 && code <= 7 ? std::string() : "procedure type " + std::to_string(code);
}

// FETCHTEST into a record with every sub-record attached.
inline std::string RunFetch(const uint8_t* data, size_t size) {
  const bool generous = size > 0 && (data[0] & 1) != 0;
  auto record = std::make_unique<TestRecord>();
  AttachEverything(*record, generous);
  record->SetFilePath(WriteFileInput(data, size));
  record->SetTestKey(0x13579BDFu);
  const int32_t result = Service().FetchTest(record.get());
  if (result != 0 && result != 1) return "fetch result " + std::to_string(result);
  if (record->GetTestKey() != 0x13579BDFu) return "test key not kept";
  if (result == 1 && record->IsModified()) return "modified flag left set";
  return CheckRecord(*record);
}

// ------------------------------------------------------------ sample codec

inline std::string RunDecoders(const uint8_t* data, size_t size) {
  if (size < 4) return {};
  const HuffmanMode mode{static_cast<uint8_t>(data[0] & 1), 0};
  const bool secondDifference = (data[0] & 2) != 0;
  const uint32_t destCount = LoadU16(data + 1) & 0x3FFF;
  const uint32_t offset = data[3] & 7;
  const uint32_t extraRoom = data[3] >> 3;
  const uint32_t leadBytes = static_cast<uint32_t>(size - 4);

  // The lead in a buffer of exactly offset + its bytes: a read beyond it is
  // caught by the address checker.
  std::vector<uint8_t> source(offset + leadBytes, 0xEE);
  if (leadBytes) std::memcpy(source.data() + offset, data + 4, leadBytes);
  std::vector<int16_t> slow(destCount, 0x5A5A), quick(destCount, 0x5A5A);
  const uint32_t a = scpcodec::portable::decodeLead(mode, slow.data(), destCount, source.data(), offset, leadBytes,
                                                    secondDifference);
  const uint32_t b = scpcodec::fast::decodeLead(mode, quick.data(), destCount, source.data(), offset, leadBytes,
                                                secondDifference);
  if (a != b) return "decoders deliver " + std::to_string(a) + " and " + std::to_string(b) + " samples";
  if (a > destCount) return "more samples delivered than asked for";
  if (mode.huffman && a != destCount) return "Huffman decoder delivered fewer samples than asked for";
  for (uint32_t n = 0; n < destCount; ++n)
    if (slow[n] != quick[n]) return "decoders differ at sample " + std::to_string(n);

  // The same bytes cut into three leads, decoded together by the fast path
  // and one at a time by the portable one.
  const uint32_t cut1 = leadBytes / 3, cut2 = leadBytes - leadBytes / 3;
  const uint32_t starts[4] = {0, cut1, cut2, leadBytes};
  std::vector<int16_t> apart(3 * destCount + 1, 0x5A5A), together(3 * destCount + 1, 0x5A5A);
  LeadSpan spans[3];
  uint32_t expected[3];
  for (uint32_t k = 0; k < 3; ++k) {
    spans[k] = LeadSpan{together.data() + k * destCount, offset + starts[k], starts[k + 1] - starts[k], 0};
    expected[k] = scpcodec::portable::decodeLead(mode, apart.data() + k * destCount, destCount, source.data(),
                                                 spans[k].offset, spans[k].byteCount, secondDifference);
  }
  scpcodec::fast::decodeLeads(HuffmanMode{mode.huffman, 1}, spans, 3, destCount, source.data(), secondDifference);
  for (uint32_t k = 0; k < 3; ++k)
    if (spans[k].delivered != expected[k]) return "leads decoded together deliver other counts";
  if (apart != together) return "leads decoded together differ from one at a time";

  if ((data[0] & 4) == 0) return {};
  // Round trip: the lead's bytes as samples through the encoders (the fast
  // one and its baseline), then back through both decoders.
  const uint32_t count = leadBytes / 2;
  std::vector<int16_t> samples(count);
  for (uint32_t n = 0; n < count; ++n) samples[n] = LoadI16(data + 4 + 2 * n);
  const RhythmEncoder encoder{mode.huffman, static_cast<uint8_t>(secondDifference ? 1 : 0), 0};
  const uint32_t room = 2 * count + extraRoom;
  std::vector<uint8_t> out1(offset + room, 0);
  const uint32_t n1 = scpcodec::portable::encodeLead(encoder, out1.data(), offset, room, samples.data(), count);
  if (n1 > room) return "encoder claims more bytes than its room";
  for (auto* encode : {&scpcodec::fast::encodeLead, &scpcodec::fast::encodeLeadBaseline}) {
    std::vector<uint8_t> out2(offset + room, 0);
    const uint32_t n2 = (*encode)(encoder, out2.data(), offset, room, samples.data(), count);
    if (n1 != n2) return "encoders give " + std::to_string(n1) + " and " + std::to_string(n2) + " bytes";
    if (n1 != 0 && std::memcmp(out1.data() + offset, out2.data() + offset, n1) != 0)
      return "encoders give different bytes";
  }
  if (n1 == 0) return {};
  for (auto* decode : {&scpcodec::portable::decodeLead, &scpcodec::fast::decodeLead}) {
    std::vector<int16_t> back(count, 0x5A5A);
    const uint32_t got = (*decode)(mode, back.data(), count, out1.data(), offset, n1, secondDifference);
    if (got != count) return "round trip delivered " + std::to_string(got) + " of " + std::to_string(count);
    if (back != samples) return "round trip changed the samples";
  }
  return {};
}

// ------------------------------------------------------- section readers

// An SCP-ECG record holding each given section with exactly the given data
// (odd lengths included: no pad byte is added), with the 33-entry pointer
// table and every CRC right, so that the container's checks pass and the
// section readers see the bytes.
struct SectionBytes {
  uint16_t id;
  std::span<const uint8_t> data;
};

inline std::vector<uint8_t> BuildRecord(std::span<const SectionBytes> sections) {
  const uint32_t h0 = ScpEcg::kRecordHeaderSize, s0 = ScpEcg::kSection0Length;
  std::vector<uint8_t> rec(ScpEcg::kEmptyRecordSize, 0);
  auto header = [&rec](uint32_t at, uint16_t id, uint32_t length) {
    StoreU16(&rec[at + 2], id);
    StoreU32(&rec[at + 4], length);
    rec[at + 8] = ScpEcg::kSectionVersion;
    rec[at + 9] = ScpEcg::kProtocolVersion;
    std::memcpy(&rec[at + 10], "SCPECG", 6);
    StoreU16(&rec[at], ScpEcg::ComputeCrc(rec.data(), at + 2, length - 2));
  };
  uint32_t entries[ScpEcg::kTableSize][2] = {{s0, h0 + 1}};  // length, index
  const uint16_t* ids = ScpEcg::kSectionIds;
  for (const SectionBytes& s : sections) {
    const uint16_t* slot = std::find(ids + 1, ids + ScpEcg::kTableSize, s.id);
    if (slot == ids + ScpEcg::kTableSize) continue;
    const auto at = static_cast<uint32_t>(rec.size());
    const auto length = static_cast<uint32_t>(SectionHeader::kSize + s.data.size());
    rec.resize(at + SectionHeader::kSize, 0);
    rec.insert(rec.end(), s.data.begin(), s.data.end());
    header(at, s.id, length);
    entries[slot - ids][0] = length;
    entries[slot - ids][1] = at + 1;
  }
  for (int i = 0; i < ScpEcg::kTableSize; ++i) {
    uint8_t* e = &rec[h0 + SectionHeader::kSize + 10 * i];
    StoreU16(e, ids[i]);
    StoreU32(e + 2, entries[i][0]);
    StoreU32(e + 6, entries[i][1]);
  }
  header(h0, 0, s0);
  StoreU32(&rec[2], static_cast<uint32_t>(rec.size()));
  StoreU16(&rec[0], ScpEcg::ComputeCrc(rec.data(), 2, static_cast<uint32_t>(rec.size()) - 2));
  return rec;
}

// The section a section input stands for: a row of the section table.
inline const SectionOps& SectionTarget(uint8_t pick) { return SectionTable()[pick % SectionTable().size()]; }

// A section input for the given row, as make_seeds writes them.
inline std::vector<uint8_t> SectionInput(size_t row, uint8_t options, std::span<const uint8_t> data) {
  std::vector<uint8_t> in{static_cast<uint8_t>(row), options};
  in.insert(in.end(), data.begin(), data.end());
  return in;
}

inline std::string RunSection(const uint8_t* data, size_t size) {
  if (size < 2) return {};
  const SectionOps& row = SectionTarget(data[0]);
  const std::span<const uint8_t> payload(data + 2, size - 2);
  std::vector<SectionBytes> sections;
  if (row.id == 3) {
    // The rhythm row reads sections 2, 3 and 6 together: a Section 2 choice
    // (absent, default table, custom table, default table with extra data),
    // Section 3 length and data, then Section 6 data.
    static constexpr uint8_t kTables[3][4] = {{0x1F, 0x4E}, {0x01, 0x00}, {0x1F, 0x4E, 0x01, 0x00}};
    size_t p = 0;
    const uint8_t choice = p < payload.size() ? payload[p++] % 4 : 0;
    if (choice > 0) sections.push_back({2, std::span<const uint8_t>(kTables[choice - 1], choice == 3 ? 4 : 2)});
    const size_t n3 = p < payload.size() ? std::min<size_t>(payload[p], payload.size() - p - 1) : 0;
    p += p < payload.size();
    sections.push_back({3, payload.subspan(p, n3)});
    sections.push_back({6, payload.subspan(p + n3)});
  } else {
    sections.push_back({row.id, payload});
  }
  const std::vector<uint8_t> rec = BuildRecord(sections);
  const char* path = Scratch::Get().Write(rec.data(), rec.size());

  auto record = std::make_unique<TestRecord>();
  AttachEverything(*record, (data[1] & 1) != 0);
  if (data[1] & 2) record->SetProcedureType(4);
  ScpService& service = Service();
  ScpEcg codec(&service, service.log());
  if (!codec.OpenRecord(path)) return "a well-formed container was refused";

  std::string problem;
  if (row.get != nullptr) {
    const int result = row.get(codec, record.get());
    if (row.getGivesResult && result != 0 && result != 1)
      problem += std::string(row.getName) + " returned " + std::to_string(result) + "; ";
  } else {
    codec.GetHuffmanTables();  // section 2 is read only with the rhythm data
  }
  // What the format check reads of any record: the procedure type, the
  // rhythm summary and every probe.
  if (const int code = codec.GetProcedureTypeFromFile(); code < 0 || code > 7)
    problem += "procedure type " + std::to_string(code) + "; ";
  std::unique_ptr<LeadTable> leads = codec.GetLeadDefinition();
  if (leads && (leads->count < 0 || leads->count > LeadTable::kMaxEntries)) problem += "lead count; ";
  ValidFormatInfo info{};
  codec.GetRhythmSummary(leads.get(), &info);
  for (const SectionOps& section : SectionTable())
    if (section.probe != nullptr) section.probe(codec);
  return problem + CheckRecord(*record);
}

// A harness's verdict: a broken expectation stops the fuzzer like a crash,
// so that the input is kept as a finding.
inline int Verdict(const std::string& problem) {
  if (problem.empty()) return 0;
  std::fprintf(stderr, "scpfuzz: %s\n", problem.c_str());
  std::abort();
}

}  // namespace scpfuzz
