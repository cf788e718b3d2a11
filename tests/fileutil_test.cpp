// The file object: every message with its source and line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/eventlog.h"
#include "lib/fileutil.h"
#include "log_capture.h"
#include "platform/platform.h"
#include "test_util.h"

namespace {

// The non-empty lines of the platform's message text for an error code.
std::vector<std::string> TextLines(uint32_t code) {
  char text[513];
  plat::FormatMessage(code, text, sizeof text);
  std::vector<std::string> lines;
  std::string line;
  for (const char* p = text;; ++p) {
    if (*p == '\0' || *p == '\r' || *p == '\n') {
      if (!line.empty()) lines.push_back(line);
      line.clear();
      if (*p == '\0') break;
    } else {
      line += *p;
    }
  }
  return lines;
}

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
  // The system's text for the error, one log line per line of it, then the
  // file. On Windows the text is the system's own (Wine words some texts
  // differently from Microsoft); on POSIX it is the layer's copy of
  // Windows' text.
  const std::vector<std::string> expected = TextLines(plat::kErrorFileExists);
  ASSERT_FALSE(expected.empty());
#ifndef _WIN32
  EXPECT_EQ(expected, std::vector<std::string>{"The file exists."});
#endif
  auto lines = cap.Messages();
  ASSERT_EQ(lines.size(), expected.size() + 1) << cap.Dump();
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(lines[i].call, "LOGSYSTEMERROR");
    EXPECT_EQ(lines[i].text, expected[i]);
  }
  EXPECT_EQ(lines.back().call, "LOGSYSTEMERROR");
  EXPECT_EQ(lines.back().text, "Could not open " + path);

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
