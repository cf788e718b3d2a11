// The reader against records of every encoding the format allows, written
// by the encoder of reader/scpwriter: lossless encodings must give back
// exactly the samples that were encoded, bimodal ones the protected zones
// exactly; Debian's save2gdf must agree lead by lead where it reads them.
// Damaged copies of every record must never crash the reader nor produce a
// lead of the wrong length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <tuple>

#include "reader/scpreader.h"
#include "reader/scpwriter.h"
#include "test_util.h"

namespace {

using scpreader::Coding;

// What an independent reader makes of a record (docs/interop.md).
enum class Peer {
  kAgrees,        // every sample within one unit
  kResidualOnly,  // leaves the reference beats out: equal outside the subtraction zones
  kCannot,        // refuses, crashes or decodes something else
};

struct Case {
  const char* name;
  Coding coding;
  uint8_t differences, version;
  bool referenceBeat;
  uint32_t bimodal;
  uint16_t intervalUs;
  Peer biosig, pixelmed;
};

const Case kCases[] = {
    {"default_second_v20", Coding::kDefaultTable, 2, 20, false, 1, 2000, Peer::kAgrees, Peer::kAgrees},
    {"plain_none_v13", Coding::kNone, 0, 13, false, 1, 1000, Peer::kAgrees, Peer::kCannot},
    {"default_first_v20", Coding::kDefaultTable, 1, 20, false, 1, 1667, Peer::kAgrees, Peer::kAgrees},
    {"custom_first_v22", Coding::kCustomTables, 1, 22, false, 1, 2000, Peer::kCannot, Peer::kCannot},
    {"custom_lengthfirst_v20", Coding::kCustomTables, 2, 20, false, 1, 2000, Peer::kCannot, Peer::kCannot},
    {"refbeat_second_v20", Coding::kDefaultTable, 2, 20, true, 1, 2000, Peer::kResidualOnly, Peer::kCannot},
    {"refbeat_first_v11", Coding::kDefaultTable, 1, 11, true, 1, 2000, Peer::kResidualOnly, Peer::kCannot},
    {"bimodal_refbeat_v20", Coding::kDefaultTable, 2, 20, true, 4, 2000, Peer::kCannot, Peer::kCannot},
};

// Leads in an unusual order with identifiers beyond the plug-in's channels.
const uint8_t kIds[] = {64, 2, 7, 1, 61, 131};
constexpr uint32_t kSamples = 2500;
const std::vector<uint32_t> kQrs = {201, 701, 1201, 1701, 2201};

std::vector<scpreader::WriteLead> Leads() {
  std::vector<scpreader::WriteLead> leads;
  for (size_t l = 0; l < std::size(kIds); ++l) {
    scpreader::WriteLead w;
    w.id = kIds[l];
    for (uint32_t i = 0; i < kSamples; ++i) {
      double v = 120 * std::sin(0.004 * (l + 1) * i);
      for (uint32_t q : kQrs) v += (300 + 40 * l) * std::exp(-std::pow((i + 1.0 - q) / 8.0, 2));
      w.samples.push_back(static_cast<int16_t>(std::lround(v)));
    }
    leads.push_back(std::move(w));
  }
  return leads;
}

std::vector<uint8_t> Make(const Case& c) {
  scpreader::WriteOptions o;
  o.coding = c.coding;
  o.differences = c.differences;
  o.version = c.version;
  o.referenceBeat = c.referenceBeat;
  o.bimodalFactor = c.bimodal;
  o.intervalUs = c.intervalUs;
  o.tablesLengthFirst = std::string(c.name).find("lengthfirst") != std::string::npos;
  if (c.referenceBeat || c.bimodal > 1) o.qrs = kQrs;
  if (c.bimodal > 1) o.zoneBefore = o.protectBefore, o.zoneAfter = o.protectAfter;
  std::string why;
  std::vector<uint8_t> bytes = scpreader::WriteRecord(Leads(), o, &why);
  EXPECT_FALSE(bytes.empty()) << why;
  return bytes;
}

bool InProtectedZone(uint32_t sample) {  // 1-based; the writer's default zones
  for (uint32_t q : kQrs)
    if (sample + 20 >= q && sample <= q + 30) return true;
  return false;
}

class ReaderTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReaderTest, GivesBackTheEncodedLeadsAtTheTrueRate) {
  const Case& c = GetParam();
  const scpreader::Record r = scpreader::Read(Make(c));
  EXPECT_TRUE(r.problems.empty()) << scpreader::ProblemText(r, r.problems[0]);
  EXPECT_TRUE(r.recordCrcOk);
  EXPECT_EQ(r.protocolVersion, c.version);
  EXPECT_EQ(r.sampleIntervalUs, c.intervalUs);
  EXPECT_DOUBLE_EQ(r.sampleRateHz(), 1e6 / c.intervalUs);
  EXPECT_EQ(r.amplitudeNanovolts, 5000u);
  const auto leads = Leads();
  ASSERT_GE(r.leads.size(), std::size(kIds));
  for (size_t l = 0; l < std::size(kIds); ++l) {
    EXPECT_EQ(r.leads[l].name, scpreader::LeadName(kIds[l]));
    EXPECT_FALSE(r.leads[l].derived);
    ASSERT_EQ(r.leads[l].samples.size(), kSamples) << r.leads[l].name;
    for (uint32_t i = 0; i < kSamples; ++i) {
      const int diff = r.leads[l].samples[i] - leads[l].samples[i];
      // Bimodal records keep the protected zones; elsewhere a restored
      // sample stays within what the signal changes over one block.
      int allowed = 0;
      if (c.bimodal > 1 && !InProtectedZone(i + 1))
        for (uint32_t j = i > c.bimodal ? i - c.bimodal : 0; j <= i + c.bimodal && j < kSamples; ++j)
          allowed = std::max(allowed, std::abs(leads[l].samples[j] - leads[l].samples[i]) + 1);
      ASSERT_LE(std::abs(diff), allowed) << r.leads[l].name << " sample " << i + 1;
    }
  }
  // aVF and III are stored: only aVR and aVL are derived, from I and II.
  ASSERT_EQ(r.leads.size(), std::size(kIds) + 2);
  EXPECT_EQ(r.leads[6].name, "aVR");
  EXPECT_TRUE(r.leads[6].derived);
  for (uint32_t i : {300u, 700u})  // aVR = -(I + II) / 2, halves away from zero
    EXPECT_EQ(r.leads[6].samples[i], std::lround(-(r.leads[3].samples[i] + r.leads[1].samples[i]) / 2.0));
}

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// Each peer's samples per lead, in the record's amplitude units; empty when
// the peer is not installed.
std::vector<std::vector<double>> Save2gdf(const TempDir& dir, uint32_t nanovolts) {
  std::vector<std::vector<double>> leads;
  if (std::system("command -v save2gdf >/dev/null 2>&1") != 0) return leads;
  Shell("cd '" + dir.path() + "' && timeout 60 save2gdf -f=ASCII r.scp peer.asc 2>&1");
  for (size_t l = 0; l < std::size(kIds); ++l) {
    char name[16];
    std::snprintf(name, sizeof name, "peer.a%02zu", l + 1);
    std::ifstream in(dir.File(name));
    leads.emplace_back();
    for (double v; in >> v;) leads.back().push_back(v * 1000 / nanovolts);
  }
  return leads;
}

