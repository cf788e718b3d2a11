// The table-driven sample decoder's steps, for its two variants: 8-bit
// escapes taken by a branch (sample_decode_branch.cpp) or by a table row
// chosen without one (sample_decode_rows.cpp). Each variant is compiled in
// a file of its own: compiled together, GCC's inlining put the leads'
// state on the stack in the loop of one or the other (Holter, escape rows:
// 1.43 against 1.08 G samples/s). sample_decode_fast.cpp picks one per
// lead or group of leads.
//
// Decoding: the next kPeekBits bits of the stream index a table that
// resolves every complete short code in them at once (up to kLanes codes).
// Second-difference reconstruction is folded into the same step. With the
// last sample x and the slope s into it, the next samples are
//     x + (j + 1) * s + r[j],  with  r[j] = sum over i <= j of (j - i + 1) * d[i]
// for the step's differences d[0..k-1]. The decoder keeps A[j] = x + (j + 1) s
// and s itself in vector registers; a step writes A + r (kLanes samples, no
// dependency between them) and moves on with
//     A' = A + k s + q,   q[j] = r[k-1] + (j + 1) * (d[0] + ... + d[k-1]),
//     s' = s + (d[0] + ... + d[k-1]),
// r and q coming from the table. Escapes (18 and 26 bits) take one value per
// step. All arithmetic is modulo 65536, as the samples are. A section's
// leads are independent streams and are stepped in turn, two or three at a
// time: a single stream leaves the core waiting on each table lookup.
//
// Bounds: the bulk loops run only while a full 8-byte load stays inside the
// lead; the last bytes of a lead are read from a zero-padded local copy,
// which is also how bits past the end read as zero bits, the rule the
// portable decoder follows.
//
// What did not pay (three Holter leads of fresh data, against 1.2 G
// samples/s for this decoder then): every step computing the escape's value
// and multiplying it into the lanes, without a branch (1.1; forty
// instructions a step); and 32 streams in AVX-512 lanes, one code each per
// step, the lead cut into parts whose streams start at guessed bits and are
// joined where one passes a code start of the next (0.7; they meet within
// four codes, but the gathers take half the time and the lane arithmetic
// the rest).

#pragma once

#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "scp/sample_codec.h"
#include "scp/sample_lanes.h"

