// Sections 2 (Huffman tables) and 3 (lead definition): the bytes written,
// the lead identifier walk over the channel slots, the readers' acceptance
// rules and their messages, and the lead table queries.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "platform/platform.h"
#include "rhythm_fixtures.h"
#include "scp/lead_table.h"
#include "scp/sample_codec.h"
#include "scp/scpecg.h"
#include "support/log_capture.h"
#include "support/test_util.h"

using namespace rhythm_fixtures;

namespace {

constexpr char kOem[] = "LOGOEMERROR";
constexpr char kMem[] = "LOGMEMORYERROR";
constexpr char kSys[] = "LOGSYSTEMERROR";
constexpr char kNotSimultaneous[] = "SCP-ECG: File specifies all leads not recorded simultaneously";
constexpr char kMoreThanDefined[] = "SCP-ECG: File specifies more leads than defined";
constexpr char kLimError[] = "SCP-ECG: lim error";

std::vector<uint8_t> Slots(uint32_t n) {
  std::vector<uint8_t> v(n);
  for (uint32_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i);
  return v;
}

// A record holding a waveform of n leads of s samples on the given slots.
std::unique_ptr<TestRecord> RecordWith(uint32_t n, uint32_t s, std::vector<uint8_t> slots) {
  auto record = std::make_unique<TestRecord>();
  record->SetWaveform(new EcgWaveform(n, s, 500, 5000, slots));
  return record;
}

// Section 3 data: N, flags and the given entries.
std::vector<uint8_t> Section3(uint8_t n, uint8_t flags, const std::vector<LeadEntry>& entries) {
  std::vector<uint8_t> d{n, flags};
  for (const auto& e : entries) {
    Put32(d, e.startSample);
    Put32(d, e.endSample);
    d.push_back(e.leadId);
  }
  return d;
}

class Sections23 : public ::testing::Test {
 protected:
  // Declared first: the log must point at the capture file before use.
  LogCapture capture_;
  EventLog log_{plat::ThisModule()};

  // A codec with a fresh record buffer of the given capacity.
  std::unique_ptr<ScpEcg> Writer(uint32_t capacity) {
    auto codec = std::make_unique<ScpEcg>(nullptr, &log_);
    EXPECT_TRUE(codec->FormatRecordHeader(capacity));
    return codec;
  }

  // The data bytes of a section the writer closed (empty when absent).
  static std::vector<uint8_t> Written(const ScpEcg& codec, int slot) {
    const SectionEntry* e = codec.entry(slot);
    if (e == nullptr || e->index == 0) return {};
    const uint8_t* s = codec.buffer() + e->index - 1;
    return std::vector<uint8_t>(s + 16, s + e->length);
  }

  // A codec that opened a file holding the given sections.
  std::unique_ptr<ScpEcg> Reader(const Sections& sections) {
    static int serial = 0;
    const std::string path = TempPath("s23_" + std::to_string(++serial) + ".scp");
    EXPECT_TRUE(WriteFileBytes(path, BuildRecord(sections)));
    auto codec = std::make_unique<ScpEcg>(nullptr, &log_);
    EXPECT_TRUE(codec->OpenRecord(path.c_str()));
    capture_.Clear();
    return codec;
  }
};

// ------------------------------------------------------------ section 2

TEST_F(Sections23, HuffmanTablesCarryTheDefaultTableMarker) {
  auto codec = Writer(1000000);
  EXPECT_TRUE(codec->PutHuffmanTables());
  EXPECT_EQ(codec->entry(2)->length, 18u);
  EXPECT_EQ(Written(*codec, 2), (std::vector<uint8_t>{0x1F, 0x4E}));
  uint32_t length = 0;
  const uint8_t* record = codec->FinalizeRecordHeader(&length);
  Sections parsed = ParseRecord(std::vector<uint8_t>(record, record + length));
  EXPECT_EQ(parsed[2], (std::vector<uint8_t>{0x1F, 0x4E}));
  EXPECT_TRUE(capture_.Messages().empty()) << capture_.Dump();
}

TEST_F(Sections23, HuffmanTablesWithoutRoomForTheSection) {
  auto codec = Writer(ScpEcg::kEmptyRecordSize + 15);
  EXPECT_FALSE(codec->PutHuffmanTables());
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 4440, "SCP-ECG: Buffer overflow"));
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2365, "SCP-ECG: PutHuffmanTables")) << capture_.Dump();
  EXPECT_EQ(codec->entry(2)->length, 0u);
}

