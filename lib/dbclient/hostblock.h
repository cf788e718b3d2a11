// Host-only objects that the test record holds and frees but never reads.
//
// The record only needs to own and free them; their content is the host's.
// Both are plain fixed-size blocks allocated with new and released with
// delete, zero-filled on construction:
//   HostBlock           256 bytes of host memory (the record's hostBlock);
//   TripleBufferRecord  three 32-bit values (the record's triples and
//                       singleTriple lists).
#pragma once

#include <cstdint>

struct HostBlock {
  static constexpr uint32_t kSize = 256;
  uint8_t bytes[kSize] = {};
};

struct TripleBufferRecord {
  int32_t values[3] = {};
};

static_assert(sizeof(HostBlock) == HostBlock::kSize);
static_assert(sizeof(TripleBufferRecord) == 12);