namespace scpcodec::fast {

// Whether a lead's codes take escape rows: where they average more than 4
// bits a value. An ECG's short codes average about 3 bits; every tenth
// value an 18-bit escape adds 1.5 more (ambulatory leads at 200 Hz: 4.4).
inline bool EscapeRows(uint64_t bytes, uint64_t samples) { return 8 * bytes > 4 * samples; }

// The variants' entry points. DecodeLead* decodes one Huffman-coded lead;
// DecodeGroup* decodes `count` (2 or 3) leads in turn, their destinations
// pairwise apart.
using DecodeLeadFn = void(int16_t* dest, uint32_t destCount, const uint8_t* lead, uint32_t byteCount,
                          bool secondDifference);
using DecodeGroupFn = void(LeadSpan* group, uint32_t count, uint32_t destCount, const uint8_t* src,
                           bool secondDifference);
DecodeLeadFn DecodeLeadBranching, DecodeLeadRows;
DecodeGroupFn DecodeGroupBranching, DecodeGroupRows;
// The same in SSE2 lanes, for 32-bit x86 builds (SCP_DECODE_SSE2_VARIANTS),
// which do not assume SSE2 and choose these at run time.
DecodeLeadFn DecodeLeadBranchingSse2, DecodeLeadRowsSse2;
DecodeGroupFn DecodeGroupBranchingSse2, DecodeGroupRowsSse2;

constexpr int kPeekBits = 12;
constexpr uint32_t kPeekSize = 1u << kPeekBits;

// --------------------------------------------------------------- tables

// Everything a step needs besides the bits it uses, in one cache line.
struct alignas(64) StepLanes {
  Lanes ramp;   // r[j]; lanes past the count are scratch
  Lanes next;   // q[j]
  Lanes sum;    // d[0] + ... + d[k-1] in every lane
  Lanes count;  // k in every lane
};
static_assert(sizeof(StepLanes) == 64);

struct DecodeTables {
  // Per kPeekBits window, then per 8-bit escape value (as its unsigned
  // byte): a step of that one value.
  std::array<StepLanes, kPeekSize + 256> lanes;
  // Per kPeekBits window: the bits used; for a window that starts with an
  // escape, the escape's length. Apart from the rest, so that the lookup on
  // which every step waits stays small and in cache.
  std::array<uint8_t, kPeekSize> used;
  // Per kPeekBits window: all ones where it starts an 8-bit escape, as a
  // mask choosing the escape's row.
  std::array<int8_t, kPeekSize> narrow;
  Lanes oneToEight;  // j + 1
  Lanes twoToNine;   // j + 2
};

constexpr DecodeTables BuildDecodeTables() {
  DecodeTables t{};
  for (uint32_t window = 0; window < kPeekSize; ++window) {
    auto bit = [window](int at) { return (window >> (kPeekBits - 1 - at)) & 1u; };
    int used = 0;
    int count = 0;
    int d[kLanes] = {};
    while (count < kLanes) {
      int ones = 0;
      while (used + ones < kPeekBits && bit(used + ones)) ++ones;
      if (ones >= 9) break;  // an escape prefix: handled on its own
      const int length = ones == 0 ? 1 : ones + 2;
      if (used + length > kPeekBits) break;  // the code runs past the window
      int value = ones;
      if (ones != 0 && bit(used + ones + 1)) value = -ones;
      d[count++] = value;
      used += length;
    }
    int ramp[kLanes] = {};
    int slope = 0;
    int sum = 0;
    for (int j = 0; j < kLanes; ++j) {
      slope += d[j];  // d[j] is 0 past the count
      ramp[j] = (j > 0 ? ramp[j - 1] : 0) + slope;
      if (j < count) sum += d[j];
    }
    StepLanes& lanes = t.lanes.at(window);
    for (int j = 0; j < kLanes; ++j) {
      lanes.ramp.v[j] = static_cast<uint16_t>(ramp[j]);
      lanes.next.v[j] = count == 0 ? 0 : static_cast<uint16_t>(ramp[count - 1] + (j + 1) * sum);
      lanes.sum.v[j] = static_cast<uint16_t>(sum);
      lanes.count.v[j] = static_cast<uint16_t>(count);
    }
    // An escape's flag is the window's tenth bit: 1 for a 16-bit escape.
    const uint32_t escapeBits = bit(9) ? kLongestCode : kNarrowEscapeBits;
    t.used.at(window) = static_cast<uint8_t>(count == 0 ? escapeBits : used);
    t.narrow.at(window) = static_cast<int8_t>(count == 0 && escapeBits == kNarrowEscapeBits ? -1 : 0);
  }
  for (uint32_t byte = 0; byte < 256; ++byte) {
    const int d = static_cast<int8_t>(byte);
    StepLanes& lanes = t.lanes.at(kPeekSize + byte);
    for (int j = 0; j < kLanes; ++j) {
      lanes.ramp.v[j] = static_cast<uint16_t>((j + 1) * d);
      lanes.next.v[j] = static_cast<uint16_t>((j + 2) * d);
      lanes.sum.v[j] = static_cast<uint16_t>(d);
      lanes.count.v[j] = 1;
    }
  }
  for (int j = 0; j < kLanes; ++j) {
    t.oneToEight.v[j] = static_cast<uint16_t>(j + 1);
    t.twoToNine.v[j] = static_cast<uint16_t>(j + 2);
  }
  return t;
}

// One copy for both variants.
inline constexpr DecodeTables kDecode = BuildDecodeTables();

// --------------------------------------------------------------- decoder

namespace {

// The last bytes of a lead followed by zeros. Kept apart from the stream
// state so that loads from it cannot alias that state.
struct TailCopy {
  uint8_t bytes[32];
};

// The stream, most significant bit first, in a left-aligned 64-bit
// accumulator holding `avail` valid bits (56 to 63 after a refill).
struct BitStream {
  const uint8_t* at;   // the next byte to load
  const uint8_t* end;  // the lead's end (or the copy's)
  uint64_t acc;
  uint32_t avail;
  TailCopy* tail;

  BitStream(const uint8_t* lead, uint32_t byteCount, TailCopy* copy)
      : at(lead), end(lead + byteCount), acc(0), avail(0), tail(copy) {}