std::vector<std::vector<double>> Pixelmed(const TempDir& dir, uint32_t nanovolts) {
  std::vector<std::vector<double>> leads;
  const std::string jar = "/usr/share/java/pixelmed.jar";
  if (std::system(("test -r " + jar + " && command -v javac >/dev/null").c_str()) != 0) return leads;
  const std::string src = std::string(SCP_TEST_SOURCE_DIR) + "/tests/peers/PixelmedDump.java";
  std::istringstream out(Shell("cd '" + dir.path() + "' && javac -cp " + jar + " -d . '" + src +
                               "' 2>&1 && timeout 60 java -cp " + jar + ":. PixelmedDump r.scp 2>/dev/null"));
  std::string line;
  while (std::getline(out, line)) {
    const size_t colon = line.find(':');
    if (line.rfind("interval", 0) == 0 || colon == std::string::npos) continue;
    std::istringstream cells(line.substr(colon + 1));
    leads.emplace_back();
    for (double v; cells >> v;) leads.back().push_back(v * 1000 / nanovolts);
  }
  return leads;
}

class PeerTest : public ::testing::TestWithParam<std::tuple<Case, bool>> {};

TEST_P(PeerTest, DecodesLeadByLeadAsItsDocumentedVerdictSays) {
  const auto& [c, pixelmed] = GetParam();
  const Peer verdict = pixelmed ? c.pixelmed : c.biosig;
  if (verdict == Peer::kCannot) GTEST_SKIP() << "the peer cannot read this encoding (docs/interop.md)";
  TempDir dir;
  const std::vector<uint8_t> bytes = Make(c);
  std::ofstream(dir.File("r.scp"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const scpreader::Record r = scpreader::Read(bytes);
  const auto peer = pixelmed ? Pixelmed(dir, r.amplitudeNanovolts) : Save2gdf(dir, r.amplitudeNanovolts);
  if (peer.empty()) GTEST_SKIP() << "peer not installed";
  ASSERT_EQ(peer.size(), std::size(kIds));
  for (size_t l = 0; l < std::size(kIds); ++l) {
    ASSERT_GE(peer[l].size(), kSamples) << r.leads[l].name;
    // What the peer leaves out of each zone must be one and the same beat.
    std::vector<double> beat(101, 0);  // the writer's 40 + 1 + 60 samples
    for (uint32_t i = 0; i < kSamples; ++i) {
      double missing = r.leads[l].samples[i] - peer[l][i];
      if (verdict == Peer::kResidualOnly) {
        for (size_t q = 0; q < kQrs.size(); ++q) {
          const int64_t at = int64_t{i} + 1 - kQrs[q] + 40;  // offset in the subtraction zone
          if (at < 0 || at >= 101) continue;
          if (q == 0) beat[static_cast<size_t>(at)] = missing;
          missing -= beat[static_cast<size_t>(at)];
        }
      }
      ASSERT_NEAR(missing, 0, 1.0) << r.leads[l].name << " sample " << i + 1;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Encodings, PeerTest, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_pixelmed" : "_save2gdf");
                         });

TEST_P(ReaderTest, DamagedCopiesNeverGiveALeadOfTheWrongLength) {
  const std::vector<uint8_t> good = Make(GetParam());
  std::mt19937 rng(14);
  for (int k = 0; k < 300; ++k) {
    std::vector<uint8_t> bad = good;
    if (k % 3 == 0) bad.resize(rng() % bad.size());
    for (int f = 0; f < 1 + k % 4 && !bad.empty(); ++f) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
    const scpreader::Record r = scpreader::Read(bad);
    for (const scpreader::Lead& l : r.leads)
      if (!l.samples.empty()) ASSERT_EQ(l.samples.size(), kSamples) << "variant " << k << " lead " << l.name;
  }
}

TEST(ReaderLeads, KeepTheirOwnStartAndEndAndAreNotDerivedFromMismatchedLimbLeads) {
  // Lead II starts at sample 101 and ends at 400; I spans 1 to 500.
  std::vector<scpreader::WriteLead> leads = {{1, std::vector<int16_t>(500, 7), 1}, {2, {}, 101}};
  for (int i = 0; i < 300; ++i) leads[1].samples.push_back(static_cast<int16_t>(i - 150));
  std::string why;
  const scpreader::Record r = scpreader::Read(scpreader::WriteRecord(leads, scpreader::WriteOptions{}, &why));
  ASSERT_EQ(r.leads.size(), 2u) << why;  // I and II do not line up: nothing derived
  EXPECT_EQ(r.leads[1].startSample, 101u);
  EXPECT_EQ(r.leads[1].endSample, 400u);
  ASSERT_EQ(r.leads[1].samples.size(), 300u);
  EXPECT_EQ(r.leads[1].samples[0], -150);
  EXPECT_EQ(r.leads[1].samples[299], 149);
  EXPECT_EQ(r.leads[0].samples, std::vector<int32_t>(500, 7));
}

// Quirks of producers are read; damage is named and nothing is shown for it.
struct Quirk {
  const char* name;
  void (*apply)(std::vector<uint8_t>&);
  bool decoded;
  const char* problem;  // "" for none
};

void ForEachPointer(std::vector<uint8_t>& b, void (*f)(std::vector<uint8_t>&, size_t entry)) {
  for (size_t e = 22; e + 10 <= 22 + 12 * 10; e += 10) f(b, e);
}

const Quirk kQuirks[] = {
    {"CrcsNeverComputed",
     [](std::vector<uint8_t>& b) {
       ForEachPointer(b, [](std::vector<uint8_t>& b, size_t e) {
         const uint32_t index = b[e + 6] | b[e + 7] << 8 | b[e + 8] << 16;
         if (b[e + 2] | b[e + 3]) b[index - 1] = b[index] = 0;
       });
     },
     true, "section 0: no section's CRC matches its data; every section is read all the same"},
    {"IndexesCountedFromZero",
     [](std::vector<uint8_t>& b) { ForEachPointer(b, [](std::vector<uint8_t>& b, size_t e) { --b[e + 6]; }); }, true,
     "section 0: CRC is wrong; the pointer table is used all the same"},
    {"RhythmDataDamaged", [](std::vector<uint8_t>& b) { b[b.size() - 40] ^= 0x10; }, false,
     "section 6: CRC is wrong; not interpreted"},
};

class QuirkTest : public ::testing::TestWithParam<Quirk> {};

TEST_P(QuirkTest, IsReadOrNamed) {
  std::vector<uint8_t> bytes = Make(kCases[0]);
  GetParam().apply(bytes);
  const scpreader::Record r = scpreader::Read(bytes);
  EXPECT_EQ(r.hasWaveform(), GetParam().decoded);
  if (GetParam().decoded) EXPECT_EQ(r.leads[0].samples[100], Leads()[0].samples[100]);
  std::string problems;
  for (const scpreader::Problem& p : r.problems) problems += scpreader::ProblemText(r, p) + "\n";
  EXPECT_EQ(problems, *GetParam().problem ? std::string(GetParam().problem) + "\n" : "");
}

INSTANTIATE_TEST_SUITE_P(Records, QuirkTest, ::testing::ValuesIn(kQuirks),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Encodings, ReaderTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