TEST_F(Sections23, HuffmanTablesWithoutRoomForTheMarker) {
  auto codec = Writer(ScpEcg::kEmptyRecordSize + 16 + 1);
  EXPECT_FALSE(codec->PutHuffmanTables());
  EXPECT_TRUE(capture_.Has(kMem, "scpecg", 2364, "")) << capture_.Dump();
  EXPECT_EQ(codec->entry(2)->length, 0u);
}

TEST_F(Sections23, FileWithoutSection2ReadsAsPlainSamples) {
  auto codec = Reader({});
  auto mode = codec->GetHuffmanTables();
  ASSERT_NE(mode, nullptr);
  EXPECT_EQ(mode->huffman, 0);
  EXPECT_EQ(mode->fastPath, plat::HasMmx() ? 1 : 0);
  EXPECT_TRUE(capture_.Messages().empty()) << capture_.Dump();
}

TEST_F(Sections23, DamagedSection2CountsAsAbsent) {
  std::vector<uint8_t> file = BuildRecord({{2, {0x1F, 0x4E}}});
  file[file.size() - 1] ^= 0x01;  // the marker's high byte; the CRC no longer matches
  const std::string path = TempPath("s2_damaged.scp");
  ASSERT_TRUE(WriteFileBytes(path, file));
  ScpEcg codec(nullptr, &log_);
  ASSERT_TRUE(codec.OpenRecord(path.c_str()));
  auto mode = codec.GetHuffmanTables();
  ASSERT_NE(mode, nullptr);
  EXPECT_EQ(mode->huffman, 0);
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 4830, "SCP-ECG: CRC error ( section 2 )"));
}

struct Section2Case {
  const char* name;
  std::vector<uint8_t> data;
  bool accepted;  // a default-table mode comes back
  bool extra;     // "extra Huffman data" is logged
};

class Section2Reading : public Sections23, public ::testing::WithParamInterface<Section2Case> {};

