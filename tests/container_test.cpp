// The record container: header, section 0, framing, padding and the
// reader's checks of each section.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/bytes.h"
#include "lib/eventlog.h"
#include "log_capture.h"
#include "scp/crc.h"
#include "scp/scpecg.h"
#include "test_util.h"

namespace {

std::vector<uint8_t> Finish(ScpEcg& codec) {
  uint32_t length = 0;
  const uint8_t* p = codec.FinalizeRecordHeader(&length);
  return p ? std::vector<uint8_t>(p, p + length) : std::vector<uint8_t>{};
}

// Writes a section with the given data bytes; returns its start index.
uint32_t AddSection(ScpEcg& codec, uint16_t id, const std::vector<uint8_t>& data) {
  uint32_t start = 0, remaining = 0;
  uint32_t at = codec.BeginSection(&start, &remaining);
  EXPECT_GT(at, 0u);
  at = codec.PutBytes(at, data.data(), 0, static_cast<uint32_t>(data.size()));
  EXPECT_TRUE(codec.EndSection(at, id, start));
  return start;
}

uint16_t Crc(const std::vector<uint8_t>& b, size_t first, size_t count) { return scpcrc::Portable(b.data() + first, count); }

class ContainerTest : public ::testing::Test {
 protected:
  LogCapture cap;
  EventLog log{plat::ThisModule()};
  TempDir dir;
};

TEST_F(ContainerTest, EmptyRecordIs352BytesWithAFullPointerTable) {
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.FormatRecordHeader(1000000));
  auto rec = Finish(codec);
  ASSERT_EQ(rec.size(), 352u);
  EXPECT_EQ(LoadU32(&rec[2]), 352u);
  EXPECT_EQ(LoadU16(&rec[0]), Crc(rec, 2, 350));
  // Section 0 header.
  EXPECT_EQ(LoadU16(&rec[8]), 0);
  EXPECT_EQ(LoadU32(&rec[10]), 346u);
  EXPECT_EQ(rec[14], 13);
  EXPECT_EQ(rec[15], 13);
  EXPECT_EQ(std::memcmp(&rec[16], "SCPECG", 6), 0);
  EXPECT_EQ(LoadU16(&rec[6]), Crc(rec, 8, 344));
  int zero = 0;
  for (int i = 0; i < 33; ++i) {
    const uint8_t* e = &rec[22 + 10 * i];
    EXPECT_EQ(LoadU16(e), ScpEcg::kSectionIds[i]);
    if (i == 0) {
      EXPECT_EQ(LoadU32(e + 2), 346u);
      EXPECT_EQ(LoadU32(e + 6), 7u);
    } else {
      zero += LoadU32(e + 2) == 0 && LoadU32(e + 6) == 0;
    }
  }
  EXPECT_EQ(zero, 32);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(ContainerTest, OddSectionsArePaddedAndCoveredByTheirCrc) {
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.FormatRecordHeader(4096));
  uint32_t s1 = AddSection(codec, 1, {0xAA, 0xBB, 0xCC});
  uint32_t s8 = AddSection(codec, 8, {1, 2});
  auto rec = Finish(codec);
  EXPECT_EQ(s1, 353u);
  EXPECT_EQ(s8, 353u + 20) << "the next section starts after the pad";
  const uint8_t* h = &rec[s1 - 1];
  EXPECT_EQ(LoadU32(h + 4), 20u);
  EXPECT_EQ(rec[s1 - 1 + 19], 0) << "pad byte";
  EXPECT_EQ(LoadU16(h), Crc(rec, s1 + 1, 18));
  // Pointer table entry of section 1 (slot 1).
  EXPECT_EQ(LoadU32(&rec[22 + 10 + 2]), 20u);
  EXPECT_EQ(LoadU32(&rec[22 + 10 + 6]), 353u);
  EXPECT_EQ(rec.size(), 352u + 20 + 18);
  EXPECT_EQ(LoadU32(&rec[2]), rec.size());
}

TEST_F(ContainerTest, SectionsBegunButNotEndedStayAbsent) {
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.FormatRecordHeader(4096));
  uint32_t start = 0;
  ASSERT_EQ(codec.BeginSection(&start, nullptr), 352u + 16);
  uint32_t next = AddSection(codec, 2, {0x1F, 0x4E});
  EXPECT_EQ(next, 352u + 16 + 1) << "the abandoned header's 16 bytes stay in the record";
  EXPECT_FALSE(codec.EndSection(400, 132, 353)) << "ids outside the table cannot be written";
  auto rec = Finish(codec);
  EXPECT_EQ(rec.size(), 352u + 16 + 18);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(rec[352 + i], 0);
}

