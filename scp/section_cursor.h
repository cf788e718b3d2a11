// The byte cursors over one section of the record: a writer over the section
// being written, bounded by the record buffer, and a reader over the data of
// a section fetched from the record being read.
#pragma once

#include <cstdint>
#include <memory>

#include "lib/byte_cursor.h"
#include "scp/scpecg.h"

// Opens a section at construction (BeginSection logs why it could not) and
// closes it with End. The cursor's capacity is the record buffer's, so
// every writer's room check is Fits, and a write that does not fit marks
// the section full instead of being counted beforehand.
class SectionWriter : public ByteWriter {
 public:
  explicit SectionWriter(ScpEcg& codec) : ByteWriter(nullptr, 0), codec_(codec) {
    const uint32_t at = codec.BeginSection(&start_, nullptr);
    if (at != 0) static_cast<ByteWriter&>(*this) = ByteWriter(codec.buffer(), codec.capacity(), at);
  }
  // False when the section could not be begun.
  explicit operator bool() const { return start_ != 0; }
  // Ends the section under id; false, and the section absent, when a write
  // did not fit or there is no room for the pad byte of an odd length.
  bool End(uint16_t id) { return !full() && codec_.EndSection(static_cast<uint32_t>(position()), id, start_); }

 private:
  ScpEcg& codec_;
  uint32_t start_ = 0;
};

// A section's data (ID header removed), fetched once from the record being
// read; empty when the section is absent or failed the container's checks.
class SectionData : public ByteReader {
 public:
  SectionData(ScpEcg& codec, uint16_t id, PastEnd policy = PastEnd::kFail) : ByteReader(nullptr, 0) {
    uint32_t length = 0;
    data_ = codec.GetSection(id, &length);
    if (data_ == nullptr) return;
    static_cast<ByteReader&>(*this) = ByteReader(data_.get(), length, policy);
  }
  explicit operator bool() const { return data_ != nullptr; }
  const uint8_t* data() const { return data_.get(); }

 private:
  std::unique_ptr<uint8_t[]> data_;
};
