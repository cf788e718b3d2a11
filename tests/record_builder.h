// Test helpers for section-level tests: build SCP-ECG files around given
// section data (the container computes every CRC and section 0), and pick
// sections out of a written file with a parser of the tests' own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "scp/section_cursor.h"
#include "test_util.h"

namespace recb {

// Little-endian byte builder.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& u8(uint8_t x) {
    v.push_back(x);
    return *this;
  }
  Bytes& u16(uint16_t x) { return u8(static_cast<uint8_t>(x)).u8(static_cast<uint8_t>(x >> 8)); }
  Bytes& u32(uint32_t x) { return u16(static_cast<uint16_t>(x)).u16(static_cast<uint16_t>(x >> 16)); }
  Bytes& raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    v.insert(v.end(), b, b + n);
    return *this;
  }
  Bytes& raw(const std::vector<uint8_t>& b) { return raw(b.data(), b.size()); }
  Bytes& zeros(size_t n) {
    v.insert(v.end(), n, 0);
    return *this;
  }
};

inline uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}
inline uint16_t Half(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

struct TableEntry {
  uint16_t id = 0;
  uint32_t length = 0;
  uint32_t index = 0;  // 1-based
};

// The pointer-table entry of id in a written record.
inline std::optional<TableEntry> EntryOf(const std::vector<uint8_t>& rec, uint16_t id) {
  if (rec.size() < 22) return std::nullopt;
  uint32_t s0 = Word(rec, 10);
  for (size_t p = 22; p + 10 <= 6 + size_t{s0} && p + 10 <= rec.size(); p += 10) {
    if (Half(rec, p) == id) return TableEntry{id, Word(rec, p + 2), Word(rec, p + 6)};
  }
  return std::nullopt;
}

// The data of section id (ID header removed), or nothing when absent.
inline std::optional<std::vector<uint8_t>> DataOf(const std::vector<uint8_t>& rec, uint16_t id) {
  auto e = EntryOf(rec, id);
  if (!e || e->length < 16 || e->index == 0 || e->index - 1 + size_t{e->length} > rec.size()) return std::nullopt;
  auto first = rec.begin() + (e->index - 1 + 16);
  return std::vector<uint8_t>(first, first + (e->length - 16));
}

inline std::vector<uint8_t> Finish(ScpEcg& codec) {
  uint32_t length = 0;
  const uint8_t* p = codec.FinalizeRecordHeader(&length);
  return p ? std::vector<uint8_t>(p, p + length) : std::vector<uint8_t>{};
}

// A record holding the given sections, each with exactly the given data.
inline std::vector<uint8_t> Wrap(const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& sections) {
  size_t total = ScpEcg::kEmptyRecordSize + 64;
  for (const auto& s : sections) total += 18 + s.second.size();
  ScpEcg codec(nullptr, nullptr);
  EXPECT_TRUE(codec.FormatRecordHeader(static_cast<uint32_t>(total)));
  for (const auto& [id, data] : sections) {
    SectionWriter out(codec);
    out.Bytes(data.data(), data.size());
    EXPECT_TRUE(out.End(id));
  }
  return Finish(codec);
}

inline std::vector<uint8_t> Wrap(uint16_t id, const std::vector<uint8_t>& data) { return Wrap({{id, data}}); }

// Writes a record to a file in dir and opens it in codec for reading.
inline bool OpenBytes(ScpEcg& codec, const TempDir& dir, const std::vector<uint8_t>& rec,
                      const std::string& name = "rec.scp") {
  std::string path = dir.File(name);
  if (!WriteFileBytes(path, rec)) return false;
  return codec.OpenRecord(path.c_str());
}

}  // namespace recb