TEST_F(ContainerTest, BeginSectionRefusesWithoutRoomOrBuffer) {
  ScpEcg none(nullptr, &log);
  EXPECT_EQ(none.BeginSection(nullptr, nullptr), 0u);
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4445, "SCP-ECG: Buffer NULL"));

  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.FormatRecordHeader(352 + 16 + 15));
  uint32_t start = 0, remaining = 0;
  ASSERT_EQ(codec.BeginSection(&start, &remaining), 368u);
  EXPECT_EQ(remaining, 15u);
  EXPECT_EQ(codec.BeginSection(&start, &remaining), 0u);
  EXPECT_EQ(codec.position(), 368u) << "position unchanged";
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4440, "SCP-ECG: Buffer overflow"));
}

TEST_F(ContainerTest, TooSmallABufferIsRefused) {
  ScpEcg codec(nullptr, &log);
  EXPECT_FALSE(codec.FormatRecordHeader(100));
  EXPECT_TRUE(cap.Has("LOGMEMORYERROR", "scpecg", 4489, ""));
  EXPECT_TRUE(cap.Has("LOGMEMORYERROR", "scpecg", 1380, ""));
  EXPECT_EQ(codec.FinalizeRecordHeader(nullptr), nullptr);
}

class ContainerReadTest : public ContainerTest {
 protected:
  std::string path = dir.File("r.scp");
  std::vector<uint8_t> rec;
  uint32_t s1 = 0, s8 = 0, s130 = 0;

  void SetUp() override {
    ScpEcg codec(nullptr, &log);
    ASSERT_TRUE(codec.FormatRecordHeader(1 << 16));
    s1 = AddSection(codec, 1, {1, 2, 3, 4, 5});
    s8 = AddSection(codec, 8, std::vector<uint8_t>(100, 8));
    s130 = AddSection(codec, 130, {7, 7, 7, 7});
    rec = Finish(codec);
    ASSERT_TRUE(WriteFileBytes(path, rec));
    cap.Clear();
  }
  void Store() { ASSERT_TRUE(WriteFileBytes(path, rec)); }
  void FixSection0Crc() { StoreU16(&rec[6], Crc(rec, 8, LoadU32(&rec[10]) - 2)); }
};

TEST_F(ContainerReadTest, ReadsBackEverySectionWithPadding) {
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.OpenRecord(path.c_str()));
  EXPECT_EQ(codec.sectionCount(), 33);
  uint32_t n = 0;
  auto d1 = codec.GetSection(1, &n);
  ASSERT_TRUE(d1);
  EXPECT_EQ(n, 6u) << "padding byte included";
  EXPECT_EQ(std::vector<uint8_t>(d1.get(), d1.get() + n), (std::vector<uint8_t>{1, 2, 3, 4, 5, 0}));
  auto d8 = codec.GetSection(8, &n);
  ASSERT_TRUE(d8);
  EXPECT_EQ(n, 100u);
  EXPECT_FALSE(codec.GetSection(2, &n)) << "absent section";
  EXPECT_FALSE(codec.GetSection(132, &n)) << "id not in the table";
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
}

TEST_F(ContainerReadTest, RecordCrcAndLengthAreNotChecked) {
  rec[0] ^= 0xFF;
  StoreU32(&rec[2], 12345);
  Store();
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.OpenRecord(path.c_str()));
  uint32_t n = 0;
  EXPECT_TRUE(codec.GetSection(8, &n));
}

TEST_F(ContainerReadTest, OpeningFailures) {
  {
    ScpEcg codec(nullptr, &log);
    EXPECT_FALSE(codec.OpenRecord(""));
    EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 1351, "invalid file name"));
    EXPECT_FALSE(codec.OpenRecord(nullptr));
  }
  {
    ScpEcg codec(nullptr, &log);
    EXPECT_FALSE(codec.OpenRecord(dir.File("none.scp").c_str()));
    EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 1350, "file not opened for read"));
  }
  rec.resize(21);
  Store();
  {
    ScpEcg codec(nullptr, &log);
    EXPECT_FALSE(codec.OpenRecord(path.c_str()));
    EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4422, "SCP: invalid size"));
  }
}

