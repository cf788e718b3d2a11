#include "reader/huffman.h"

#include <cstdint>

namespace scpreader {

const HuffmanTable& DefaultTable() {
  static const HuffmanTable table = [] {
    HuffmanTable t;
    t.push_back({1, 1, 1, 0, 0});
    // +n: n one-bits, a zero-bit, then 0; -n: the same ending in 1. The
    // base code holds the first bit in bit 0.
    for (int n = 1; n <= 8; ++n) {
      const uint32_t ones = (1u << n) - 1;
      const uint8_t bits = static_cast<uint8_t>(n + 2);
      t.push_back({bits, bits, 1, static_cast<int16_t>(n), ones});
      t.push_back({bits, bits, 1, static_cast<int16_t>(-n), ones | 1u << (n + 1)});
    }
    t.push_back({10, 18, 1, 0, 0x1FF});  // nine ones, a zero, 8-bit value
    t.push_back({10, 26, 1, 0, 0x3FF});  // ten ones, 16-bit value
    return t;
  }();
  return table;
}

bool HuffmanDecoder::Build(const std::vector<HuffmanTable>& tables, std::string* why) {
  tables_ = tables;
  trees_.clear();
  lookups_.clear();
  // A switch code names its table by number. The tables are numbered from
  // 1, but some producers count from 0: a switch to table 0 is read that
  // way for the whole set.
  bool fromZero = false;
  for (const HuffmanTable& t : tables_)
    for (const HuffmanCode& c : t) fromZero = fromZero || (c.mode == 0 && c.baseValue == 0);
  if (fromZero)
    for (HuffmanTable& t : tables_)
      for (HuffmanCode& c : t)
        if (c.mode == 0 && c.baseValue < INT16_MAX) ++c.baseValue;
  for (size_t t = 0; t < tables_.size(); ++t) {
    std::vector<Node> tree(1);
    const HuffmanTable& table = tables_[t];
    for (size_t c = 0; c < table.size(); ++c) {
      const HuffmanCode& code = table[c];
      const std::string where = "table " + std::to_string(t + 1) + " code " + std::to_string(c + 1);
      if (code.prefixBits == 0 || code.prefixBits > 32) {
        *why = where + ": prefix of " + std::to_string(code.prefixBits) + " bits";
        return false;
      }
      if (code.mode != 0 && (code.totalBits < code.prefixBits || code.totalBits - code.prefixBits > 32)) {
        *why = where + ": " + std::to_string(code.totalBits) + " bits in all with a prefix of " +
               std::to_string(code.prefixBits);
        return false;
      }
      if (code.mode == 0 && (code.baseValue < 1 || static_cast<size_t>(code.baseValue) > tables_.size())) {
        *why = where + ": switch to table " + std::to_string(code.baseValue) + " of " +
               std::to_string(tables_.size());
        return false;
      }
      int32_t node = 0;
      for (int b = 0; b < code.prefixBits; ++b) {
        if (tree[node].code >= 0) {
          *why = where + ": another code is a prefix of it";
          return false;
        }
        const int bit = (code.baseCode >> b) & 1;
        if (tree[node].child[bit] < 0) {
          tree[node].child[bit] = static_cast<int32_t>(tree.size());
          tree.emplace_back();
        }
        node = tree[node].child[bit];
      }
      if (tree[node].code >= 0 || tree[node].child[0] >= 0 || tree[node].child[1] >= 0) {
        *why = where + ": code used twice or a prefix of another";
        return false;
      }
      tree[node].code = static_cast<int32_t>(c);
    }
    // For every value of the next kLookupBits bits: the leaf a code of at
    // most that many bits ends in, and its length.
    std::vector<Lookup> lookup(size_t{1} << kLookupBits);
    for (uint32_t v = 0; v < lookup.size(); ++v) {
      int32_t node = 0;
      for (int k = 0; k < kLookupBits && node >= 0 && tree[node].code < 0; ++k) {
        node = tree[node].child[(v >> (kLookupBits - 1 - k)) & 1];
        lookup[v].length = static_cast<uint8_t>(k + 1);
      }
      lookup[v].node = node >= 0 && tree[node].code >= 0 ? node : -1;
    }
    lookups_.push_back(std::move(lookup));
    trees_.push_back(std::move(tree));
  }
  if (trees_.empty()) {
    *why = "no table";
    return false;
  }
  return true;
}

size_t HuffmanDecoder::Decode(std::span<const uint8_t> bytes, size_t count, int32_t* out, std::string* why) const {
  const size_t bits = bytes.size() * 8;
  size_t bit = 0;
  size_t done = 0;
  size_t table = 0;
  auto next = [&]() { return (bytes[bit >> 3] >> (7 - (bit & 7))) & 1; };
  // The next kLookupBits bits, zeros past the end.
  auto peek = [&]() {
    uint32_t w = 0;
    const size_t at = bit >> 3;
    for (size_t k = 0; k < 3; ++k) w = w << 8 | (at + k < bytes.size() ? bytes[at + k] : 0u);
    return (w >> (24 - kLookupBits - (bit & 7))) & ((1u << kLookupBits) - 1);
  };
  while (done < count && bit < bits) {
    const std::vector<Node>& tree = trees_[table];
    int32_t node = -1;
    // Codes of up to kLookupBits bits in one step; longer ones, and codes
    // that would run into the end of the data, bit by bit.
    const Lookup& fast = lookups_[table][peek()];
    if (fast.node >= 0 && tree[fast.node].code >= 0 && fast.length <= bits - bit) {
      node = fast.node;
      bit += fast.length;
    } else {
      node = 0;
      while (tree[node].code < 0) {
        if (bit >= bits) return done;  // the last byte's free bits
        node = tree[node].child[next()];
        ++bit;
        if (node < 0) {
          *why = "bit " + std::to_string(bit - 1) + " starts no code of table " + std::to_string(table + 1);
          return done;
        }
      }
    }
    const HuffmanCode& code = tables_[table][static_cast<size_t>(tree[node].code)];
    if (code.mode == 0) {
      table = static_cast<size_t>(code.baseValue - 1);
      continue;
    }
    const int extra = code.totalBits - code.prefixBits;
    if (extra == 0) {
      out[done++] = code.baseValue;
      continue;
    }
    if (bits - bit < static_cast<size_t>(extra)) {
      *why = "the data ends inside a value";
      return done;
    }
    uint32_t v = 0;
    for (int k = 0; k < extra; ++k, ++bit) v = v << 1 | static_cast<uint32_t>(next());
    // Two's complement of `extra` bits.
    int64_t s = v;
    if (extra < 64 && (v >> (extra - 1)) & 1) s -= int64_t{1} << extra;
    out[done++] = static_cast<int32_t>(s);
  }
  return done;
}

}  // namespace scpreader
