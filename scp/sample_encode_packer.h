// What the fast encoder's variants share: the code of each value and the
// bit buffer that packs codes into the lead's bytes.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "scp/sample_lanes.h"

namespace scpcodec::fast {

// Code (high bits) and length (low 5 bits) of each value from -128 to 127;
// other values take the 26-bit escape, computed on the spot.
constexpr std::array<uint32_t, 256> BuildEncodeTable() {
  std::array<uint32_t, 256> t{};
  for (int v = -128; v <= 127; ++v) {
    uint32_t code = 0;
    int length = 0;
    if (v == 0) {
      length = 1;
    } else if (v >= -8 && v <= 8) {
      const int n = v < 0 ? -v : v;
      code = (((1u << n) - 1) << 2) | (v < 0 ? 1u : 0u);
      length = n + 2;
    } else {
      code = kNarrowEscapePrefix | static_cast<uint8_t>(v);
      length = kNarrowEscapeBits;
    }
    t.at(static_cast<uint32_t>(v + 128)) = (code << 5) | static_cast<uint32_t>(length);
  }
  return t;
}

inline constexpr std::array<uint32_t, 256> kEncode = BuildEncodeTable();

inline uint32_t CodeOf(uint16_t value) {
  const uint32_t index = static_cast<uint16_t>(value + 128);
  const uint32_t escape = ((kWideEscapePrefix | value) << 5) | kLongestCode;
  return index < 256 ? kEncode[index] : escape;
}

// Codes into out[0, room). Bits wait right-aligned in `acc_` (count_ of
// them; at most 7 after each write).
class Packer {
 public:
  Packer(uint8_t* out, uint32_t room) : out_(out), room_(room) {}
  // Carrying on after another packer's complete bytes: its held bits.
  Packer(uint8_t* out, uint32_t room, const Packer& before)
      : out_(out), room_(room), acc_(before.acc_), count_(before.count_) {}

  // One code, bytes written as they complete. False when a completed byte
  // lies at or past the room; everything before it has been written then,
  // as the portable encoder leaves it.
  bool Put(uint32_t entry) {
    Append(entry >> 5, entry & 31);
    while (count_ >= 8) {
      if (pos_ >= room_) return false;
      count_ -= 8;
      out_[pos_++] = static_cast<uint8_t>(acc_ >> count_);
    }
    return true;
  }

  // Bits added without writing; at most 64 may be held before a Flush, and
  // a code is shorter than 64 bits.
  void Append(uint64_t code, uint32_t length) {
    acc_ = (acc_ << length) | code;
    count_ += length;
  }

  // Every completed byte in one 8-byte store. Only for stretches where 8
  // bytes fit the room and enough codes follow to overwrite the store's
  // unfinished tail (at least 56 bits); at least one bit must be held.
  void Flush() {
    StoreBE64(out_ + pos_, acc_ << (64 - count_));
    pos_ += count_ >> 3;
    count_ &= 7;
  }

  uint32_t Room() const { return room_ - pos_; }
  uint32_t Written() const { return pos_; }
  uint32_t Held() const { return count_; }

  // Takes `bytes` complete bytes coded elsewhere (from this packer's held
  // bits on), then `held` bits, the last `held` of `acc`. False when a byte
  // lies at or past the room; the bytes before it have been written then,
  // as the portable encoder leaves them.
  bool Take(const uint8_t* coded, uint32_t bytes, uint64_t acc, uint32_t held) {
    if (bytes > room_ - pos_) {
      std::memcpy(out_ + pos_, coded, room_ - pos_);
      return false;
    }
    std::memcpy(out_ + pos_, coded, bytes);
    pos_ += bytes;
    acc_ = acc;
    count_ = held;
    return true;
  }

  // Closes the stream: the partial last byte, or a zero byte when the codes
  // ended on a boundary.
  uint32_t Finish() {
    if (pos_ >= room_) return 0;
    out_[pos_] = count_ == 0 ? 0 : static_cast<uint8_t>(acc_ << (8 - count_));
    return pos_ + 1;
  }

 private:
  uint8_t* out_;
  uint32_t room_;
  uint32_t pos_ = 0;
  uint64_t acc_ = 0;
  uint32_t count_ = 0;
};

// Values that must follow a bulk block so that its last 8-byte store is
// covered by later bytes (each value takes at least one bit): 7 bytes' worth.
constexpr uint32_t kBulkTail = 56;

// Codes values [from, to) one at a time: the first two (samples as they
// are) and those after the bulk blocks. False when a byte falls outside the
// room.
template <bool kSecondDiff>
inline bool PutEach(Packer& packer, const int16_t* x, uint32_t from, uint32_t to) {
  for (uint32_t n = from; n < to; ++n) {
    const auto value = static_cast<uint16_t>(kSecondDiff && n >= 2 ? x[n] - 2 * x[n - 1] + x[n - 2] : x[n]);
    if (!packer.Put(CodeOf(value))) return false;
  }
  return true;
}

}  // namespace scpcodec::fast
