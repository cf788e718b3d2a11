// Start count, service lifetime and the start and stop lines, both through
// the library state directly and through the shared library as a host
// loads it.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "log_capture.h"
#include "platform/platform.h"
#include "plugin_module.h"
#include "scp/library.h"
#include "scp/scpsrv.h"
#include "scp/service.h"
#include "test_util.h"

namespace {

const std::regex kStartLine(R"(^SCP-ECG Record Service \(4000008 - [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\)$)");

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override { scplib::Attach(plat::ThisModule()); }
  void TearDown() override {
    while (scplib::StartCount() > 0) scplib::LibStop();
    scplib::Attach(plat::ThisModule());
    plat::SetOwnVersionResourceForTesting(nullptr);
  }
};

TEST_F(LifecycleTest, NestedPairsShareOneService) {
  LogCapture cap;
  scplib::LibStart();
  ScpService* first = scplib::Service();
  ASSERT_NE(first, nullptr);
  scplib::LibStart();
  EXPECT_EQ(scplib::Service(), first);
  EXPECT_EQ(cap.Count("LOGSERVICESTART"), 1u);
  scplib::LibStop();
  EXPECT_EQ(scplib::Service(), first);
  EXPECT_EQ(cap.Count("LOGSERVICESTOP"), 0u);
  scplib::LibStop();
  EXPECT_EQ(scplib::Service(), nullptr);
  auto lines = cap.Lines();
  ASSERT_EQ(lines.size(), 4u) << cap.Dump();
  EXPECT_EQ(lines[0].call, "LIBSTART");
  EXPECT_EQ(lines[1].call, "LOGSERVICESTART");
  EXPECT_TRUE(std::regex_match(lines[1].text, kStartLine)) << lines[1].text;
  EXPECT_EQ(lines[2].call, "LOGSERVICESTOP");
  EXPECT_EQ(lines[2].text, lines[1].text);
  EXPECT_EQ(lines[3].call, "LIBSTOP");
}

TEST_F(LifecycleTest, UnmatchedStopDrivesTheCountNegative) {
  LogCapture cap;
  scplib::LibStop();
  EXPECT_EQ(scplib::StartCount(), -1);
  scplib::LibStart();
  EXPECT_EQ(scplib::StartCount(), 0);
  EXPECT_EQ(scplib::Service(), nullptr);
  EXPECT_TRUE(cap.Lines().empty());
  scplib::LibStart();
  EXPECT_NE(scplib::Service(), nullptr);
}

TEST_F(LifecycleTest, NothingStartsWithoutAModuleHandle) {
  scplib::Attach(nullptr);
  scplib::LibStart();
  EXPECT_EQ(scplib::StartCount(), 0);
  EXPECT_EQ(scplib::Service(), nullptr);
}

TEST_F(LifecycleTest, EmptyDescriptionWhenTheResourceHasNoTranslation) {
  plat::VersionResource bare{plat::kVersionSignature, {0, 4, 0, 8}, nullptr, "not reachable"};
  plat::SetOwnVersionResourceForTesting(&bare);
  LogCapture cap;
  scplib::LibStart();
  auto lines = cap.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1].text.rfind(" (40008 - ", 0), 0u) << lines[1].text;
}

// The shared library, loaded the way a host loads the plug-in.
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin_.loaded()) << BuiltModulePath("scpsrv") << ": error " << plugin_.loadError();
  }
  template <typename F>
  F Fn(const char* name) {
    return plugin_.Fn<F>(name);
  }
  PluginModule plugin_;
};

TEST_F(PluginTest, DataExportsWithoutServiceAnswerTheirFailureValues) {
  LogCapture cap;
  EXPECT_EQ(Fn<int32_t(SCP_STDCALL*)(const char*)>("GETPROCEDURETYPE")("x.scp"), 7);
  EXPECT_EQ(Fn<int32_t(SCP_STDCALL*)(const char*, ValidFormatInfo*)>("ISVALIDFORMAT")("x.scp", nullptr), 0);
  EXPECT_EQ(Fn<int32_t(SCP_STDCALL*)(TestRecord*, const char*)>("SAVETESTRECORD")(nullptr, "x.scp"), 0);
  EXPECT_EQ(Fn<int32_t(SCP_STDCALL*)(TestRecord*)>("FETCHTEST")(nullptr), 0);
  EXPECT_EQ(Fn<int32_t(SCP_STDCALL*)(int32_t, int32_t)>("READORDER")(1, 2), 0);
  EXPECT_EQ(Fn<int32_t(SCP_STDCALL*)(int32_t, int32_t, int32_t)>("SAVEDBREFERENCE")(1, 2, 3), 0);
  EXPECT_EQ(Fn<int32_t(SCP_STDCALL*)(int32_t, int32_t)>("READTESTREFERENCE")(1, 2), 0);
  EXPECT_EQ(Fn<int32_t(SCP_STDCALL*)(int32_t, int32_t)>("READWORKLIST")(1, 2), 0);
  EXPECT_TRUE(cap.Lines().empty()) << "no service, no log";
}

TEST_F(PluginTest, PlaceholdersAnswerZeroWithAServiceAndTheStopLineEndsIt) {
  LogCapture cap;
  Fn<void(SCP_STDCALL*)()>("LIBSTART")();
  EXPECT_EQ(Fn<int32_t(SCP_STDCALL*)(int32_t, int32_t)>("READORDER")(1, 2), 0);
  EXPECT_EQ(Fn<int32_t(SCP_STDCALL*)(int32_t, int32_t)>("READWORKLIST")(1, 2), 0);
  EXPECT_EQ(Fn<int32_t(SCP_STDCALL*)(const char*)>("GETPROCEDURETYPE")(nullptr), 7);
  Fn<void(SCP_STDCALL*)()>("LIBSTOP")();
  auto lines = cap.Lines();
  ASSERT_GE(lines.size(), 4u) << cap.Dump();
  EXPECT_EQ(lines.front().call, "LIBSTART");
  EXPECT_EQ(lines[1].call, "LOGSERVICESTART");
  EXPECT_TRUE(std::regex_match(lines[1].text, kStartLine)) << lines[1].text;
  EXPECT_EQ(lines[lines.size() - 2].call, "LOGSERVICESTOP");
  EXPECT_EQ(lines.back().call, "LIBSTOP");
}

}  // namespace
