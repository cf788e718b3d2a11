// The file object: every message with its source and line.
#include <gtest/gtest.h>

#include <string>

#include "lib/eventlog.h"
#include "lib/fileutil.h"
#include "log_capture.h"
#include "test_util.h"

namespace {

class FileUtilTest : public ::testing::Test {
 protected:
  LogCapture cap;
  EventLog log{plat::ThisModule()};
  TempDir dir;
};

TEST_F(FileUtilTest, OpenForReadWithoutNameOrFile) {
  FileUtil f;
  EXPECT_FALSE(f.OpenForRead(&log));
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "lib/fileutil", 320, "Filename NULL"));
  EXPECT_FALSE(f.OpenForRead(nullptr));

  std::string missing = dir.File("missing.scp");
  ASSERT_TRUE(f.SetFileName(missing.c_str()));
  cap.Clear();
  EXPECT_FALSE(f.OpenForRead(&log));
  auto lines = cap.Messages();
  ASSERT_EQ(lines.size(), 2u) << cap.Dump();
  EXPECT_EQ(lines[0].call, "LOGSYSTEMERROR");
  EXPECT_EQ(lines[0].text, "Could not open File");
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "lib/fileutil", 318, missing));
  cap.Clear();
  EXPECT_FALSE(f.OpenForRead(nullptr));
  EXPECT_TRUE(cap.Messages().empty()) << "no log given, nothing logged";
}

TEST_F(FileUtilTest, OpenForWriteReplacesOnlyWhenAsked) {
  std::string path = dir.File("out.scp");
  ASSERT_TRUE(WriteFileBytes(path, std::vector<uint8_t>(100, 7)));
  FileUtil f;
  EXPECT_FALSE(f.OpenForWrite(true, &log)) << "no name";
  EXPECT_TRUE(cap.Messages().empty());
  ASSERT_TRUE(f.SetFileName(path.c_str()));
  EXPECT_FALSE(f.OpenForWrite(false, &log));
  auto lines = cap.Messages();
  ASSERT_EQ(lines.size(), 2u) << cap.Dump();
  EXPECT_EQ(lines[0].call, "LOGSYSTEMERROR");
  EXPECT_EQ(lines[0].text, "The file exists.");
  EXPECT_EQ(lines[1].call, "LOGSYSTEMERROR");
  EXPECT_EQ(lines[1].text, "Could not open " + path);

  ASSERT_TRUE(f.OpenForWrite(true, &log));
  ASSERT_TRUE(f.Write("abc", 3));
  f.Close();
  EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST_F(FileUtilTest, WriteBeforeOpenLeavesInvalidData) {
  FileUtil f;
  plat::SetLastError(0);
  EXPECT_FALSE(f.Write("x", 1));
  EXPECT_EQ(plat::GetLastError(), 13u);
}

TEST_F(FileUtilTest, ReadSeekAndSize) {
  std::string path = dir.File("r.bin");
  ASSERT_TRUE(WriteFileBytes(path, {1, 2, 3, 4, 5}));
  FileUtil f;
  ASSERT_TRUE(f.SetFileName(path.c_str()));
  ASSERT_TRUE(f.OpenForRead(&log));
  EXPECT_EQ(f.GetSize(), 5u);
  uint8_t buf[8] = {};
  EXPECT_EQ(f.Read(8, buf, &log), 5u);
  EXPECT_EQ(f.Read(8, buf, &log), 0u) << "end of file reads nothing, silently";
  EXPECT_TRUE(f.Seek(100, &log)) << "seeking past the end is allowed";
  EXPECT_EQ(f.Read(8, buf, &log), 0u);
  EXPECT_TRUE(f.Seek(3, &log));
  EXPECT_EQ(f.Read(8, buf, &log), 2u);
  EXPECT_EQ(buf[0], 4);
  EXPECT_TRUE(cap.Messages().empty()) << cap.Dump();
  EXPECT_FALSE(f.Seek(0x80000000u, &log));
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "lib/fileutil", 349, "Invalid position"));
  f.Close();
  EXPECT_EQ(f.GetSize(), 0u);
  cap.Clear();
  EXPECT_EQ(f.Read(4, buf, &log), 0u);
  auto lines = cap.Messages();
  ASSERT_EQ(lines.size(), 2u) << cap.Dump();
  EXPECT_EQ(lines[0].text, "Could not read File");
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "lib/fileutil", 335, path));
}

TEST_F(FileUtilTest, NamesAndDirectories) {
  FileUtil f;
  EXPECT_EQ(f.GetFileName(0), nullptr);
  ASSERT_TRUE(f.SetFileName("C:\\data\\x.scp"));
  EXPECT_STREQ(f.GetFileName(0), "C:\\data\\x.scp");
  EXPECT_EQ(f.GetFileName(1), nullptr);
  std::string sub = dir.path() + "\\one";
  EXPECT_FALSE(FileUtil::Exists(sub.c_str()));
  FileUtil::CreateDirectory(sub.c_str());
  EXPECT_TRUE(FileUtil::Exists(sub.c_str()));
  FileUtil::CreateDirectory((dir.path() + "\\two\\three").c_str());
  EXPECT_FALSE(FileUtil::Exists((dir.path() + "\\two").c_str())) << "one level only";
  EXPECT_FALSE(FileUtil::Exists(nullptr));
}

}  // namespace