TEST_P(Section2Reading, AcceptsOnlyTheDefaultTable) {
  const Section2Case& c = GetParam();
  auto codec = Reader({{2, c.data}});
  auto mode = codec->GetHuffmanTables();
  EXPECT_EQ(mode != nullptr, c.accepted);
  if (mode) {
    EXPECT_EQ(mode->huffman, 1);
    EXPECT_EQ(mode->fastPath, plat::HasMmx() ? 1 : 0);
  }
  EXPECT_EQ(capture_.Has(kOem, "scpecg", 2324, "SCP-ECG: File contains extra Huffman data"), c.extra)
      << capture_.Dump();
  EXPECT_EQ(capture_.Has(kOem, "scpecg", 2337, "SCP-ECG: Huffman tables not supported"), !c.accepted);
  EXPECT_EQ(capture_.Messages().size(), (c.extra ? 1u : 0u) + (c.accepted ? 0u : 1u));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Section2Reading,
    ::testing::Values(Section2Case{"Marker", {0x1F, 0x4E}, true, false},
                      Section2Case{"MarkerAndTwoMore", {0x1F, 0x4E, 0x01, 0x00}, true, true},
                      Section2Case{"OneCustomTable", {0x01, 0x00}, false, false},
                      Section2Case{"CustomTablesWithData", {0x02, 0x00, 0x11, 0x22, 0x33, 0x44}, false, true},
                      Section2Case{"ArbitraryValue", {0x0F, 0x27}, false, false},
                      // Only one data byte: no complete marker.
                      Section2Case{"SingleByte", {0x1F}, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ section 3

class LeadDefinitionWriting : public Sections23, public ::testing::WithParamInterface<uint32_t> {};

// All channels 0..N-1 present: identifiers in table order, start 0, end S.
TEST_P(LeadDefinitionWriting, NamesEveryPresentChannel) {
  const uint32_t n = GetParam();
  constexpr uint32_t kSamples = 5000;
  auto record = RecordWith(n, kSamples, Slots(n));
  auto codec = Writer(1000000);
  EXPECT_EQ(codec->PutLeadDefinition(record.get()), record->GetWaveform());
  const std::vector<uint8_t> d = Written(*codec, 3);
  ASSERT_EQ(d.size(), (2 + 9 * n + 1) / 2 * 2);  // padded to an even section
  EXPECT_EQ(d[0], n);
  EXPECT_EQ(d[1], n * 8 + 4);
  for (uint32_t i = 0; i < n; ++i) {
    EXPECT_EQ(Get32(&d[2 + 9 * i]), 0u) << i;
    EXPECT_EQ(Get32(&d[6 + 9 * i]), kSamples) << i;
    EXPECT_EQ(d[10 + 9 * i], kChannelLeadIds[i]) << i;
  }
  EXPECT_TRUE(capture_.Messages().empty()) << capture_.Dump();
}

INSTANTIATE_TEST_SUITE_P(LeadCounts, LeadDefinitionWriting, ::testing::Values(1u, 2u, 3u, 8u, 12u, 14u));

TEST_F(Sections23, TwelveLeadsUseTheStandardIdentifiers) {
  auto record = RecordWith(12, 5000, Slots(12));
  auto codec = Writer(1000000);
  ASSERT_NE(codec->PutLeadDefinition(record.get()), nullptr);
  const std::vector<uint8_t> d = Written(*codec, 3);
  ASSERT_GE(d.size(), 2u + 9 * 12);
  EXPECT_EQ(d[1], 100);
  std::vector<uint8_t> ids;
  for (int i = 0; i < 12; ++i) ids.push_back(d[10 + 9 * i]);
  EXPECT_EQ(ids, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 16, 17, 18, 100}));
}

std::vector<uint8_t> WrittenIds(const std::vector<uint8_t>& d) {
  std::vector<uint8_t> ids;
  for (uint32_t i = 0; i < d[0] && 10 + 9 * i < d.size(); ++i) ids.push_back(d[10 + 9 * i]);
  return ids;
}

// A lead whose channel has no array: the walk runs out of present channels,
// names the lead 1 and starts again at channel 0.
TEST_F(Sections23, LeadsBeyondThePresentChannelsRestartAtChannelZero) {
  auto record = RecordWith(3, 100, {1, 4, 9});
  EcgWaveform* wave = record->GetWaveform();
  int16_t* kept = wave->channels[4];
  wave->channels[4] = nullptr;
  auto codec = Writer(1000000);
  ASSERT_EQ(codec->PutLeadDefinition(record.get()), wave);
  EXPECT_EQ(WrittenIds(Written(*codec, 3)), (std::vector<uint8_t>{2, 17, 1}));
  wave->channels[4] = kept;
}

// The header's lead count is above the present channels: channel 13 is
// followed by channel 0 again, not by "no channel left".
TEST_F(Sections23, CursorWrapsAfterChannelThirteen) {
  auto record = RecordWith(2, 100, {5, 13});
  EcgWaveform* wave = record->GetWaveform();
  Set32(wave->block + 4, 5);
  auto codec = Writer(1000000);
  ASSERT_EQ(codec->PutLeadDefinition(record.get()), wave);
  const std::vector<uint8_t> d = Written(*codec, 3);
  EXPECT_EQ(d[1], 5 * 8 + 4);
  EXPECT_EQ(WrittenIds(d), (std::vector<uint8_t>{6, 102, 6, 102, 6}));
}

// 31 leads is the most the flags byte can carry; the file reads back.
TEST_F(Sections23, ThirtyOneLeadsAreWrittenAndReadBack) {
  auto record = RecordWith(14, 100, Slots(14));
  Set32(record->GetWaveform()->block + 4, 31);
  auto codec = Writer(1000000);
  ASSERT_NE(codec->PutLeadDefinition(record.get()), nullptr);
  const std::vector<uint8_t> d = Written(*codec, 3);
  EXPECT_EQ(d[0], 31);
  EXPECT_EQ(d[1], 252);
  auto reader = Reader({{3, d}});
  auto table = reader->GetLeadDefinition();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->count, 31);
  EXPECT_EQ(table->channelOf(13), 13);
  EXPECT_EQ(table->channelOf(14), 0);
  EXPECT_EQ(table->channelOf(30), 2);
  EXPECT_TRUE(capture_.Messages().empty()) << capture_.Dump();
}

