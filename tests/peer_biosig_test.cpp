// An independent reader of our files: Debian's biosig-tools (save2gdf)
// converts saved records to its ASCII form (a header file plus one sample
// file per channel); samples, rate, labels and demographics must match what
// was saved. Skipped when save2gdf is not installed (apt-get install
// biosig-tools).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "ecg_synth.h"
#include "support/plugin_cases.h"

namespace {

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// What the peer read: [Header 1] as key/value pairs, one map per channel of
// [Header 2] with its samples (microvolts) from the file it names, the log.
struct PeerRead {
  std::map<std::string, std::string> header;
  std::vector<std::map<std::string, std::string>> channels;
  std::vector<std::vector<double>> samples;
  std::string log;
};

PeerRead RunPeer(const TempDir& dir, const std::string& scp) {
  // The channel files land in the working folder, beside the header file.
  std::system(("cd '" + dir.path() + "' && save2gdf -f=ASCII -n '" + scp + "' peer.asc >peer.log 2>&1").c_str());
  PeerRead r;
  r.log.assign(std::istreambuf_iterator<char>(std::ifstream(dir.File("peer.log")).rdbuf()), {});
  std::ifstream in(dir.File("peer.asc"));
  int part = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("[Header ", 0) == 0) part = line[8] - '0';
    const size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1, line.find('#', eq) - eq - 1));
    if (part == 1) r.header[key] = value;
    if (part == 2 && key == "Filename") r.channels.emplace_back();
    if (part == 2 && !r.channels.empty()) r.channels.back()[key] = value;
  }
  for (auto& c : r.channels) {
    std::ifstream samples(dir.File(c["Filename"]));
    r.samples.emplace_back(std::istream_iterator<double>(samples), std::istream_iterator<double>());
  }
  return r;
}

struct WaveCase {
  const char* name;
  std::vector<uint8_t> slots;
  uint32_t samples, rate, resolution;  // resolution in nV per unit
  bool sparse = false;  // a spike every 997 samples: codes small enough for 2-byte counts
};
void PrintTo(const WaveCase& c, std::ostream* os) { *os << c.name; }

class BiosigReadsOurFiles : public PluginCases, public ::testing::WithParamInterface<WaveCase> {
 protected:
  void SetUp() override {
    if (std::system("command -v save2gdf >/dev/null 2>&1") != 0) GTEST_SKIP() << "save2gdf is not installed";
    PluginCases::SetUp();
  }
};

TEST_P(BiosigReadsOurFiles, SamplesRateLabelsAndDemographicsMatch) {
  const WaveCase& c = GetParam();
  const uint32_t leads = static_cast<uint32_t>(c.slots.size());
  TestRecord record;
  record.SetAccessionNumber("PEER-0001");
  record.SetPatientName("Anna", "Maria", "Keller");
  record.SetStoredPatientId("4711");
  const CalendarDate birth{1961, 14, 3};
  const DateTime acquired(2021, 6, 2, 9, 41, 17, 0);
  record.SetAcquisitionDateTime(&acquired);
  record.SetBirthDate(&birth);
  record.SetSex(2);
  auto* wave = new EcgWaveform(leads, c.samples, c.rate, c.resolution, c.slots);
  ASSERT_TRUE(wave->HasStorage());
  for (uint32_t i = 0; i < leads; ++i) {
    ecgsynth::EcgShape shape = ecgsynth::RestingEcg(i + 1);
    shape.rateHz = c.rate;
    shape.microvoltsPerUnit = c.resolution / 1000.0;
    const auto x = ecgsynth::SynthesizeEcg(shape, c.samples);
    std::copy(x.begin(), x.end(), wave->Channel(c.slots[i]));
    if (c.sparse)
      for (uint32_t n = 0; n < c.samples; ++n) wave->Channel(c.slots[i])[n] = n % 997 ? 0 : static_cast<int16_t>(n % 600);
  }
  record.SetWaveform(wave);
  const std::string path = dir_.File("ours.scp");
  ASSERT_EQ(1, save_(&record, path.c_str())) << cap_.Dump();

  const PeerRead peer = RunPeer(dir_, path);
  EXPECT_EQ(std::string::npos, peer.log.find("CRC")) << peer.log;
  ASSERT_EQ(leads, peer.channels.size()) << peer.log;
  static const char* const kLabels[] = {"I", "II", "V1", "V2", "V3", "V4", "V5", "V6", "X", "Y", "Z"};
  std::vector<uint8_t> order = c.slots;  // leads are stored in ascending slot order
  std::sort(order.begin(), order.end());
  for (uint32_t i = 0; i < leads; ++i) {
    SCOPED_TRACE("channel " + std::to_string(i));
    const auto& ch = peer.channels[i];
    if (order[i] < 11) EXPECT_EQ(kLabels[order[i]], ch.at("Label"));
    EXPECT_DOUBLE_EQ(c.rate, std::stod(ch.at("SamplingRate")));
    // The peer counts a lead of start 0 and end S as S + 1 samples.
    EXPECT_EQ(std::to_string(c.samples + 1), ch.at("NumberOfSamples"));
    ASSERT_GE(peer.samples[i].size(), c.samples);
    const int16_t* saved = wave->Channel(order[i]);
    for (uint32_t n = 0; n < c.samples; ++n)
      ASSERT_EQ(saved[n], std::lround(peer.samples[i][n] * 1000.0 / c.resolution)) << "sample " << n;
  }
  EXPECT_EQ("4711", peer.header.at("Patient.Id"));
  EXPECT_EQ("1961-03-14", peer.header.at("Patient.Birthday"));
  EXPECT_EQ("2", peer.header.at("Patient.Gender"));
  EXPECT_EQ("2021-06-02", peer.header.at("Recording.Time").substr(0, 10));
}

INSTANTIATE_TEST_SUITE_P(
    Waveforms, BiosigReadsOurFiles,
    ::testing::Values(WaveCase{"Resting12", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 1000, 500, 5000},
                      WaveCase{"HolterXYZ", {8, 0, 10, 9}, 2000, 200, 2500},
                      // The longest lead that still gets 2-byte byte counts.
                      WaveCase{"Longest2ByteCounts", {3}, 31999, 500, 1000, true}),
    [](const ::testing::TestParamInfo<WaveCase>& info) { return std::string(info.param.name); });

}  // namespace
