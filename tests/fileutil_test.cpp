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

class FileUtilTest : public ::testing::Test {
 protected:
  // The messages as "CALL source:line text" (source and line only when given).
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const LogLine& l : cap.Messages())
      out.push_back(l.call + (l.line >= 0 ? " " + l.source + ":" + std::to_string(l.line) : "") + " " + l.text);
    return out;
  }
  LogCapture cap;
  EventLog log{plat::ThisModule()};
  TempDir dir;
};

TEST_F(FileUtilTest, OpenForReadWithoutNameOrFile) {
  FileUtil f;
  EXPECT_FALSE(f.OpenForRead(&log));
  EXPECT_FALSE(f.OpenForRead(nullptr));
  EXPECT_EQ(Messages(), std::vector<std::string>{"LOGOEMERROR lib/fileutil:320 Filename NULL"});
  const std::string missing = dir.File("missing.scp");
  ASSERT_TRUE(f.SetFileName(missing.c_str()));
  cap.Clear();
  EXPECT_FALSE(f.OpenForRead(&log));
  EXPECT_FALSE(f.OpenForRead(nullptr));  // no log given, nothing logged
  EXPECT_EQ(Messages(), (std::vector<std::string>{"LOGSYSTEMERROR Could not open File",
                                                  "LOGOEMERROR lib/fileutil:318 " + missing}));
}

TEST_F(FileUtilTest, OpenForWriteReplacesOnlyWhenAsked) {
  const std::string path = dir.File("out.scp");
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
  char text[513];
  plat::FormatMessage(plat::kErrorFileExists, text, sizeof text);
  std::vector<std::string> expected;
  std::string line;
  for (const char* p = text;; ++p) {
    if (*p == '\0' || *p == '\r' || *p == '\n') {
      if (!line.empty()) expected.push_back("LOGSYSTEMERROR " + line);
      line.clear();
      if (*p == '\0') break;
    } else {
      line += *p;
    }
  }
  ASSERT_FALSE(expected.empty());
#ifndef _WIN32
  EXPECT_EQ(expected, std::vector<std::string>{"LOGSYSTEMERROR The file exists."});
#endif
  expected.push_back("LOGSYSTEMERROR Could not open " + path);
  EXPECT_EQ(Messages(), expected);
  ASSERT_TRUE(f.OpenForWrite(true, &log));
  ASSERT_TRUE(f.Write("abc", 3));
  f.Close();
  EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'a', 'b', 'c'}));
  // Writing before an open leaves the system's "invalid data".
  FileUtil closed;
  plat::SetLastError(0);
  EXPECT_FALSE(closed.Write("x", 1));
  EXPECT_EQ(plat::GetLastError(), 13u);
}

TEST_F(FileUtilTest, ReadSeekAndSize) {
  const std::string path = dir.File("r.bin");
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
  EXPECT_EQ(Messages(), std::vector<std::string>{"LOGOEMERROR lib/fileutil:349 Invalid position"});
  f.Close();
  EXPECT_EQ(f.GetSize(), 0u);
  cap.Clear();
  EXPECT_EQ(f.Read(4, buf, &log), 0u);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"LOGSYSTEMERROR Could not read File",
                                                  "LOGOEMERROR lib/fileutil:335 " + path}));
}

TEST_F(FileUtilTest, NamesAndDirectories) {
  FileUtil f;
  EXPECT_EQ(f.GetFileName(0), nullptr);
  ASSERT_TRUE(f.SetFileName("C:\\data\\x.scp"));
  EXPECT_STREQ(f.GetFileName(0), "C:\\data\\x.scp");
  EXPECT_EQ(f.GetFileName(1), nullptr);
  const std::string sub = dir.path() + "\\one";
  EXPECT_FALSE(FileUtil::Exists(sub.c_str()));
  FileUtil::CreateDirectory(sub.c_str());
  EXPECT_TRUE(FileUtil::Exists(sub.c_str()));
  FileUtil::CreateDirectory((dir.path() + "\\two\\three").c_str());
  EXPECT_FALSE(FileUtil::Exists((dir.path() + "\\two").c_str())) << "one level only";
  EXPECT_FALSE(FileUtil::Exists(nullptr));
}

}  // namespace