// Decision: more than 31 leads cannot be stated in the flags byte; the lead
// definition is refused before a section is opened and the save goes on
// without sections 3 and 6.
TEST_F(Sections23, MoreThanThirtyOneLeadsAreRefused) {
  for (uint32_t n : {32u, 40u, 255u, 256u}) {
    capture_.Clear();
    auto record = RecordWith(14, 100, Slots(14));
    Set32(record->GetWaveform()->block + 4, n);
    auto codec = Writer(1000000);
    const uint32_t before = codec->position();
    EXPECT_EQ(codec->PutLeadDefinition(record.get()), nullptr) << n;
    EXPECT_EQ(codec->position(), before) << n;
    EXPECT_EQ(codec->entry(3)->length, 0u);
    EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2510, "SCP-ECG: PutLeadDefinition: more than 31 leads"))
        << capture_.Dump();
  }
}

TEST_F(Sections23, LeadDefinitionWithoutRoomForTheSection) {
  auto record = RecordWith(2, 100, Slots(2));
  auto codec = Writer(ScpEcg::kEmptyRecordSize + 10);
  EXPECT_EQ(codec->PutLeadDefinition(record.get()), nullptr);
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2513, "SCP-ECG: PutLeadDefinition")) << capture_.Dump();
}

TEST_F(Sections23, LeadDefinitionWithoutRoomForTheCount) {
  auto record = RecordWith(2, 100, Slots(2));
  auto codec = Writer(ScpEcg::kEmptyRecordSize + 16 + 1);
  EXPECT_EQ(codec->PutLeadDefinition(record.get()), nullptr);
  EXPECT_TRUE(capture_.Has(kMem, "scpecg", 2512, "")) << capture_.Dump();
  EXPECT_EQ(codec->entry(3)->length, 0u);
}

// Room for five of twelve entries: each missing one is logged, N still says
// 12, and a reader then finds fewer leads than defined.
TEST_F(Sections23, EntriesThatDoNotFitAreLeftOut) {
  auto record = RecordWith(12, 100, Slots(12));
  auto codec = Writer(ScpEcg::kEmptyRecordSize + 16 + 2 + 9 * 5 + 4);
  ASSERT_NE(codec->PutLeadDefinition(record.get()), nullptr);
  size_t dropped = 0;
  for (const auto& l : capture_.Lines()) dropped += l.call == kMem && l.source == "scpecg" && l.line == 2508;
  EXPECT_EQ(dropped, 7u) << capture_.Dump();
  const std::vector<uint8_t> d = Written(*codec, 3);
  ASSERT_EQ(d.size(), 2u + 9 * 5 + 1);
  EXPECT_EQ(d[0], 12);
  EXPECT_EQ(WrittenIds(d), (std::vector<uint8_t>{1, 2, 3, 4, 5}));

  auto reader = Reader({{3, d}});
  auto table = reader->GetLeadDefinition();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->count, 5);
  EXPECT_TRUE(capture_.Has(kSys, "", -1, kLimError)) << capture_.Dump();
}

TEST_F(Sections23, LeadDefinitionWithoutWaveform) {
  TestRecord record;
  auto codec = Writer(1000000);
  EXPECT_EQ(codec->PutLeadDefinition(&record), nullptr);
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2511, "SCP-ECG: no rd")) << capture_.Dump();
  EXPECT_EQ(codec->entry(3)->length, 0u);
  capture_.Clear();
  EXPECT_EQ(codec->PutLeadDefinition(nullptr), nullptr);
  EXPECT_TRUE(capture_.Has(kOem, "scpecg", 2511, "SCP-ECG: no rd"));
}

