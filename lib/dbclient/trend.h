// A trend: a time series of samples, each a time and a fixed number of
// 32-bit values (section 129 stores the test record's 32 trend slots).
//
// The class layout is shared with the host: keep member order and widths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "lib/natural_layout.h"

// Members in memory order. field1..3 are host fields, 0 in a trend built
// from a record. dataBlock is owned, with an 8-byte header (a word, u16 c at
// 4, u16 v at 6); times, values (value j of sample s at s * v + j) and the v
// perValue words point into it.
#define SCP_TREND_RECORD_MEMBERS(X)                                                                         \
  X(baseTime, uint32_t) X(scaleNumerator, int32_t) X(scaleDenominator, int32_t) X(field1, uint32_t)         \
  X(field2, uint32_t) X(field3, uint32_t) X(dataBlock, uint8_t*) X(times, uint32_t*) X(values, int32_t*) \
  X(perValue, uint32_t*)

class TrendRecord {
 public:
  static constexpr uint32_t kMaxSamples = 16384;
  // A trend that receives samples from a file has at most this many values.
  static constexpr uint32_t kMaxHostValues = 16;

  // A host trend with room for kMaxSamples samples of valueCount values
  // (more than 16 are cut to 16), no samples yet, scale 1/1. A failed
  // allocation leaves the trend without a data block.
  explicit TrendRecord(uint32_t valueCount, uint32_t baseTime = 0);
  ~TrendRecord();
  TrendRecord(const TrendRecord&) = delete;
  TrendRecord& operator=(const TrendRecord&) = delete;

  // A temporary trend whose data block is a copy of the record (which starts
  // at its length word L). Null when the record is shorter than 8 bytes or
  // than L, or when its c and v need more than L bytes. Throws std::bad_alloc
  // when the copy cannot be made. Const: its arrays have no room for more.
  static std::unique_ptr<const TrendRecord> BuildFromRecord(std::span<const uint8_t> record);

  // The record (L = 8 + 4c + 4cv + 4v bytes) and *length = L. Null when the
  // trend has no data block or allocation fails.
  std::unique_ptr<uint8_t[]> Serialize(uint32_t* length) const;

  uint32_t GetSampleCount() const;
  uint32_t GetValueCount() const;
  // Value j of sample s, scaled when numerator and denominator differ; 0 for
  // an index out of range.
  int32_t GetValue(uint32_t sample, uint32_t index) const;
  // Time of a sample as stored (base time already taken off); 0 out of range.
  uint32_t GetTime(uint32_t sample) const;
  uint32_t GetPerValue(uint32_t index) const;
  void SetPerValue(uint32_t index, uint32_t word);
  void SetScale(int32_t numerator, int32_t denominator);
  uint32_t GetBaseTime() const { return baseTime; }
  void SetBaseTime(uint32_t time) { baseTime = time; }

  // Stores time - base time and the trend's own number of values (values
  // beyond the given ones are 0). False when the trend holds kMaxSamples
  // samples or has no data block.
  bool AddSample(uint32_t time, std::span<const int32_t> values);

  SCP_TREND_RECORD_MEMBERS(SCP_DECLARE_MEMBER)

 private:
  TrendRecord();
};

SCP_CHECK_LAYOUT(TrendRecord, SCP_TREND_RECORD_MEMBERS, 40, 56)
