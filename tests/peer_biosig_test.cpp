// Interoperability with an independent SCP-ECG reader: Debian's biosig-tools
// (save2gdf). Records written by the service are converted by save2gdf to
// its ASCII form (a header file plus one sample file per channel) and the
// samples, sampling rate, lead labels and demographics compared with what was
// saved. A second suite feeds both readers the same hand-built variants of a
// record (other difference modes, no Section 2, a spelled-out Huffman table,
// bimodal compression, missing sections) and pins down which of them each
// reader decodes; docs/interop.md explains the outcomes.
//
// Skipped when save2gdf is not installed (apt-get install biosig-tools).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ecg_synth.h"
#include "fuzz/fuzz_targets.h"
#include "log_capture.h"
#include "scp/lead_table.h"
#include "test_util.h"

namespace {

bool HaveSave2gdf() { return std::system("command -v save2gdf >/dev/null 2>&1") == 0; }

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// What save2gdf made of a file: header fields, channels and their samples.
struct PeerRead {
  bool converted = false;
  std::map<std::string, std::string> header;  // [Header 1]
  struct Channel {
    std::map<std::string, std::string> fields;
    std::vector<double> samples;
  };
  std::vector<Channel> channels;
  std::string json;  // the -JSON header dump
  std::string log;   // save2gdf's messages
};

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  const size_t b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

PeerRead RunPeer(const TempDir& dir, const std::string& scp) {
  PeerRead r;
  const std::string out = dir.File("peer.asc");
  const std::string log = dir.File("peer.log");
  // The channel files land in the working folder, beside the header file.
  std::system(("cd " + Quote(dir.path()) + " && save2gdf -f=ASCII -n " + Quote(scp) + " peer.asc >" + Quote(log) +
               " 2>&1").c_str());
  std::system(("save2gdf -JSON -n " + Quote(scp) + " >" + Quote(dir.File("peer.json")) + " 2>>" + Quote(log)).c_str());
  r.log = ReadText(log);
  r.json = ReadText(dir.File("peer.json"));
  std::ifstream in(out);
  if (!in) return r;
  r.converted = true;
  std::string line;
  int part = 0;
  while (std::getline(in, line)) {
    if (line.rfind("[Header 1]", 0) == 0) part = 1;
    if (line.rfind("[Header 2]", 0) == 0) part = 2;
    const size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, eq));
    std::string value = line.substr(eq + 1);
    value = Trim(value.substr(0, value.find('#')));
    if (part == 1) r.header[key] = value;
    if (part == 2) {
      if (key == "Filename") r.channels.emplace_back();
      if (!r.channels.empty()) r.channels.back().fields[key] = value;
    }
  }
  for (auto& c : r.channels) {
    std::ifstream samples(dir.File(c.fields["Filename"]));
    double v;
    while (samples >> v) c.samples.push_back(v);
  }
  return r;
}

// The string value of "key" in save2gdf's JSON dump, or "" when absent.
std::string JsonText(const std::string& json, const std::string& key) {
  const size_t k = json.find("\"" + key + "\"");
  if (k == std::string::npos) return {};
  const size_t open = json.find('"', json.find(':', k) + 1);
  const size_t close = json.find('"', open + 1);
  return open == std::string::npos || close == std::string::npos ? std::string() : json.substr(open + 1, close - open - 1);
}

// The peer's channel values back in the waveform's units (its samples are
// in microvolts; the resolution is in nanovolts per unit).
std::vector<int> InUnits(const std::vector<double>& uv, uint32_t resolution, size_t count) {
  std::vector<int> out;
  for (size_t n = 0; n < count && n < uv.size(); ++n) out.push_back(static_cast<int>(std::lround(uv[n] * 1000.0 / resolution)));
  return out;
}

const char* LeadLabel(uint32_t channel) {
  static const char* const kLabels[] = {"I", "II", "V1", "V2", "V3", "V4", "V5", "V6", "X", "Y", "Z"};
  return channel < 11 ? kLabels[channel] : nullptr;
}

void FillDemographics(TestRecord& r) {
  r.SetAccessionNumber("PEER-0001");
  r.SetPatientName("Anna", "Maria", "Keller");
  r.SetStoredPatientId("4711");
  const CalendarDate birth{1961, 14, 3};
  const DateTime acquired(2021, 6, 2, 9, 41, 17, 0);
  r.SetAcquisitionDateTime(&acquired);
  r.SetBirthDate(&birth);
  r.SetSex(2);
  r.SetTechnician("L. Ortiz");
}

