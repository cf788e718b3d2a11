// Section 8: statements written from the interpretation text, the status
// and date mapping, and the reader on foreign, damaged and oversized data.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "log_capture.h"
#include "platform/platform.h"
#include "record_builder.h"
#include "scp/scpecg.h"
#include "test_util.h"

namespace {

using recb::Bytes;

constexpr uint32_t kCapacity = 1000000;

// The header of a hand-built section 8.
Bytes Header(uint8_t status, uint8_t count, uint16_t year = 2021, uint8_t month = 3, uint8_t day = 4,
             uint8_t hour = 5, uint8_t minute = 6, uint8_t second = 7) {
  Bytes b;
  b.u8(status).u16(year).u8(month).u8(day).u8(hour).u8(minute).u8(second).u8(count);
  return b;
}

Bytes& Statement(Bytes& b, uint8_t seq, const std::string& text) {
  return b.u8(seq).u16(static_cast<uint16_t>(text.size())).raw(text.data(), text.size());
}

struct Parsed {
  uint8_t status = 0;
  uint8_t date[7] = {};
  uint8_t count = 0;
  std::vector<uint8_t> seqs;
  std::vector<std::string> statements;
  size_t used = 0;  // bytes taken by header and statements
};

// Parses written section 8 data the way the format lays it out.
Parsed Parse(const std::vector<uint8_t>& d) {
  Parsed p;
  if (d.size() < 9) return p;
  p.status = d[0];
  std::memcpy(p.date, &d[1], 7);
  p.count = d[8];
  size_t pos = 9;
  // A pad byte alone is too short for a statement header.
  while (pos + 3 <= d.size()) {
    uint16_t n = recb::Half(d, pos + 1);
    if (pos + 3 + n > d.size()) break;
    p.seqs.push_back(d[pos]);
    p.statements.emplace_back(reinterpret_cast<const char*>(&d[pos + 3]), n);
    pos += 3 + n;
    p.used = pos;
  }
  return p;
}

class Section8Test : public ::testing::Test {
 protected:
  std::vector<uint8_t> Save(TestRecord& rec, uint32_t capacity = kCapacity) {
    ScpEcg codec(nullptr, &log);
    EXPECT_TRUE(codec.FormatRecordHeader(capacity));
    codec.PutInterpretation(&rec);
    return recb::Finish(codec);
  }
  std::vector<uint8_t> Written(TestRecord& rec) {
    auto d = recb::DataOf(Save(rec), 8);
    EXPECT_TRUE(d.has_value());
    return d.value_or(std::vector<uint8_t>{});
  }
  // Reads section 8 of a record file into rec.
  int Read(const std::vector<uint8_t>& file, TestRecord& rec) {
    ScpEcg codec(nullptr, &log);
    EXPECT_TRUE(recb::OpenBytes(codec, dir, file));
    return codec.GetInterpretation(&rec);
  }
  std::string ReadBack(const std::vector<uint8_t>& data, TestRecord& rec) {
    EXPECT_EQ(Read(recb::Wrap(8, data), rec), 1);
    return rec.GetInterpretationText();
  }

  LogCapture cap;
  EventLog log{plat::ThisModule()};
  TempDir dir;
};

// ------------------------------------------------------------ statements

struct SplitCase {
  const char* name;
  std::string text;
  std::vector<std::string> statements;
};

class Section8Split : public Section8Test, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(Section8Split, WritesOneStatementPerLineAndReadsThemBackWithCrLf) {
  const SplitCase& c = GetParam();
  TestRecord rec;
  rec.SetOriginalInterpretation(nullptr, c.text.c_str());
  auto data = Written(rec);
  Parsed p = Parse(data);
  ASSERT_EQ(p.statements, c.statements);
  EXPECT_EQ(p.count, c.statements.size());
  for (size_t i = 0; i < p.seqs.size(); ++i) EXPECT_EQ(p.seqs[i], i + 1);
  // Header, statements, and at most the container's pad byte.
  EXPECT_EQ(data.size(), (p.used + 1) & ~size_t{1});