TEST_F(ContainerReadTest, Section0PastTheFileOrBlockOrWithBadCrc) {
  std::vector<uint8_t> good = rec;
  rec.resize(300);  // section 0 reaches past the end of the file
  Store();
  {
    ScpEcg codec(nullptr, &log);
    EXPECT_FALSE(codec.OpenRecord(path.c_str()));
    EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4416, "SCP: not SCP file"));
  }
  rec = good;
  StoreU32(&rec[10], 1100);  // longer than the 1024-byte block
  rec.resize(2000);
  Store();
  cap.Clear();
  {
    ScpEcg codec(nullptr, &log);
    EXPECT_FALSE(codec.OpenRecord(path.c_str()));
    EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4416, "SCP: not SCP file"));
  }
  rec = good;
  rec[30] ^= 1;
  Store();
  {
    ScpEcg codec(nullptr, &log);
    EXPECT_FALSE(codec.OpenRecord(path.c_str()));
    EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4415, "SCP: header CRC"));
  }
}

TEST_F(ContainerReadTest, A34EntryTableKeepsTheFirst33) {
  // Grow section 0 by one entry that points at section 8's bytes.
  std::vector<uint8_t> grown(rec.begin(), rec.begin() + 352);
  uint8_t extra[10];
  StoreU16(extra, 8);
  StoreU32(extra + 2, 116);
  StoreU32(extra + 6, s8);  // shifted with the others below
  grown.insert(grown.end(), extra, extra + 10);
  grown.insert(grown.end(), rec.begin() + 352, rec.end());
  StoreU32(&grown[10], 356);
  // Every index behind section 0 moves by 10.
  for (int i = 1; i < 34; ++i) {
    uint8_t* e = &grown[22 + 10 * i];
    if (LoadU32(e + 6)) StoreU32(e + 6, LoadU32(e + 6) + 10);
  }
  rec = grown;
  FixSection0Crc();
  Store();
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.OpenRecord(path.c_str()));
  EXPECT_EQ(codec.sectionCount(), 33);
  auto lines = cap.Messages();
  ASSERT_EQ(lines.size(), 1u) << cap.Dump();
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4406, "SCP: too many section indices"));
  uint32_t n = 0;
  EXPECT_TRUE(codec.GetSection(130, &n));
}

TEST_F(ContainerReadTest, DamagedSectionsAreReportedWithTheirId) {
  rec[s8 - 1 + 16 + 50] ^= 0x01;  // one flipped data byte
  Store();
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.OpenRecord(path.c_str()));
  uint32_t n = 0;
  EXPECT_FALSE(codec.GetSection(8, &n));
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4830, "SCP-ECG: CRC error ( section 8 )")) << cap.Dump();
  EXPECT_TRUE(codec.GetSection(1, &n)) << "the rest stays readable";
}

TEST_F(ContainerReadTest, PointerToAnotherSectionsHeader) {
  // Section 130's entry points at section 1 with section 1's length.
  uint8_t* e130 = &rec[22 + 10 * 13];
  ASSERT_EQ(LoadU16(e130), 130);
  StoreU32(e130 + 2, 22);
  StoreU32(e130 + 6, s1);
  FixSection0Crc();
  Store();
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.OpenRecord(path.c_str()));
  uint32_t n = 0;
  EXPECT_FALSE(codec.GetSection(130, &n));
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4830, "SCP-ECG: id does not match pointer id ( section 130 )"))
      << cap.Dump();
}

TEST_F(ContainerReadTest, LengthMismatchShortReadAndTinyEntries) {
  uint8_t* e1 = &rec[22 + 10];
  StoreU32(e1 + 2, 24);  // entry longer than the header says
  uint8_t* e8 = &rec[22 + 10 * 8];
  ASSERT_EQ(LoadU16(e8), 8);
  StoreU32(e8 + 2, 16);  // no room for anything behind the header
  uint8_t* e130 = &rec[22 + 10 * 13];
  StoreU32(e130 + 6, static_cast<uint32_t>(rec.size()) - 4);  // runs past the end of the file
  FixSection0Crc();
  Store();
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.OpenRecord(path.c_str()));
  uint32_t n = 0;
  EXPECT_FALSE(codec.GetSection(1, &n));
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4830, "SCP-ECG: Record length damage ( section 1 )"));
  EXPECT_FALSE(codec.GetSection(8, &n));
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4830, "SCP-ECG: Record length damage ( section 8 )"));
  EXPECT_FALSE(codec.GetSection(130, &n));
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4830, "SCP-ECG: Read error ( section 130 )")) << cap.Dump();
}

}  // namespace