enum class Signal { kEcg, kHolter, kBoundedNoise, kFullNoise, kSparse };

// How the peer's samples relate to the saved ones.
enum class Peer {
  kExact,
  // The peer rebuilds second differences in 32-bit arithmetic, so samples
  // whose second differences do not fit 16 bits come back off by multiples
  // of 65536.
  kOffByWholeWraps,
  // The peer reads byte counts as 2 bytes always; leads of 32000 samples or
  // more carry 4-byte counts here and are misread.
  kMisread,
};

struct WaveCase {
  const char* name;
  std::vector<uint8_t> slots;
  uint32_t samples;
  uint32_t rate;
  uint32_t resolution;  // nV per unit
  Signal signal;
  Peer peer = Peer::kExact;
};

void PrintTo(const WaveCase& c, std::ostream* os) { *os << c.name; }

std::vector<int16_t> MakeLead(const WaveCase& c, uint32_t lead) {
  switch (c.signal) {
    case Signal::kEcg:
    case Signal::kHolter: {
      ecgsynth::EcgShape shape = c.signal == Signal::kEcg ? ecgsynth::RestingEcg(lead + 1) : ecgsynth::HolterEcg(lead + 1);
      shape.rateHz = c.rate;
      shape.microvoltsPerUnit = c.resolution / 1000.0;
      shape.gain = 0.5 + 0.2 * lead;
      return ecgsynth::SynthesizeEcg(shape, c.samples);
    }
    case Signal::kBoundedNoise: {
      // Every second difference stays within 16 bits, so a reader that
      // rebuilds in wider arithmetic still gets the samples back.
      std::vector<int16_t> x = ecgsynth::WhiteNoise(c.samples, 77 + lead);
      for (auto& v : x) v = static_cast<int16_t>(v / 4);
      return x;
    }
    case Signal::kFullNoise:
      return ecgsynth::WhiteNoise(c.samples, 91 + lead);
    case Signal::kSparse: {
      std::vector<int16_t> x(c.samples, 0);
      for (uint32_t n = lead; n < c.samples; n += 997) x[n] = static_cast<int16_t>(-300 + n % 600);
      return x;
    }
  }
  return {};
}

class BiosigReadsOurFiles : public ::testing::TestWithParam<WaveCase> {
 protected:
  void SetUp() override {
    if (!HaveSave2gdf()) GTEST_SKIP() << "save2gdf (biosig-tools) is not installed";
  }
  LogCapture capture_;
  TempDir dir_;
};