  void Refill() {
    if (end - at < 8) [[unlikely]]
      MoveToTail();
    acc |= LoadBE64(at) >> avail;
    at += (63 - avail) >> 3;
    avail |= 56;
  }

  uint32_t Peek(int bits) const { return static_cast<uint32_t>(acc >> (64 - bits)); }

  void Skip(uint32_t bits) {
    acc <<= bits;
    avail -= bits;
  }

  // One code, at least kLongestCode bits held.
  int16_t TakeValue() {
    const uint32_t top = Peek(kLongestCode);
    if (top >= (0x1FFu << 17)) {  // nine one-bits: an escape
      if (top & (1u << 16)) {
        Skip(kLongestCode);
        return static_cast<int16_t>(top & 0xFFFF);
      }
      Skip(kNarrowEscapeBits);
      return static_cast<int8_t>(top >> 8);
    }
    const int ones = std::countl_one(acc);  // 0 to 8
    if (ones == 0) {
      Skip(1);
      return 0;
    }
    const bool negative = (acc >> (63 - ones - 1)) & 1u;
    Skip(static_cast<uint32_t>(ones) + 2);
    return static_cast<int16_t>(negative ? -ones : ones);
  }

  // Fewer than 8 bytes remain: go on from a copy followed by zeros. Once in
  // the copy, the stream is past its end whenever a load would leave the
  // copy (more than 24 bytes in, while at most 7 are real), and every bit
  // from there on is zero: loads restart in the zeros.
  void MoveToTail() {
    if (end == tail->bytes + sizeof tail->bytes) {
      at = tail->bytes + 16;
      return;
    }
    std::memset(tail->bytes, 0, sizeof tail->bytes);
    if (end > at) std::memcpy(tail->bytes, at, static_cast<size_t>(end - at));
    at = tail->bytes;
    end = tail->bytes + sizeof tail->bytes;
  }
};


// Reconstruction state: A[j] = x + (j + 1) s and the slope s in every lane.
struct Ramp {
  U16x8 ahead;
  U16x8 slope;
};

// One decoding step: the table's values for the next window, or one escaped
// value. Writes kLanes samples at out (those past the step's count are
// scratch that later steps overwrite) and returns how many are final. At
// least kPeekBits bits must be held (kNarrowEscapeBits with kRows); an
// escape that branches refills for itself and leaves the stream refilled.
//
// kRows: 8-bit escapes take a table row like the short codes, chosen
// without a branch. A tenth of an ambulatory lead's values are such
// escapes, in runs no predictor foresees, and the mispredicted branch cost
// more than the rest of the decoding. Where escapes are rare, as in resting
// ECGs, the branch is foreseen and the row choice only costs. 16-bit escapes, which ECG leads hardly ever hold, always
// branch.
template <bool kSecondDiff, bool kRows>
ScpInline uint32_t Step(const DecodeTables& tables, BitStream& bits, Ramp& ramp, int16_t* out) {
  const uint64_t acc = bits.acc;
  const uint32_t window = static_cast<uint32_t>(acc >> (64 - kPeekBits));
  const uint32_t used = tables.used[window];
  if (kRows ? used == kLongestCode : used >= kNarrowEscapeBits) [[unlikely]] {
    if (bits.avail < kLongestCode) bits.Refill();
    const auto d = static_cast<uint16_t>(bits.TakeValue());
    bits.Refill();
    const U16x8 dv = Splat(d);
    if constexpr (kSecondDiff) {
      Store(out, ramp.ahead + dv);
      ramp.ahead = ramp.ahead + ramp.slope + dv * Load(&tables.twoToNine);
      ramp.slope = ramp.slope + dv;
    } else {
      Store(out, dv);
    }
    return 1;
  }
  bits.Skip(used);
  uint32_t row = window;
  if constexpr (kRows) {
    // The escape's row from its 18 bits: nine ones and a zero flag, then
    // the byte. The mask comes from a table: computed from `used`, it took
    // four more instructions and an empty asm to keep GCC from turning the
    // choice back into the branch (4% on Holter).
    const uint32_t narrow = static_cast<uint32_t>(acc >> (64 - kNarrowEscapeBits)) - kNarrowEscapePrefix + kPeekSize;
    const auto select = static_cast<uint32_t>(static_cast<int32_t>(tables.narrow[window]));
    row = window ^ ((window ^ narrow) & select);
  }
  const StepLanes& lanes = tables.lanes[row];
  const uint32_t count = lanes.count.v[0];
  const U16x8 r = Load(&lanes.ramp);
  if constexpr (kSecondDiff) {
    Store(out, ramp.ahead + r);
    ramp.ahead = ramp.ahead + ramp.slope * Load(&lanes.count) + Load(&lanes.next);
    ramp.slope = ramp.slope + Load(&lanes.sum);
  } else {
    // The differences themselves: d[j] = r[j] - 2 r[j-1] + r[j-2].
    const U16x8 r1 = ShiftUp1(r);
    Store(out, r - r1 - r1 + ShiftUp2(r));
  }
  return count;
}

// Steps per refill: at least 56 bits are held after one; a step uses at
// most kPeekBits, or kNarrowEscapeBits with escape rows. The bulk loop
// below spells them out.
template <bool kRows>
constexpr int kStepsPerRefill = kRows ? 3 : 4;
static_assert(kStepsPerRefill<false> * kPeekBits <= 56 && kStepsPerRefill<true> * kNarrowEscapeBits <= 56);
constexpr int kMostStepsPerRefill = 4;

// What the bulk loop of one lead changes, kept apart from the decoder
// object so that it lives in registers: the object's address is taken (its
// tail copy), and state reached through it went to the stack at every step.
template <bool kSecondDiff, bool kRows>
struct BulkState {
  BitStream bits;
  Ramp ramp;
  int16_t* out;
  int16_t* stop;  // rounds may start while out < stop

