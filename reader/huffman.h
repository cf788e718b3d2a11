// Huffman tables of Section 2 and the decoder of Sections 5 and 6.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace scpreader {

// One code structure as stored: 9 bytes in the file.
struct HuffmanCode {
  uint8_t prefixBits = 0;  // bits of the code itself
  uint8_t totalBits = 0;   // prefix plus the value bits that follow it
  uint8_t mode = 1;        // 1: a value; 0: switch to table number baseValue
  int16_t baseValue = 0;
  uint32_t baseCode = 0;   // first code bit in bit 0
};

using HuffmanTable = std::vector<HuffmanCode>;

// Section 2's marker for the standard's default table.
inline constexpr uint16_t kDefaultTableMarker = 19999;

// The standard's default table: 0, +-1..+-8, then 8- and 16-bit escapes.
const HuffmanTable& DefaultTable();

// A table set ready to decode: one binary tree per table.
class HuffmanDecoder {
 public:
  // False, with *why, when a table cannot be decoded unambiguously.
  bool Build(const std::vector<HuffmanTable>& tables, std::string* why);

  // Decodes up to `count` values from `bytes` (first bit = most significant
  // bit of the first byte), starting in table 1. Returns how many were
  // decoded; stops at the end of the bytes or at a code not in the table
  // (*why says which).
  size_t Decode(std::span<const uint8_t> bytes, size_t count, int32_t* out, std::string* why) const;

 private:
  struct Node {
    int32_t child[2] = {-1, -1};
    int32_t code = -1;  // index into the table, for a leaf
  };
  static constexpr int kLookupBits = 12;
  struct Lookup {
    int32_t node = -1;  // a leaf, or -1: walk the tree
    uint8_t length = 0;
  };
  std::vector<HuffmanTable> tables_;
  std::vector<std::vector<Node>> trees_;
  std::vector<std::vector<Lookup>> lookups_;
};

}  // namespace scpreader