TEST_P(BiosigReadsOurFiles, SamplesRateLabelsAndDemographicsMatch) {
  const WaveCase& c = GetParam();
  const uint32_t leads = static_cast<uint32_t>(c.slots.size());
  auto record = std::make_unique<TestRecord>();
  FillDemographics(*record);
  auto* wave = new EcgWaveform(leads, c.samples, c.rate, c.resolution, c.slots);
  ASSERT_TRUE(wave->HasStorage());
  std::vector<std::vector<int16_t>> saved;
  for (uint32_t i = 0; i < leads; ++i) {
    saved.push_back(MakeLead(c, i));
    std::copy(saved.back().begin(), saved.back().end(), wave->Channel(c.slots[i]));
  }
  record->SetWaveform(wave);
  const std::string path = dir_.File("ours.scp");
  ScpService service(plat::ThisModule());
  ASSERT_EQ(1, service.SaveTestRecord(record.get(), path.c_str()));

  PeerRead peer = RunPeer(dir_, path);
  ASSERT_TRUE(peer.converted) << peer.log;
  EXPECT_EQ(std::string::npos, peer.log.find("CRC")) << peer.log;
  ASSERT_EQ(leads, peer.channels.size()) << peer.log;
  // The writer stores channels in ascending slot order.
  std::vector<uint8_t> order = c.slots;
  std::sort(order.begin(), order.end());
  for (uint32_t i = 0; i < leads; ++i) {
    const auto& ch = peer.channels[i];
    const uint32_t lead = static_cast<uint32_t>(std::find(c.slots.begin(), c.slots.end(), order[i]) - c.slots.begin());
    SCOPED_TRACE("channel " + std::to_string(i));
    if (const char* label = LeadLabel(order[i])) {
      EXPECT_EQ(label, ch.fields.at("Label"));
    }
    EXPECT_DOUBLE_EQ(c.rate, std::stod(ch.fields.at("SamplingRate")));
    // The peer counts a lead of start 0 and end S as S + 1 samples.
    EXPECT_EQ(std::to_string(c.samples + 1), ch.fields.at("NumberOfSamples"));
    ASSERT_GE(ch.samples.size(), c.samples);
    const std::vector<int> got = InUnits(ch.samples, c.resolution, c.samples);
    const std::vector<int> want(saved[lead].begin(), saved[lead].end());
    switch (c.peer) {
      case Peer::kExact:
        EXPECT_EQ(want, got);
        break;
      case Peer::kOffByWholeWraps:
        EXPECT_NE(want, got);
        for (size_t n = 0; n < got.size(); ++n) {
          // Off by whole multiples of 65536, within the six digits that the
          // peer prints of such large values.
          const long d = static_cast<long>(got[n]) - want[n];
          const long rest = ((d % 65536) + 65536 + 32768) % 65536 - 32768;
          EXPECT_LE(std::labs(rest), std::labs(got[n]) * 1e-5 + 1) << "sample " << n;
        }
        break;
      case Peer::kMisread:
        EXPECT_NE(want, got);
        break;
    }
  }
  EXPECT_EQ("4711", peer.header["Patient.Id"]);
  EXPECT_EQ("1961-03-14", peer.header["Patient.Birthday"]);
  EXPECT_EQ("2", peer.header["Patient.Gender"]);
  EXPECT_EQ("L. Ortiz", peer.header["Recording.Technician"]);
  // The peer turns the start time into a fraction of a day and back.
  const std::string start = peer.header["Recording.Time"];
  ASSERT_GE(start.size(), 19u) << start;
  EXPECT_EQ("2021-06-02", start.substr(0, 10));
  const double seconds = std::stod(start.substr(11, 2)) * 3600 + std::stod(start.substr(14, 2)) * 60 + std::stod(start.substr(17));
  EXPECT_NEAR(9 * 3600 + 41 * 60 + 17, seconds, 0.01);
  EXPECT_EQ("Keller", JsonText(peer.json, "Lastname"));
  EXPECT_EQ("Anna", JsonText(peer.json, "Firstname"));
  EXPECT_EQ("Maria", JsonText(peer.json, "Second_Lastname"));
}

INSTANTIATE_TEST_SUITE_P(
    Waveforms, BiosigReadsOurFiles,
    ::testing::Values(WaveCase{"Resting12", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 1000, 500, 5000, Signal::kEcg},
                      WaveCase{"HolterXYZ", {8, 0, 10, 9}, 2000, 200, 2500, Signal::kHolter},
                      WaveCase{"NoiseEscapes", {1, 2}, 300, 1000, 1000, Signal::kBoundedNoise},
                      // The longest lead that still gets 2-byte byte counts.
                      WaveCase{"Longest2ByteCounts", {0}, 31999, 500, 1000, Signal::kSparse},
                      WaveCase{"FullRangeNoise", {0}, 300, 500, 1000, Signal::kFullNoise, Peer::kOffByWholeWraps},
                      WaveCase{"WideByteCounts", {1}, 32000, 1000, 1000, Signal::kSparse, Peer::kMisread}),
    [](const ::testing::TestParamInfo<WaveCase>& info) { return std::string(info.param.name); });

// ------------------------------------------------- the same variants for both

// Sections 1, 2, 3 and 6 of a record the service wrote, as the library
// reads them; the variants replace some of them.
struct Parts {
  std::vector<uint8_t> s1, s2, s3, s6;
  std::vector<std::vector<int16_t>> leads;
};

constexpr uint32_t kLeads = 3;
constexpr uint32_t kSamples = 400;
constexpr uint32_t kRate = 500;
constexpr uint32_t kResolution = 5000;
constexpr uint8_t kSlots[kLeads] = {0, 1, 2};

std::vector<uint8_t> SectionData(ScpEcg& codec, uint16_t id) {
  uint32_t length = 0;
  std::unique_ptr<uint8_t[]> d = codec.GetSection(id, &length);
  return d ? std::vector<uint8_t>(d.get(), d.get() + length) : std::vector<uint8_t>{};
}

