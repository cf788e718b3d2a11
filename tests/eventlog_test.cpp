// The binding to the log library: every call forwarded, the version check,
// the failed state and the teardown.
#include <gtest/gtest.h>

#include <string>

#include "lib/eventlog.h"
#include "log_capture.h"
#include "test_util.h"

namespace {

// The calls the log library saw, in order, separated by blanks.
std::string Calls(const LogCapture& cap) {
  std::string out;
  for (const LogLine& l : cap.Lines()) out += (out.empty() ? "" : " ") + l.call;
  return out;
}

class EventLogTest : public ::testing::Test {
 protected:
  void TearDown() override { EventLog::SetLibraryNameForTesting(nullptr); }
  // A test variant of the log library, named by its full path.
  static void Use(const char* name) { EventLog::SetLibraryNameForTesting(BuiltModulePath(name).c_str()); }
  LogCapture cap;
};

TEST_F(EventLogTest, ForwardsEveryCallWithItsArguments) {
  const std::string eightBit = "Pr\xE9sident \"quoted\" back\\slash\ttab\r\n";
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
    log.LogOemError("lib/system", 1, eightBit.c_str());
  }
  EXPECT_EQ(Calls(cap),
            "LIBSTART LOGOEMERROR LOGMEMORYERROR LOGEXCEPTION LOGINFORMATION LOGSYSTEMERROR LOGOEMMESSAGE "
            "LOGSERVICESTART LOGSERVICESTOP LOGSYSTEMERROR LOGOEMERROR LIBSTOP");
  const auto lines = cap.Lines();
  ASSERT_EQ(lines.size(), 12u) << cap.Dump();
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 4440, "SCP-ECG: Buffer overflow"));
  EXPECT_TRUE(lines[2].source == "scpsrv" && lines[2].line == 134 && !lines[2].hasText) << cap.Dump();
  EXPECT_EQ(lines[3].text, "AddAccessionNumber");
  EXPECT_EQ(lines[4].text, "SCP Save Test Record [x]");
  EXPECT_EQ(lines[5].text, "Could not open File");
  EXPECT_EQ(lines[6].text, "SAVE: 4000:1000 (25%)");
  EXPECT_EQ(lines[7].text, "start");
  EXPECT_EQ(lines[8].text, "stop");
  EXPECT_EQ(lines[9].text, "QMXDB: Fallimento nello scrivere il documento del test .  Vedere il registro per i dettagli");
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "lib/system", 1, eightBit)) << "8-bit texts survive the log file";
}

TEST_F(EventLogTest, TooOldALibraryIsDroppedWithoutAnyCall) {
  Use("evtlib03_old");
  {
    EventLog log(plat::ThisModule());
    EXPECT_FALSE(log.loaded());
    EXPECT_TRUE(log.failed());
    EXPECT_EQ(log.LogOemError("scpecg", 1, "x"), 0);
  }
  EXPECT_EQ(Calls(cap), "");
}

TEST_F(EventLogTest, OneMissingExportSilencesTheBindingButNotItsTeardown) {
  Use("evtlib03_noemmsg");
  {
    EventLog log(plat::ThisModule());
    ASSERT_TRUE(log.loaded());
    EXPECT_EQ(log.LogOemError("scpecg", 1, "before"), 1);
    EXPECT_EQ(log.LogOemMessage("missing"), 0);
    EXPECT_TRUE(log.failed());
    EXPECT_EQ(log.LogOemError("scpecg", 2, "after"), 0);
    EXPECT_EQ(log.LogSystemError("after"), 0);
  }
  EXPECT_EQ(Calls(cap), "LIBSTART LOGOEMERROR LIBSTOP");
  EXPECT_TRUE(cap.Has("LOGOEMERROR", "scpecg", 1, "before"));
}

TEST_F(EventLogTest, ALibraryWithoutLibstartIsStillUsed) {
  Use("evtlib03_nolibstart");
  {
    EventLog log(plat::ThisModule());
    EXPECT_FALSE(log.failed());
    log.LogInformation("hello");
  }
  EXPECT_EQ(Calls(cap), "LOGINFORMATION LIBSTOP");
}

TEST_F(EventLogTest, NoLibraryMeansNothingIsCalled) {
  EventLog::SetLibraryNameForTesting("nosuchlog.dll");
  EventLog log(plat::ThisModule());
  EXPECT_FALSE(log.loaded());
  EXPECT_FALSE(log.failed());
  EXPECT_EQ(log.LogMessage7100(), 0);
  EXPECT_EQ(Calls(cap), "");
}

}  // namespace
