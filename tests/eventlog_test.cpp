// The binding to the log library: version check, failed state, teardown.
#include <gtest/gtest.h>

#include <string>

#include "lib/eventlog.h"
#include "log_capture.h"
#include "test_util.h"

namespace {

class EventLogTest : public ::testing::Test {
 protected:
  void TearDown() override { EventLog::SetLibraryNameForTesting(nullptr); }
  // A test variant of the log library, named by its full path.
  static std::string Variant(const char* name) { return BuiltModulePath(name); }
};

TEST_F(EventLogTest, ForwardsEveryCallWithItsArguments) {
  LogCapture cap;
  {
    EventLog log(plat::ThisModule());
    ASSERT_TRUE(log.loaded());
    log.LogOemError("scpecg", 4440, "SCP-ECG: Buffer overflow");
    log.LogMemoryError("scpsrv", 134);
    log.LogException("AddAccessionNumber");
    log.LogInformation("SCP Save Test Record [x]");
    log.LogSystemError("Could not open File");
    log.LogOemMessage("SAVE: 4000:1000 (25%)");
    log.LogServiceStart("start");
    log.LogServiceStop("stop");
    log.LogMessage7100();
  }
  auto lines = cap.Lines();
  ASSERT_EQ(lines.size(), 11u) << cap.Dump();
  EXPECT_EQ(lines[0].call, "LIBSTART");
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4440, "SCP-ECG: Buffer overflow"));
  EXPECT_EQ(lines[2].call, "LOGMEMORYERROR");
  EXPECT_EQ(lines[2].source, "scpsrv");
  EXPECT_EQ(lines[2].line, 134);
  EXPECT_FALSE(lines[2].hasText);
  EXPECT_TRUE(cap.HasText("LOGEXCEPTION", "AddAccessionNumber"));
  EXPECT_TRUE(cap.HasText("LOGINFORMATION", "SCP Save Test Record [x]"));
  EXPECT_TRUE(cap.HasText("LOGOEMMESSAGE", "SAVE: 4000:1000 (25%)"));
  EXPECT_TRUE(cap.HasText("LOGSERVICESTART", "start"));
  EXPECT_TRUE(cap.HasText("LOGSERVICESTOP", "stop"));
  EXPECT_EQ(lines[9].call, "LOGSYSTEMERROR");
  EXPECT_EQ(lines[9].text, "QMXDB: Fallimento nello scrivere il documento del test .  Vedere il registro per i dettagli");
  EXPECT_EQ(lines[10].call, "LIBSTOP");
}

TEST_F(EventLogTest, EightBitTextsSurviveTheLogFile) {
  LogCapture cap;
  EventLog log(plat::ThisModule());
  std::string text = "Pr\xE9sident \"quoted\" back\\slash\ttab\r\n";
  log.LogOemError("lib/system", 1, text.c_str());
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "lib/system", 1, text)) << cap.Dump();
}

TEST_F(EventLogTest, TooOldALibraryIsDroppedWithoutAnyCall) {
  LogCapture cap;
  EventLog::SetLibraryNameForTesting(Variant("evtlib03_old").c_str());
  {
    EventLog log(plat::ThisModule());
    EXPECT_FALSE(log.loaded());
    EXPECT_TRUE(log.failed());
    EXPECT_EQ(log.LogOemError("scpecg", 1, "x"), 0);
  }
  EXPECT_TRUE(cap.Lines().empty()) << cap.Dump();
}

TEST_F(EventLogTest, OneMissingExportSilencesTheBindingButNotItsTeardown) {
  LogCapture cap;
  EventLog::SetLibraryNameForTesting(Variant("evtlib03_noemmsg").c_str());
  {
    EventLog log(plat::ThisModule());
    ASSERT_TRUE(log.loaded());
    EXPECT_EQ(log.LogOemError("scpecg", 1, "before"), 1);
    EXPECT_EQ(log.LogOemMessage("missing"), 0);
    EXPECT_TRUE(log.failed());
    EXPECT_EQ(log.LogOemError("scpecg", 2, "after"), 0);
    EXPECT_EQ(log.LogSystemError("after"), 0);
  }
  auto lines = cap.Lines();
  ASSERT_EQ(lines.size(), 3u) << cap.Dump();
  EXPECT_EQ(lines[0].call, "LIBSTART");
  EXPECT_EQ(lines[1].text, "before");
  EXPECT_EQ(lines[2].call, "LIBSTOP");
}

TEST_F(EventLogTest, ALibraryWithoutLibstartIsStillUsed) {
  LogCapture cap;
  EventLog::SetLibraryNameForTesting(Variant("evtlib03_nolibstart").c_str());
  {
    EventLog log(plat::ThisModule());
    EXPECT_FALSE(log.failed());
    log.LogInformation("hello");
  }
  auto lines = cap.Lines();
  ASSERT_EQ(lines.size(), 2u) << cap.Dump();
  EXPECT_EQ(lines[0].call, "LOGINFORMATION");
  EXPECT_EQ(lines[1].call, "LIBSTOP");
}

TEST_F(EventLogTest, NoLibraryMeansNothingIsCalled) {
  LogCapture cap;
  EventLog::SetLibraryNameForTesting("nosuchlog.dll");
  EventLog log(plat::ThisModule());
  EXPECT_FALSE(log.loaded());
  EXPECT_FALSE(log.failed());
  EXPECT_EQ(log.LogMessage7100(), 0);
  EXPECT_TRUE(cap.Lines().empty());
}

}  // namespace