  bool Ready() const { return out < stop; }

  // One refill and the steps it pays for.
  ScpInline void Round(const DecodeTables& tables) {
    ScpPrefetchForWrite(out + 512);
    bits.Refill();
    out += Step<kSecondDiff, kRows>(tables, bits, ramp, out);
    out += Step<kSecondDiff, kRows>(tables, bits, ramp, out);
    out += Step<kSecondDiff, kRows>(tables, bits, ramp, out);
    if constexpr (kStepsPerRefill<kRows> == 4) out += Step<kSecondDiff, kRows>(tables, bits, ramp, out);
    static_assert(kStepsPerRefill<kRows> == 3 || kStepsPerRefill<kRows> == 4);
  }
};

// Rounds of every lead in turn until one of them reaches its last places.
// The leads are independent streams: while one waits on its table lookup
// the others' work fills the core, which a single stream leaves idle.
template <typename... States>
ScpInline void RunTogether(States&... leads) {
  // The tables through a pointer the compiler cannot see through, so that
  // every field is addressed from that one register: addressed from the
  // symbol, each field took a register of its own, and the leads' state
  // went to the stack instead (4% more instructions).
  const DecodeTables* tables = &kDecode;
#if defined(__GNUC__)
  __asm__("" : "+r"(tables));
  tables = static_cast<const DecodeTables*>(__builtin_assume_aligned(tables, alignof(DecodeTables)));
#endif
  while ((leads.Ready() && ...)) (leads.Round(*tables), ...);
}

// One lead being decoded: the first two samples, the bulk, the last places.
template <bool kSecondDiff>
class LeadDecoder {
 public:
  LeadDecoder(int16_t* dest, uint32_t destCount, const uint8_t* lead, uint32_t byteCount)
      : bits_(lead, byteCount, &tail_), dest_(dest), count_(destCount) {
    uint32_t n = 0;
    if constexpr (kSecondDiff) {
      // The first two values are samples, not differences.
      for (; n < destCount && n < 2; ++n) {
        bits_.Refill();
        dest[n] = bits_.TakeValue();
      }
      if (destCount >= 2) {
        const auto slope = static_cast<uint16_t>(dest[1] - dest[0]);
        ramp_.slope = Splat(slope);
        ramp_.ahead = Splat(static_cast<uint16_t>(dest[1])) + ramp_.slope * Load(&kDecode.oneToEight);
      }
    }
    out_ = dest + n;
    // A round writes up to kMostStepsPerRefill * kLanes places from out.
    stop_ = out_;
    if (destCount - n >= kMostStepsPerRefill * kLanes)
      stop_ = dest + (destCount - kMostStepsPerRefill * kLanes + 1);
  }
  LeadDecoder(const LeadDecoder&) = delete;
  LeadDecoder& operator=(const LeadDecoder&) = delete;

