// What the case runners share: the manifests' byte notation, and the
// plug-in loaded as a host loads it with its event log captured.
#pragma once

#include <gtest/gtest.h>

#include <istream>
#include <string>
#include <vector>

#include "plugin_module.h"
#include "support/log_capture.h"
#include "support/scp_file.h"
#include "support/test_util.h"

namespace scpfile {

// Manifest bytes: hex; *N:XX repeats a byte; "TEXT" is text without its NUL;
// =N or .N is a 32-bit little-endian word (decimal or 0x..); ~N:S is the N
// words S, S+4, S+8, ...; # ends the list.
inline Bytes Hex(std::istream& in) {
  Bytes out;
  auto word = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> 8 * i));
  };
  std::string t;
  while (in >> t && t[0] != '#') {
    const size_t colon = t.find(':');
    if (t[0] == '*' && colon != std::string::npos) {
      out.insert(out.end(), std::stoul(t.substr(1, colon - 1)),
                 static_cast<uint8_t>(std::stoul(t.substr(colon + 1), nullptr, 16)));
    } else if (t[0] == '"' && t.size() > 1) {
      out.insert(out.end(), t.begin() + 1, t.end() - 1);
    } else if (t[0] == '=' || t[0] == '.') {
      word(static_cast<uint32_t>(std::stoul(t.substr(1), nullptr, 0)));
    } else if (t[0] == '~') {
      for (uint32_t i = 0, n = std::stoul(t.substr(1, colon - 1)), s = std::stoul(t.substr(colon + 1)); i < n; ++i)
        word(s + 4 * i);
    } else {
      out.push_back(static_cast<uint8_t>(std::stoul(t, nullptr, 16)));
    }
  }
  return out;
}

}  // namespace scpfile

class PluginCases : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin_.loaded());
    SetEnv("XDG_CONFIG_HOME", dir_.path().c_str());
    start_();
  }
  void TearDown() override {
    if (stop_) stop_();
    UnsetEnv("XDG_CONFIG_HOME");
  }
  // The captured calls as "CALL source:line text"; a system error has no source:line.
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& l : cap_.Messages()) {
      std::string s = l.call;
      if (!l.source.empty() || l.line >= 0) s += " " + l.source + ":" + std::to_string(l.line);
      if (l.hasText) s += " " + l.text;
      out.push_back(s);
    }
    return out;
  }

  TempDir dir_;
  LogCapture cap_;
  PluginModule plugin_;
  PluginModule::Void start_ = plugin_.Fn<PluginModule::Void>("LIBSTART");
  PluginModule::Void stop_ = plugin_.Fn<PluginModule::Void>("LIBSTOP");
  PluginModule::Save save_ = plugin_.Fn<PluginModule::Save>("SAVETESTRECORD");
  PluginModule::Fetch fetch_ = plugin_.Fn<PluginModule::Fetch>("FETCHTEST");
  PluginModule::Check check_ = plugin_.Fn<PluginModule::Check>("ISVALIDFORMAT");
  PluginModule::Procedure proc_ = plugin_.Fn<PluginModule::Procedure>("GETPROCEDURETYPE");
};