  std::string expected;
  for (const auto& s : c.statements) expected += s + "\r\n";
  TestRecord back;
  back.SetConfirmedInterpretation(nullptr, "old");
  EXPECT_EQ(ReadBack(data, back), expected);
  EXPECT_EQ(back.GetInterpretationStatus(), 0u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Section8Split,
    ::testing::Values(SplitCase{"TwoLines", "A\r\nB", {"A", "B"}},  //
                      SplitCase{"Empty", "", {""}},                 //
                      SplitCase{"BareLineFeedStaysInside", "A\nB", {"A\nB"}},
                      SplitCase{"TrailingCrLfGivesNoEmptyStatement", "A\r\n", {"A"}},
                      SplitCase{"OnlyCrLf", "\r\n", {""}},
                      SplitCase{"BareCarriageReturnSplits", "A\rB", {"A", "B"}},
                      SplitCase{"EmptyLineInside", "first\r\n\r\nthird\r\n", {"first", "", "third"}},
                      SplitCase{"CrCrLf", "A\r\r\nB", {"A", "", "B"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Section8Test, SequenceNumbersAndCountWrapModulo256) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "L" + std::to_string(1000 + i) + "\r\n";
  TestRecord rec;
  rec.SetOriginalInterpretation(nullptr, text.c_str());
  auto data = Written(rec);
  Parsed p = Parse(data);
  ASSERT_EQ(p.statements.size(), 300u);
  EXPECT_EQ(p.count, 300 % 256);
  EXPECT_EQ(p.seqs[254], 255);
  EXPECT_EQ(p.seqs[255], 0);
  EXPECT_EQ(p.seqs[299], 300 % 256);
  // The reader trusts the wrapped count: only the first 44 lines come back.
  TestRecord back;
  std::string first44;
  for (int i = 0; i < 44; ++i) first44 += "L" + std::to_string(1000 + i) + "\r\n";
  EXPECT_EQ(ReadBack(data, back), first44);
}

// ------------------------------------------------------- status and date

struct StatusCase {
  uint32_t recordStatus;
  uint8_t fileStatus;
};

class Section8Status : public Section8Test, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(Section8Status, MapsStatusWritesItsOwnDateAndReadsBack) {
  const StatusCase& c = GetParam();
  const DateTime original(2019, 1, 2, 3, 4, 5, 60);
  const DateTime overread(2020, 6, 7, 8, 9, 10, 70);
  const DateTime confirmed(2021, 11, 12, 13, 14, 15, 80);
  TestRecord rec;
  rec.SetOriginalInterpretation(&original, "text");
  if (c.recordStatus == 1) rec.SetOverreadInterpretation(&overread, "text");
  if (c.recordStatus == 2) rec.SetConfirmedInterpretation(&confirmed, "text");
  ASSERT_EQ(rec.GetInterpretationStatus(), c.recordStatus);
  const DateTime& own = c.recordStatus == 0 ? original : c.recordStatus == 1 ? overread : confirmed;

  auto data = Written(rec);
  ASSERT_GE(data.size(), 9u);
  EXPECT_EQ(data[0], c.fileStatus);
  EXPECT_EQ(recb::Half(data, 1), own.year);
  EXPECT_EQ(data[3], own.month);
  EXPECT_EQ(data[4], own.day);
  EXPECT_EQ(data[5], own.hour);
  EXPECT_EQ(data[6], own.minute);
  EXPECT_EQ(data[7], own.second);

  TestRecord back;
  ReadBack(data, back);
  EXPECT_EQ(back.GetInterpretationStatus(), c.recordStatus);
  const DateTime* got = c.recordStatus == 0   ? back.GetOriginalDateTime()
                        : c.recordStatus == 1 ? back.GetOverreadDateTime()
                                              : back.GetConfirmedDateTime();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->year, own.year);
  EXPECT_EQ(got->month, own.month);
  EXPECT_EQ(got->day, own.day);
  EXPECT_EQ(got->hour, own.hour);
  EXPECT_EQ(got->minute, own.minute);
  EXPECT_EQ(got->second, own.second);
  EXPECT_EQ(got->hundredths, 0);
  EXPECT_STREQ(back.GetInterpretationText(), "text\r\n");
}

INSTANTIATE_TEST_SUITE_P(All, Section8Status,
                         ::testing::Values(StatusCase{0, 0}, StatusCase{1, 2}, StatusCase{2, 1}));

TEST_F(Section8Test, ClearedTimeStampWritesZeroDate) {
  TestRecord rec;
  rec.SetOriginalInterpretation(nullptr, "x");
  auto data = Written(rec);
  ASSERT_GE(data.size(), 9u);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(data[i], 0) << i;
}

TEST_F(Section8Test, UnknownFileStatusIsLoggedAndLeavesTheRecord) {
  for (uint8_t status : {uint8_t{3}, uint8_t{0xFF}}) {
    cap.Clear();
    Bytes b = Header(status, 1);
    Statement(b, 1, "new");
    TestRecord rec;
    const DateTime when(2018, 2, 3);
    rec.SetConfirmedInterpretation(&when, "kept");
    rec.ClearModified();
    EXPECT_EQ(ReadBack(b.v, rec), "kept");
    EXPECT_EQ(rec.GetInterpretationStatus(), 2u);
    EXPECT_FALSE(rec.IsModified());
    EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 2848, "Invalid interpretetaion status")) << cap.Dump();
    EXPECT_EQ(cap.Messages().size(), 1u) << cap.Dump();
  }
}

// ------------------------------------------------------ foreign sections

TEST_F(Section8Test, NulBytesInsideStatementsAreLeftOut) {
  Bytes b = Header(0, 2);
  Statement(b, 1, std::string("AB\0", 3));
  Statement(b, 2, std::string("C\0D", 3));
  TestRecord rec;
  EXPECT_EQ(ReadBack(b.v, rec), "AB\r\nCD\r\n");
}

TEST_F(Section8Test, SequenceNumbersAreNotChecked) {
  Bytes b = Header(0, 2);
  Statement(b, 9, "x");
  Statement(b, 9, "y");
  TestRecord rec;
  EXPECT_EQ(ReadBack(b.v, rec), "x\r\ny\r\n");
}

TEST_F(Section8Test, AbsentSectionLeavesTheRecord) {
  TestRecord rec;
  rec.SetConfirmedInterpretation(nullptr, "kept");
  EXPECT_EQ(Read(recb::Wrap(1, {1, 2, 3, 4}), rec), 1);
  EXPECT_STREQ(rec.GetInterpretationText(), "kept");
  EXPECT_EQ(rec.GetInterpretationStatus(), 2u);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(Section8Test, SectionShorterThanItsHeaderLeavesTheRecord) {
  TestRecord rec;
  rec.SetConfirmedInterpretation(nullptr, "kept");
  Bytes b = Header(0, 0);
  b.v.resize(8);
  EXPECT_EQ(ReadBack(b.v, rec), "kept");
  EXPECT_EQ(rec.GetInterpretationStatus(), 2u);
}

TEST_F(Section8Test, StatementsBeyondTheBufferAreCutToWhatTheRecordKeeps) {
  Bytes b = Header(0, 3);
  const std::string a(2000, 'a'), bb(2000, 'b'), c(2000, 'c');
  Statement(b, 1, a);
  Statement(b, 2, bb);
  Statement(b, 3, c);
  TestRecord rec;
  std::string got = ReadBack(b.v, rec);
  std::string full = a + "\r\n" + bb + "\r\n" + c + "\r\n";
  ASSERT_EQ(got.size(), TestRecord::kInterpretationCapacity - 1);
  EXPECT_EQ(got, full.substr(0, got.size()));
}

TEST_F(Section8Test, TextThatFillsTheRecordExactlyIsKeptWhole) {
  Bytes b = Header(0, 2);
  const std::string a(2000, 'a'), c(2091, 'c');  // 2002 + 2093 = 4095 characters
  Statement(b, 1, a);
  Statement(b, 2, c);
  TestRecord rec;
  EXPECT_EQ(ReadBack(b.v, rec), a + "\r\n" + c + "\r\n");
}

TEST_F(Section8Test, StatementReachingPastTheDataEndsTheList) {
  Bytes b = Header(0, 3);
  Statement(b, 1, "one");
  Statement(b, 2, "two");
  b.u8(3).u16(50).raw("short", 5);
  TestRecord rec;
  EXPECT_EQ(ReadBack(b.v, rec), "one\r\ntwo\r\n");
}

TEST_F(Section8Test, NegativeStatementLengthEndsTheList) {
  Bytes b = Header(0, 2);
  Statement(b, 1, "one");
  b.u8(2).u16(0x8001).raw("zz", 2);
  TestRecord rec;
  EXPECT_EQ(ReadBack(b.v, rec), "one\r\n");
}

TEST_F(Section8Test, CountAboveTheStatementsPresentReadsThoseThere) {
  Bytes b = Header(2, 200);
  Statement(b, 1, "only");
  TestRecord rec;
  EXPECT_EQ(ReadBack(b.v, rec), "only\r\n");
  EXPECT_EQ(rec.GetInterpretationStatus(), 1u);
}

// ---------------------------------------------------------- buffer room

TEST_F(Section8Test, SectionThatDoesNotFitIsLeftOutWhole) {
  TestRecord rec;
  rec.SetOriginalInterpretation(nullptr, "HELLO");  // 9 + 3 + 5 = 17 bytes, padded to 18
  const uint32_t base = ScpEcg::kEmptyRecordSize + 16;
  for (uint32_t data : {0u, 8u, 9u, 12u, 16u, 17u}) {
    ScpEcg codec(nullptr, &log);
    ASSERT_TRUE(codec.FormatRecordHeader(base + data));
    codec.PutInterpretation(&rec);
    // Only the reserved header bytes stay; the next section starts behind them.
    EXPECT_EQ(codec.position(), base) << data;
    auto file = recb::Finish(codec);
    auto e = recb::EntryOf(file, 8);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->length, 0u) << data;
  }
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.FormatRecordHeader(base + 18));
  codec.PutInterpretation(&rec);
  auto file = recb::Finish(codec);
  auto d = recb::DataOf(file, 8);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->size(), 18u);
  EXPECT_EQ(Parse(*d).statements, std::vector<std::string>{"HELLO"});
}