  template <bool kRows>
  BulkState<kSecondDiff, kRows> Take() const {
    return {bits_, ramp_, out_, stop_};
  }
  template <bool kRows>
  void Put(const BulkState<kSecondDiff, kRows>& state) {
    bits_ = state.bits;
    ramp_ = state.ramp;
    out_ = state.out;
  }

  template <bool kRows>
  void Finish() {
    if (kSecondDiff && count_ < 2) return;
    BulkState<kSecondDiff, kRows> state = Take<kRows>();
    RunTogether(state);
    Put(state);
    // The last few places: steps go through a scratch block.
    auto n = static_cast<uint32_t>(out_ - dest_);
    int16_t scratch[kLanes];
    while (n < count_) {
      bits_.Refill();
      const uint32_t got = Step<kSecondDiff, kRows>(kDecode, bits_, ramp_, scratch);
      const uint32_t take = got < count_ - n ? got : count_ - n;
      std::memcpy(dest_ + n, scratch, take * sizeof(int16_t));
      n += take;
    }
  }

 private:
  TailCopy tail_;
  BitStream bits_;
  Ramp ramp_{Splat(0), Splat(0)};
  int16_t* const dest_;
  const uint32_t count_;
  int16_t* out_;
  int16_t* stop_;
};

// A few leads in turn, each to its own destination (three fill the
// registers of x86-64).
template <bool kSecondDiff, bool kRows, size_t... k>
void DecodeGroup(LeadSpan* group, uint32_t destCount, const uint8_t* src, std::index_sequence<k...>) {
  LeadDecoder<kSecondDiff> lead[] = {
      LeadDecoder<kSecondDiff>(group[k].dest, destCount, src + group[k].offset, group[k].byteCount)...};
  BulkState<kSecondDiff, kRows> state[] = {lead[k].template Take<kRows>()...};
  RunTogether(state[k]...);
  (lead[k].Put(state[k]), ...);
  (lead[k].template Finish<kRows>(), ...);
  ((group[k].delivered = destCount), ...);
}

// One lead, or a group of 2 or 3, with or without escape rows.
template <bool kRows>
void DecodeLeadWith(int16_t* dest, uint32_t destCount, const uint8_t* lead, uint32_t byteCount,
                    bool secondDifference) {
  if (secondDifference)
    LeadDecoder<true>(dest, destCount, lead, byteCount).template Finish<kRows>();
  else
    LeadDecoder<false>(dest, destCount, lead, byteCount).template Finish<kRows>();
}

template <bool kRows>
void DecodeGroupWith(LeadSpan* group, uint32_t count, uint32_t destCount, const uint8_t* src,
                     bool secondDifference) {
  if (count == 3) {
    if (secondDifference)
      DecodeGroup<true, kRows>(group, destCount, src, std::make_index_sequence<3>());
    else
      DecodeGroup<false, kRows>(group, destCount, src, std::make_index_sequence<3>());
  } else {
    if (secondDifference)
      DecodeGroup<true, kRows>(group, destCount, src, std::make_index_sequence<2>());
    else
      DecodeGroup<false, kRows>(group, destCount, src, std::make_index_sequence<2>());
  }
}

}  // namespace
}  // namespace scpcodec::fast

// A variant's two entry points, defined in the variant's own file.
#define SCP_DECODE_VARIANT(kRows, DecodeLeadName, DecodeGroupName)                                           \
  void scpcodec::fast::DecodeLeadName(int16_t* dest, uint32_t destCount, const uint8_t* lead, uint32_t byteCount, \
                                      bool secondDifference) {                                               \
    DecodeLeadWith<kRows>(dest, destCount, lead, byteCount, secondDifference);                               \
  }                                                                                                          \
  void scpcodec::fast::DecodeGroupName(LeadSpan* group, uint32_t count, uint32_t destCount, const uint8_t* src, \
                                       bool secondDifference) {                                              \
    DecodeGroupWith<kRows>(group, count, destCount, src, secondDifference);                                  \
  }