TEST_F(Sections23, WrittenLeadDefinitionReadsBack) {
  auto record = RecordWith(5, 4321, {0, 3, 8, 11, 13});
  auto codec = Writer(1000000);
  ASSERT_NE(codec->PutLeadDefinition(record.get()), nullptr);
  auto reader = Reader({{3, Written(*codec, 3)}});
  auto table = reader->GetLeadDefinition();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->referenceBeatUsed, 0);
  ASSERT_EQ(table->count, 5);
  const int channels[] = {0, 3, 8, 11, 13};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(table->entries[i]->startSample, 0u);
    EXPECT_EQ(table->entries[i]->endSample, 4321u);
    EXPECT_EQ(table->channelOf(i), channels[i]);
  }
  EXPECT_EQ(table->longestLead(), 4321u);
  EXPECT_TRUE(capture_.Messages().empty()) << capture_.Dump();
}

struct FlagsCase {
  uint8_t n;
  uint8_t flags;
  bool accepted;
  uint8_t referenceBeat;
};

class LeadDefinitionFlags : public Sections23, public ::testing::WithParamInterface<FlagsCase> {};

TEST_P(LeadDefinitionFlags, SimultaneousOnlyWithBitTwoAndTheLeadCount) {
  const FlagsCase& c = GetParam();
  std::vector<LeadEntry> entries;
  for (uint8_t i = 0; i < c.n; ++i) entries.push_back({0, 5000, kChannelLeadIds[i % 14]});
  auto codec = Reader({{3, Section3(c.n, c.flags, entries)}});
  auto table = codec->GetLeadDefinition();
  EXPECT_EQ(table != nullptr, c.accepted);
  EXPECT_EQ(capture_.Has(kSys, "", -1, kNotSimultaneous), !c.accepted) << capture_.Dump();
  if (table) {
    EXPECT_EQ(table->count, c.n);
    EXPECT_EQ(table->referenceBeatUsed, c.referenceBeat);
    EXPECT_TRUE(capture_.Messages().empty()) << capture_.Dump();
  }
}

INSTANTIATE_TEST_SUITE_P(Flags, LeadDefinitionFlags,
                         ::testing::Values(FlagsCase{12, 100, true, 0},   // 12 * 8 + 4
                                           FlagsCase{12, 96, false, 0},   // bit 2 clear
                                           FlagsCase{12, 92, false, 0},   // 11 * 8 + 4
                                           FlagsCase{12, 108, false, 0},  // 13 * 8 + 4
                                           FlagsCase{12, 101, true, 1},   // reference beat used
                                           FlagsCase{12, 102, true, 0},   // reserved bit 1 ignored
                                           FlagsCase{3, 28, true, 0}, FlagsCase{0, 4, true, 0},
                                           FlagsCase{0, 0, false, 0}, FlagsCase{31, 252, true, 0},
                                           FlagsCase{31, 253, true, 1}));

TEST_F(Sections23, ShortSection3IsNotSimultaneous) {
  for (const std::vector<uint8_t>& data : {std::vector<uint8_t>{0x04}, std::vector<uint8_t>{0x00}}) {
    capture_.Clear();
    auto codec = Reader({{3, data}});
    EXPECT_EQ(codec->GetLeadDefinition(), nullptr);
    EXPECT_TRUE(capture_.Has(kSys, "", -1, kNotSimultaneous)) << capture_.Dump();
  }
}

TEST_F(Sections23, NoSection3GivesNoTable) {
  auto codec = Reader({{2, {0x1F, 0x4E}}});
  EXPECT_EQ(codec->GetLeadDefinition(), nullptr);
  EXPECT_TRUE(capture_.Messages().empty()) << capture_.Dump();
}