Parts WriteParts(ScpService& service, const TempDir& dir) {
  Parts p;
  TestRecord record;
  FillDemographics(record);
  auto* wave = new EcgWaveform(kLeads, kSamples, kRate, kResolution, kSlots);
  for (uint32_t i = 0; i < kLeads; ++i) {
    ecgsynth::EcgShape shape = ecgsynth::RestingEcg(i + 5);
    shape.gain = 0.6 + 0.3 * i;
    p.leads.push_back(ecgsynth::SynthesizeEcg(shape, kSamples));
    std::copy(p.leads.back().begin(), p.leads.back().end(), wave->Channel(i));
  }
  record.SetWaveform(wave);
  const std::string path = dir.File("parts.scp");
  EXPECT_EQ(1, service.SaveTestRecord(&record, path.c_str()));
  ScpEcg codec(&service, service.log());
  EXPECT_TRUE(codec.OpenRecord(path.c_str()));
  p.s1 = SectionData(codec, 1);
  p.s2 = SectionData(codec, 2);
  p.s3 = SectionData(codec, 3);
  p.s6 = SectionData(codec, 6);
  return p;
}

enum class Coding { kSecondHuffman, kFirstHuffman, kNoneHuffman, kSecondPlain, kPlain };

// Section 6 with the given difference mode and coding, 2-byte counts.
std::vector<uint8_t> RhythmSection(const Parts& p, Coding coding, uint8_t bimodal) {
  const uint8_t mode = coding == Coding::kFirstHuffman ? 1 : (coding == Coding::kNoneHuffman || coding == Coding::kPlain) ? 0 : 2;
  std::vector<std::vector<uint8_t>> coded;
  for (const auto& x : p.leads) {
    std::vector<int16_t> v(x);
    if (mode == 1)
      for (size_t n = v.size() - 1; n >= 1; --n) v[n] = static_cast<int16_t>(x[n] - x[n - 1]);
    std::vector<uint8_t> out(4 * v.size() + 4);
    const bool huffman = coding != Coding::kSecondPlain && coding != Coding::kPlain;
    const RhythmEncoder encoder{static_cast<uint8_t>(huffman), static_cast<uint8_t>(mode == 2), 0};
    const uint32_t n = scpcodec::portable::encodeLead(encoder, out.data(), 0, static_cast<uint32_t>(out.size()), v.data(),
                                                      static_cast<uint32_t>(v.size()));
    out.resize(n);
    coded.push_back(out);
  }
  std::vector<uint8_t> s(6);
  StoreU16(&s[0], kResolution);
  StoreU16(&s[2], 1000000 / kRate);
  s[4] = mode;
  s[5] = bimodal;
  for (const auto& c : coded) {
    s.push_back(static_cast<uint8_t>(c.size()));
    s.push_back(static_cast<uint8_t>(c.size() >> 8));
  }
  for (const auto& c : coded) s.insert(s.end(), c.begin(), c.end());
  return s;
}

// Section 2 spelling out the default code as one custom table, in the
// layout save2gdf reads: per code, the code's whole length and its prefix
// length in bits, the table mode switch, the value (16-bit) and the prefix
// bits (32-bit) first bit lowest.
std::vector<uint8_t> SpelledOutDefaultTable() {
  struct Code {
    uint8_t total, prefix;
    int16_t value;
    std::string bits;
  };
  std::vector<Code> codes{{1, 1, 0, "0"}};
  for (int n = 1; n <= 8; ++n) {
    const auto len = static_cast<uint8_t>(n + 2);
    codes.push_back({len, len, static_cast<int16_t>(n), std::string(n, '1') + "00"});
    codes.push_back({len, len, static_cast<int16_t>(-n), std::string(n, '1') + "01"});
  }
  codes.push_back({18, 10, 0, "1111111110"});
  codes.push_back({26, 10, 0, "1111111111"});
  std::vector<uint8_t> s{1, 0, static_cast<uint8_t>(codes.size()), 0};
  for (const Code& c : codes) {
    uint32_t reversed = 0;
    for (size_t i = 0; i < c.bits.size(); ++i)
      if (c.bits[i] == '1') reversed |= 1u << i;
    s.insert(s.end(), {c.total, c.prefix, 1, static_cast<uint8_t>(c.value), static_cast<uint8_t>(c.value >> 8)});
    for (int k = 0; k < 4; ++k) s.push_back(static_cast<uint8_t>(reversed >> (8 * k)));
  }
  return s;
}

struct Variant {
  const char* name;
  bool peerDecodes;  // save2gdf gives back the samples
  bool oursDecodes;  // FETCHTEST gives back the samples
  std::function<std::vector<scpfuzz::SectionBytes>(const Parts&, std::vector<std::vector<uint8_t>>&)> sections;
};

