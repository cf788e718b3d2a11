// The writers' own messages when the codec has no buffer or the record has
// no waveform: states the save operation never creates, so only the codec
// reaches them.
#include <gtest/gtest.h>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "platform/platform.h"
#include "scp/scpecg.h"
#include "support/log_capture.h"

namespace {

std::vector<std::string> Lines(const LogCapture& cap) {
  std::vector<std::string> out;
  for (const auto& l : cap.Messages())
    out.push_back(l.call + " " + l.source + ":" + std::to_string(l.line) + (l.hasText ? " " + l.text : ""));
  return out;
}

TEST(CodecWriterFailures, NoBufferAndNoWaveform) {
  LogCapture cap;
  EventLog log(plat::ThisModule());
  TestRecord rec;
  {
    ScpEcg codec(nullptr, &log);
    codec.PutDemographics(&rec);
    EXPECT_EQ(Lines(cap), (std::vector<std::string>{"LOGOEMERROR scpecg:4445 SCP-ECG: Buffer NULL",
                                                    "LOGOEMERROR scpecg:2311 SCP-ECG: PutDemographics"}));
    cap.Clear();
    EXPECT_EQ(codec.PutLeadDefinition(&rec), nullptr);
    EXPECT_EQ(Lines(cap), (std::vector<std::string>{"LOGOEMERROR scpecg:4445 SCP-ECG: Buffer NULL",
                                                    "LOGOEMERROR scpecg:2513 SCP-ECG: PutLeadDefinition"}));
  }
  cap.Clear();
  ScpEcg codec(nullptr, &log);
  ASSERT_TRUE(codec.FormatRecordHeader(100000));
  EXPECT_EQ(codec.PutLeadDefinition(&rec), nullptr);
  EXPECT_EQ(Lines(cap), (std::vector<std::string>{"LOGOEMERROR scpecg:2511 SCP-ECG: no rd"}));
}

}  // namespace