TEST_F(Section8Test, FullRecordTextOfEmptyLinesFits) {
  // The largest section: 4095 characters as 2047 empty lines and one more.
  std::string text;
  while (text.size() + 2 <= 4095) text += "\r\n";
  text += "z";
  TestRecord rec;
  rec.SetOriginalInterpretation(nullptr, text.c_str());
  auto data = Written(rec);
  Parsed p = Parse(data);
  EXPECT_EQ(p.statements.size(), 2048u);
  EXPECT_EQ(p.statements.back(), "z");
}

// ------------------------------------------------------ damaged sections

TEST_F(Section8Test, EveryTruncationReadsAPrefixOfTheFullText) {
  TestRecord rec;
  const DateTime when(2022, 7, 8, 9, 10, 11);
  rec.SetOverreadInterpretation(&when, "Sinus rhythm\r\nNormal axis\r\n\r\nQT 400 ms\r\nend");
  auto data = Written(rec);
  TestRecord full;
  const std::string all = ReadBack(data, full);
  ASSERT_EQ(all, "Sinus rhythm\r\nNormal axis\r\n\r\nQT 400 ms\r\nend\r\n");
  for (size_t t = 0; t < data.size(); ++t) {
    std::vector<uint8_t> cut(data.begin(), data.begin() + t);
    TestRecord back;
    back.SetConfirmedInterpretation(nullptr, "sentinel");
    EXPECT_EQ(Read(recb::Wrap(8, cut), back), 1);
    std::string got = back.GetInterpretationText();
    // The pad byte of an odd cut makes a header of 8 bytes 9 long.
    if (t + (t & 1) < 9) {
      EXPECT_EQ(got, "sentinel") << t;
      continue;
    }
    EXPECT_EQ(back.GetInterpretationStatus(), 1u) << t;
    // An odd cut gains the zero pad byte, which can complete the cut
    // statement; the NUL is left out and the statement gets its CR LF.
    if ((t & 1) && got.size() >= 2 && got.compare(got.size() - 2, 2, "\r\n") == 0 &&
        all.compare(0, got.size(), got) != 0)
      got.resize(got.size() - 2);
    EXPECT_EQ(all.compare(0, got.size(), got), 0) << t << ": " << got;
  }
}

TEST_F(Section8Test, RandomByteFlipsStayInBounds) {
  TestRecord rec;
  rec.SetOriginalInterpretation(nullptr, "AAAA\r\nBBBBBBBB\r\nC\r\nDDDDDDDDDDDDDDDDDDDDDDDD");
  auto data = Written(rec);
  std::mt19937 rng(8);
  for (int round = 0; round < 400; ++round) {
    auto bad = data;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
    TestRecord back;
    EXPECT_EQ(Read(recb::Wrap(8, bad), back), 1);
    EXPECT_LT(std::strlen(back.GetInterpretationText()), TestRecord::kInterpretationCapacity);
    EXPECT_LE(back.GetInterpretationStatus(), 2u);
  }
}

}  // namespace