void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

// A variant's sections; `keep` owns the bytes that the spans point at.
std::vector<scpfuzz::SectionBytes> With(std::vector<std::vector<uint8_t>>& keep,
                                        std::vector<std::pair<uint16_t, std::vector<uint8_t>>> parts) {
  std::vector<scpfuzz::SectionBytes> out;
  keep.reserve(parts.size());
  for (auto& [id, bytes] : parts) {
    keep.push_back(std::move(bytes));
    out.push_back({id, keep.back()});
  }
  return out;
}

const Variant kVariants[] = {
    {"AsWritten", true, true, [](const Parts& p, auto& k) { return With(k, {{1, p.s1}, {2, p.s2}, {3, p.s3}, {6, p.s6}}); }},
    {"FirstDifferences", true, false,
     [](const Parts& p, auto& k) { return With(k, {{1, p.s1}, {2, p.s2}, {3, p.s3}, {6, RhythmSection(p, Coding::kFirstHuffman, 0)}}); }},
    {"NoDifferences", true, true,
     [](const Parts& p, auto& k) { return With(k, {{1, p.s1}, {2, p.s2}, {3, p.s3}, {6, RhythmSection(p, Coding::kNoneHuffman, 0)}}); }},
    {"NoSection2PlainSamples", true, true,
     [](const Parts& p, auto& k) { return With(k, {{1, p.s1}, {3, p.s3}, {6, RhythmSection(p, Coding::kPlain, 0)}}); }},
    {"NoSection2PlainSecondDifferences", true, true,
     [](const Parts& p, auto& k) { return With(k, {{1, p.s1}, {3, p.s3}, {6, RhythmSection(p, Coding::kSecondPlain, 0)}}); }},
    {"SpelledOutDefaultTable", true, false,
     [](const Parts& p, auto& k) { return With(k, {{1, p.s1}, {2, SpelledOutDefaultTable()}, {3, p.s3}, {6, p.s6}}); }},
    {"BimodalFlag", false, false,
     [](const Parts& p, auto& k) { return With(k, {{1, p.s1}, {2, p.s2}, {3, p.s3}, {6, RhythmSection(p, Coding::kSecondHuffman, 1)}}); }},
    {"NoSection3", false, false, [](const Parts& p, auto& k) { return With(k, {{1, p.s1}, {2, p.s2}, {6, p.s6}}); }},
    {"NoSection1", true, true, [](const Parts& p, auto& k) { return With(k, {{2, p.s2}, {3, p.s3}, {6, p.s6}}); }},
};

class BothReaders : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    if (!HaveSave2gdf()) GTEST_SKIP() << "save2gdf (biosig-tools) is not installed";
  }
  LogCapture capture_;
  TempDir dir_;
};

TEST_P(BothReaders, DecodeWhatEachSupports) {
  ScpService service(plat::ThisModule());
  const Parts parts = WriteParts(service, dir_);
  ASSERT_FALSE(parts.s6.empty());
  std::vector<std::vector<uint8_t>> keep;
  const std::vector<scpfuzz::SectionBytes> sections = GetParam().sections(parts, keep);
  const std::vector<uint8_t> rec = scpfuzz::BuildRecord(sections);
  const std::string path = dir_.File("variant.scp");
  ASSERT_TRUE(WriteFileBytes(path, rec));

  const PeerRead peer = RunPeer(dir_, path);
  bool peerSame = peer.converted && peer.channels.size() == kLeads;
  for (uint32_t i = 0; peerSame && i < kLeads; ++i)
    peerSame = InUnits(peer.channels[i].samples, kResolution, kSamples) ==
               std::vector<int>(parts.leads[i].begin(), parts.leads[i].end());
  EXPECT_EQ(GetParam().peerDecodes, peerSame) << peer.log;

  TestRecord record;
  record.SetWaveform(new EcgWaveform(kLeads, kSamples, kRate, kResolution, kSlots));
  record.SetFilePath(path.c_str());
  ASSERT_EQ(1, service.FetchTest(&record));
  bool oursSame = true;
  for (uint32_t i = 0; i < kLeads; ++i)
    oursSame = oursSame && std::equal(parts.leads[i].begin(), parts.leads[i].end(), record.GetWaveform()->Channel(i));
  EXPECT_EQ(GetParam().oursDecodes, oursSame) << capture_.Dump();
}

INSTANTIATE_TEST_SUITE_P(Variants, BothReaders, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

}  // namespace
