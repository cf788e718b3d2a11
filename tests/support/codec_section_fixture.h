// A fixture for section-level tests of one writer and its reader: saves a
// record through one Put call, reads a file back through one Get call, with
// the codec logging to a captured event log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "log_capture.h"
#include "record_builder.h"
#include "scp/scpecg.h"
#include "test_util.h"

class CodecSectionTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> Save(TestRecord& rec, void (ScpEcg::*put)(TestRecord*), uint32_t capacity = 1000000,
                            uint32_t* endPosition = nullptr) {
    ScpEcg codec(nullptr, &log);
    EXPECT_TRUE(codec.FormatRecordHeader(capacity));
    (codec.*put)(&rec);
    if (endPosition) *endPosition = codec.position();
    return recb::Finish(codec);
  }
  int Read(const std::vector<uint8_t>& file, int (ScpEcg::*read)(TestRecord*), TestRecord& rec) {
    ScpEcg codec(nullptr, &log);
    EXPECT_TRUE(recb::OpenBytes(codec, dir, file));
    return (codec.*read)(&rec);
  }
  uint32_t Probe(const std::vector<uint8_t>& file, uint32_t (ScpEcg::*probe)()) {
    ScpEcg codec(nullptr, &log);
    EXPECT_TRUE(recb::OpenBytes(codec, dir, file));
    return (codec.*probe)();
  }

  LogCapture cap;
  EventLog log{plat::ThisModule()};
  TempDir dir;
};