TEST_F(Sections23, FewerEntriesThanDeclared) {
  auto codec = Reader({{3, Section3(3, 28, {{0, 100, 1}, {0, 200, 2}})}});
  auto table = codec->GetLeadDefinition();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->count, 2);
  EXPECT_EQ(table->longestLead(), 200u);
  EXPECT_TRUE(capture_.Has(kSys, "", -1, kMoreThanDefined)) << capture_.Dump();
  EXPECT_FALSE(capture_.HasText(kSys, kLimError));
}

// Decision: an entry cut off by the end of the data is not read; the ones
// before it stay and "lim error" reports the cut.
TEST_F(Sections23, EntryCutByTheEndOfTheData) {
  for (size_t cut : {1u, 4u, 8u}) {
    capture_.Clear();
    std::vector<uint8_t> d = Section3(3, 28, {{0, 100, 1}, {0, 200, 2}, {0, 300, 3}});
    d.resize(2 + 9 * 2 + cut);
    auto codec = Reader({{3, d}});
    auto table = codec->GetLeadDefinition();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->count, 2) << cut;
    EXPECT_EQ(table->longestLead(), 200u);
    EXPECT_TRUE(capture_.Has(kSys, "", -1, kLimError)) << capture_.Dump();
    EXPECT_FALSE(capture_.HasText(kSys, kMoreThanDefined));
  }
}

TEST_F(Sections23, TrailingBytesAfterTheEntriesAreIgnored) {
  std::vector<uint8_t> d = Section3(2, 20, {{0, 100, 1}, {0, 200, 2}});
  d.insert(d.end(), {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
  auto codec = Reader({{3, d}});
  auto table = codec->GetLeadDefinition();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->count, 2);
  EXPECT_TRUE(capture_.Messages().empty()) << capture_.Dump();
}

TEST_F(Sections23, LeadIdentifiersMapToChannels) {
  std::vector<LeadEntry> entries;
  const uint8_t ids[] = {1, 2, 3, 4, 5, 6, 7, 8, 16, 17, 18, 100, 101, 102, 61, 0, 9, 255};
  const int channels[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0, 0, 0, 0};
  for (uint8_t id : ids) entries.push_back({0, 10, id});
  const uint8_t n = static_cast<uint8_t>(entries.size());
  auto codec = Reader({{3, Section3(n, static_cast<uint8_t>(n * 8 + 4), entries)}});
  auto table = codec->GetLeadDefinition();
  ASSERT_NE(table, nullptr);
  ASSERT_EQ(table->count, n);
  for (int i = 0; i < n; ++i) EXPECT_EQ(table->channelOf(i), channels[i]) << "id " << int{ids[i]};
  EXPECT_EQ(table->channelOf(-1), 0);
  EXPECT_EQ(table->channelOf(n), 0);
}

TEST(LeadTableQueries, LongestLeadIsTheLargestDifference) {
  LeadTable table;
  EXPECT_EQ(table.longestLead(), 0u);
  EXPECT_EQ(table.channelOf(0), 0);
  ASSERT_TRUE(table.Append({0, 5000, 1}));
  ASSERT_TRUE(table.Append({10, 6000, 2}));  // 5990
  ASSERT_TRUE(table.Append({1, 5000, 3}));
  EXPECT_EQ(table.longestLead(), 5990u);
  // A lead ending before its start has the wrapped 32-bit difference.
  ASSERT_TRUE(table.Append({7000, 10, 4}));
  EXPECT_EQ(table.longestLead(), 0xFFFFE4B2u);
  ASSERT_TRUE(table.Append({0, 0xFFFFFFFFu, 5}));
  EXPECT_EQ(table.longestLead(), 0xFFFFFFFFu);
}

TEST(LeadTableQueries, HoldsAtMostThirtyTwoEntries) {
  LeadTable table;
  for (int i = 0; i < LeadTable::kMaxEntries; ++i) ASSERT_TRUE(table.Append({0, uint32_t(i), 1}));
  EXPECT_FALSE(table.Append({0, 100000, 1}));
  EXPECT_EQ(table.count, 32);
  EXPECT_EQ(table.longestLead(), 31u);
}

}  // namespace
