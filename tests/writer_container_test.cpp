// Records saved through the export, taken apart by a parser of the tests'
// own: record header, section 0, every section's framing and CRC, the save
// order, and the bytes of sections 2 and 3, which follow from the record
// alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/plugin_cases.h"
#include "support/scp_file.h"
#include "support/test_util.h"

namespace {

using scpfile::BitCrc;
using scpfile::Bytes;
using scpfile::kIds;
using scpfile::U16;
using scpfile::U32;


// The order in which a save writes its sections.
constexpr uint16_t kSaveOrder[] = {1, 2, 3, 6, 8, 129, 130, 131, 133, 137, 138, 139, 140, 144, 146, 147, 148, 149, 150, 151};

struct Section {
  uint16_t id;
  Bytes data;  // without the 16-byte header, pad byte included
};

// Checks the whole container and returns the sections in file order.
std::vector<Section> TakeApart(const Bytes& f) {
  std::vector<Section> out;
  EXPECT_GE(f.size(), 352u);
  if (f.size() < 352) return out;
  EXPECT_EQ(U32(f, 2), f.size()) << "record length";
  EXPECT_EQ(U16(f, 0), BitCrc(&f[2], f.size() - 2)) << "record CRC";
  EXPECT_EQ(U16(f, 8), 0u);
  EXPECT_EQ(U32(f, 10), 346u);
  EXPECT_EQ(U16(f, 6), BitCrc(&f[8], 344)) << "section 0 CRC";
  uint32_t next = 353;  // 1-based index where the next section must start
  size_t order = 0;
  std::vector<std::pair<uint32_t, uint16_t>> present;  // index, id
  for (int i = 0; i < 33; ++i) {
    const size_t e = 22 + 10 * i;
    EXPECT_EQ(U16(f, e), kIds[i]) << "pointer entry " << i;
    const uint32_t length = U32(f, e + 2), index = U32(f, e + 6);
    if (i == 0) {
      EXPECT_EQ(length, 346u);
      EXPECT_EQ(index, 7u);
      continue;
    }
    EXPECT_EQ(length == 0, index == 0) << "entry of section " << kIds[i];
    if (length) present.emplace_back(index, kIds[i]);
  }
  std::sort(present.begin(), present.end());
  for (auto [index, id] : present) {
    while (order < std::size(kSaveOrder) && kSaveOrder[order] != id) ++order;
    EXPECT_LT(order, std::size(kSaveOrder)) << "section " << id << " out of the save order";
    EXPECT_EQ(index, next) << "section " << id << " not back to back";
    const size_t at = index - 1;
    const uint32_t length = U32(f, at + 4);
    EXPECT_EQ(length % 2, 0u) << "odd section " << id;
    if (at + length > f.size() || length < 16) {
      ADD_FAILURE() << "section " << id << " runs past the file";
      return out;
    }
    EXPECT_EQ(U16(f, at + 2), id);
    EXPECT_EQ(f[at + 8], 13);
    EXPECT_EQ(f[at + 9], 13);
    EXPECT_EQ(std::memcmp(&f[at + 10], "SCPECG", 6), 0);
    EXPECT_EQ(U16(f, at), BitCrc(&f[at + 2], length - 2)) << "CRC of section " << id;
    out.push_back({id, Bytes(f.begin() + static_cast<long>(at) + 16, f.begin() + static_cast<long>(at + length))});
    next = index + length;
  }
  EXPECT_EQ(next - 1, f.size()) << "bytes behind the last section";
  return out;
}

const Section* Find(const std::vector<Section>& s, uint16_t id) {
  for (const auto& x : s)
    if (x.id == id) return &x;
  return nullptr;
}

// Hex bytes of a data file, "#" to the end of a line is a comment.
Bytes HexFile(const std::string& name) {
  std::ifstream in(std::string(SCP_TEST_SOURCE_DIR) + "/tests/data/" + name);
  Bytes out;
  std::string line, tok;
  while (std::getline(in, line)) {
    std::istringstream ls(line.substr(0, line.find('#')));
    while (ls >> tok) out.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
  }
  return out;
}

class WriterContainer : public PluginCases {
 protected:
  Bytes Save(TestRecord& r) {
    const std::string path = dir_.File("w.scp");
    EXPECT_EQ(save_(&r, path.c_str()), 1) << cap_.Dump();
    return ReadFileBytes(path);
  }

};

TEST_F(WriterContainer, Section1OfTheGoldenRecordByteForByte) {
  TestRecord r;
  r.SetPatientName("JOHN", "", "SMITH");
  r.SetAge(20000);
  r.SetHeight(7000);
  r.SetWeight(16000);
  r.SetSex(2);
  r.SetRace(4);
  r.SetBloodPressure(120u << 16 | 80u);
  r.SetDrugs("ASA");
  r.SetDiagnosis("DX");
  r.SetAccessionNumber("ACC");
  r.SetProcedureType(3);
  const auto s = TakeApart(Save(r));
  ASSERT_NE(Find(s, 1), nullptr);
  Bytes want = HexFile("section1_golden.txt");
  ASSERT_GT(want.size(), 300u);
  if (want.size() % 2) want.push_back(0);
  EXPECT_EQ(Find(s, 1)->data, want);
  // Status 0, no time stamp, an empty text: one empty statement.
  ASSERT_NE(Find(s, 8), nullptr);
  EXPECT_EQ(Find(s, 8)->data, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0}));
}

