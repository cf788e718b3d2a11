// SCP-ECG files built and taken apart by the tests' own code, with a CRC of
// their own, so that a fault in the library's container cannot hide one in
// what it is checked against.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace scpfile {

using Bytes = std::vector<uint8_t>;

// CRC-CCITT bit by bit: polynomial 0x1021, start 0xFFFF, no final XOR.
inline uint16_t BitCrc(const uint8_t* p, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int b = 0; b < 8; ++b) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}
inline uint32_t U16(const Bytes& b, size_t at) { return b.at(at) | b.at(at + 1) << 8; }
inline uint32_t U32(const Bytes& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }
inline void Put16(Bytes& b, size_t at, uint32_t v) {
  b.at(at) = static_cast<uint8_t>(v);
  b.at(at + 1) = static_cast<uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}

// The 33 ids of section 0, in table order.
inline constexpr uint16_t kIds[33] = {0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  129, 130, 131, 133, 134,
                                      135, 136, 137, 138, 139, 140, 142, 143, 144, 145, 146, 147, 148, 149, 150, 151};

// Pointer entries given as id -> (length, index) replace the built ones.
using Entries = std::map<uint16_t, std::pair<uint32_t, uint32_t>>;

// A record as the format lays it out: header, section 0 listing all 33 ids,
// then the given sections back to back, each padded to even length.
inline Bytes BuildRecord(const std::vector<std::pair<uint16_t, Bytes>>& sections, const Entries& forced = {}) {
  Bytes f(352, 0);
  Entries where;
  for (const auto& [id, data] : sections) {
    const size_t start = f.size();
    Bytes s(16, 0);
    s.insert(s.end(), data.begin(), data.end());
    if (s.size() % 2) s.push_back(0);
    Put16(s, 2, id);
    Put32(s, 4, static_cast<uint32_t>(s.size()));
    s[8] = s[9] = 13;
    std::memcpy(&s[10], "SCPECG", 6);
    Put16(s, 0, BitCrc(&s[2], s.size() - 2));
    f.insert(f.end(), s.begin(), s.end());
    where[id] = {static_cast<uint32_t>(s.size()), static_cast<uint32_t>(start + 1)};
  }
  where[0] = {346, 7};
  for (const auto& [id, e] : forced) where[id] = e;
  for (int i = 0; i < 33; ++i) {
    const size_t e = 22 + 10 * i;
    Put16(f, e, kIds[i]);
    auto it = where.find(kIds[i]);
    if (it != where.end()) {
      Put32(f, e + 2, it->second.first);
      Put32(f, e + 6, it->second.second);
    }
  }
  Put32(f, 10, 346);
  f[14] = f[15] = 13;
  std::memcpy(&f[16], "SCPECG", 6);
  Put16(f, 6, BitCrc(&f[8], 344));
  Put32(f, 2, static_cast<uint32_t>(f.size()));
  Put16(f, 0, BitCrc(&f[2], f.size() - 2));
  return f;
}

// Ids of the sections a file's pointer table lists, in file order.
inline std::vector<uint16_t> SectionIds(const Bytes& f) {
  std::vector<std::pair<uint32_t, uint16_t>> at;
  for (size_t e = 32; e + 10 <= 352 && e + 10 <= f.size(); e += 10)
    if (U32(f, e + 2)) at.emplace_back(U32(f, e + 6), static_cast<uint16_t>(U16(f, e)));
  std::sort(at.begin(), at.end());
  std::vector<uint16_t> ids;
  for (auto& a : at) ids.push_back(a.second);
  return ids;
}

}  // namespace scpfile
