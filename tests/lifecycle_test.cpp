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
  scplib::LibStop();
  EXPECT_EQ(scplib::Service(), first);
  scplib::LibStop();
  EXPECT_EQ(scplib::Service(), nullptr);
  const auto lines = cap.Lines();
  ASSERT_EQ(lines.size(), 4u) << cap.Dump();
  EXPECT_EQ(lines[0].call + lines[1].call + lines[2].call + lines[3].call,
            "LIBSTARTLOGSERVICESTARTLOGSERVICESTOPLIBSTOP");
  EXPECT_TRUE(std::regex_match(lines[1].text, kStartLine)) << lines[1].text;
  EXPECT_EQ(lines[2].text, lines[1].text);
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
  const auto lines = cap.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1].text.rfind(" (40008 - ", 0), 0u) << lines[1].text;
}

// The shared library, loaded the way a host loads the plug-in: without a
// service every data export answers its failure value and logs nothing;
// with one the placeholders answer 0.
TEST(PluginTest, ExportsWithAndWithoutService) {
  PluginModule plugin;
  ASSERT_TRUE(plugin.loaded()) << BuiltModulePath("scpsrv") << ": error " << plugin.loadError();
  auto pair = [&](const char* name) { return plugin.Fn<int32_t(SCP_STDCALL*)(int32_t, int32_t)>(name)(1, 2); };
  auto procedure = plugin.Fn<PluginModule::Procedure>("GETPROCEDURETYPE");
  LogCapture cap;
  EXPECT_EQ(procedure("x.scp"), 7);
  EXPECT_EQ(plugin.Fn<PluginModule::Check>("ISVALIDFORMAT")("x.scp", nullptr), 0);
  EXPECT_EQ(plugin.Fn<PluginModule::Save>("SAVETESTRECORD")(nullptr, "x.scp"), 0);
  EXPECT_EQ(plugin.Fn<PluginModule::Fetch>("FETCHTEST")(nullptr), 0);
  EXPECT_EQ(plugin.Fn<int32_t(SCP_STDCALL*)(int32_t, int32_t, int32_t)>("SAVEDBREFERENCE")(1, 2, 3), 0);
  EXPECT_EQ(pair("READORDER") + pair("READTESTREFERENCE") + pair("READWORKLIST"), 0);
  EXPECT_TRUE(cap.Lines().empty()) << "no service, no log: " << cap.Dump();

  plugin.Fn<PluginModule::Void>("LIBSTART")();
  EXPECT_EQ(pair("READORDER"), 0);
  EXPECT_EQ(pair("READWORKLIST"), 0);
  EXPECT_EQ(procedure(nullptr), 7);
  plugin.Fn<PluginModule::Void>("LIBSTOP")();
  const auto lines = cap.Lines();
  ASSERT_GE(lines.size(), 4u) << cap.Dump();
  EXPECT_EQ(lines.front().call, "LIBSTART");
  EXPECT_EQ(lines[1].call, "LOGSERVICESTART");
  EXPECT_TRUE(std::regex_match(lines[1].text, kStartLine)) << lines[1].text;
  EXPECT_EQ(lines[lines.size() - 2].call, "LOGSERVICESTOP");
  EXPECT_EQ(lines.back().call, "LIBSTOP");
}

}  // namespace