TEST_F(WriterContainer, InterpretationLinesBecomeStatements) {
  TestRecord r;
  const DateTime t(2020, 1, 2, 3, 4, 5, 6);
  r.SetConfirmedInterpretation(&t, "A\r\nB\r\n");
  auto s = TakeApart(Save(r));
  ASSERT_NE(Find(s, 8), nullptr);
  EXPECT_EQ(Find(s, 8)->data, (Bytes{1, 0xE4, 0x07, 1, 2, 3, 4, 5, 2, 1, 1, 0, 'A', 2, 1, 0, 'B', 0}));
  r.SetOverreadInterpretation(&t, "A\nB");
  s = TakeApart(Save(r));
  ASSERT_NE(Find(s, 8), nullptr);
  EXPECT_EQ(Find(s, 8)->data, (Bytes{2, 0xE4, 0x07, 1, 2, 3, 4, 5, 1, 1, 3, 0, 'A', '\n', 'B', 0}));
  // 257 lines: sequence numbers and the count wrap modulo 256.
  std::string lines;
  for (int i = 0; i < 257; ++i) lines += "x\r\n";
  r.SetOriginalInterpretation(&t, lines.c_str());
  s = TakeApart(Save(r));
  ASSERT_NE(Find(s, 8), nullptr);
  const Bytes& d = Find(s, 8)->data;
  ASSERT_EQ(d.size(), 9u + 257 * 4 + 1);
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[8], 1);
  for (size_t i = 0; i < 257; ++i) ASSERT_EQ(d[9 + 4 * i], static_cast<uint8_t>(i + 1)) << i;
}

// A Holter configuration travels in section 150: count 1, then its
// 700-byte version-13 payload behind a length word.
TEST_F(WriterContainer, HolterConfigurationIsSaved) {
  TestRecord r;
  r.SetHolterConfig(new HolterConfig());
  const auto s = TakeApart(Save(r));
  ASSERT_NE(Find(s, 150), nullptr);
  EXPECT_EQ(Find(s, 150)->data.size(), 708u);
  EXPECT_EQ(U32(Find(s, 150)->data, 0), 1u);
}

TEST_F(WriterContainer, LeadDefinitionWalksThePresentChannels) {
  // Slots 1, 7, 8 and 13: lead ids 2, 8, 16, 102; 300 samples each.
  const std::vector<uint8_t> slots = {1, 7, 8, 13};
  TestRecord r;
  auto* wave = new EcgWaveform(4, 300, 500, 5000, slots);
  ASSERT_TRUE(wave->HasStorage());
  for (uint8_t k : slots)
    for (uint32_t i = 0; i < 300; ++i) wave->Channel(k)[i] = static_cast<int16_t>(i * k % 97 - 40);
  r.SetWaveform(wave);
  const auto s = TakeApart(Save(r));
  ASSERT_NE(Find(s, 3), nullptr);
  Bytes want = {4, 4 * 8 + 4};
  for (uint8_t id : {2, 8, 16, 102}) {
    for (uint8_t b : {0, 0, 0, 0, 0x2C, 0x01, 0, 0}) want.push_back(b);
    want.push_back(id);
  }
  EXPECT_EQ(Find(s, 3)->data, want);
  ASSERT_NE(Find(s, 6), nullptr);
  const Bytes& six = Find(s, 6)->data;
  ASSERT_GE(six.size(), 14u);
  EXPECT_EQ(U16(six, 0), 5000u);  // multiplier, nV
  EXPECT_EQ(U16(six, 2), 2000u);  // interval, us
  EXPECT_EQ(six[4], 2);           // second differences
  EXPECT_EQ(six[5], 0);
  uint32_t total = 0;
  for (int i = 0; i < 4; ++i) total += U16(six, 6 + 2 * i);
  EXPECT_EQ(6 + 8 + total + (total % 2), six.size()) << "byte counts cover the lead data";
}

// Byte counts are 2 bytes wide below 32000 samples per lead and 4 from
// there on; the save reports sizes and the rounded ratio.
TEST_F(WriterContainer, RhythmCountWidthAndSaveReport) {
  for (uint32_t samples : {31999u, 32000u}) {
    cap_.Clear();
    TestRecord r;
    const uint8_t slots[] = {0, 3};
    auto* wave = new EcgWaveform(2, samples, 1000, 5000, slots);
    ASSERT_TRUE(wave->HasStorage());
    for (uint32_t i = 0; i < samples; ++i) {
      wave->Channel(0)[i] = static_cast<int16_t>(i % 50);
      wave->Channel(3)[i] = static_cast<int16_t>((i * 37) % 23);
    }
    r.SetWaveform(wave);
    const auto s = TakeApart(Save(r));
    ASSERT_NE(Find(s, 6), nullptr);
    const Bytes& six = Find(s, 6)->data;
    const uint32_t w = samples < 32000 ? 2 : 4;
    const uint32_t a = w == 2 ? U16(six, 6) : U32(six, 6), b = w == 2 ? U16(six, 6 + w) : U32(six, 6 + w);
    EXPECT_EQ(6 + 2 * w + a + b + (a + b) % 2, six.size()) << samples;
    const uint64_t raw = 2ull * samples * 2;
    const uint64_t percent = (200 * uint64_t{a + b} + raw) / (2 * raw);
    const std::string report =
        "SAVE: " + std::to_string(raw) + ":" + std::to_string(a + b) + " (" + std::to_string(percent) + "%)";
    EXPECT_TRUE(cap_.HasText("LOGOEMMESSAGE", report)) << report << "\n" << cap_.Dump();
  }
}

}  // namespace
