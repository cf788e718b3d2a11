// The rhythm sample codec: one lead of signed 16-bit samples to the bytes
// that Section 6 stores and back. Second differences (16-bit wrap) followed
// by the SCP-ECG default Huffman table; plain little-endian samples are
// accepted on reading.
//
// Two implementations give the same bytes and the same samples: `portable`
// walks the bit stream one bit at a time and serves as the reference; `fast`
// is table driven. The free functions dispatch on the settings' fastPath flag.
#pragma once

#include <cstddef>
#include <cstdint>

// How a lead's bytes are to be read (the result of the Section 2 reader).
struct HuffmanMode {
  uint8_t huffman;   // 1: default-table Huffman codes; 0: plain 16-bit samples
  uint8_t fastPath;  // 1: use the table-driven decoder
};
static_assert(sizeof(HuffmanMode) == 2 && alignof(HuffmanMode) == 1);
static_assert(offsetof(HuffmanMode, huffman) == 0 && offsetof(HuffmanMode, fastPath) == 1);

// Settings of the writer's codec, made once per Section 6 write.
struct RhythmEncoder {
  uint8_t huffman;           // 1: Huffman codes; 0: plain 16-bit samples
  uint8_t secondDifference;  // 1: code second differences instead of samples
  uint8_t fastPath;          // 1: use the table-driven encoder
};
static_assert(sizeof(RhythmEncoder) == 3 && alignof(RhythmEncoder) == 1);
static_assert(offsetof(RhythmEncoder, huffman) == 0 &&
              offsetof(RhythmEncoder, secondDifference) == 1 &&
              offsetof(RhythmEncoder, fastPath) == 2);

// A mode for reading; fastPath follows the processor's MMX feature.
HuffmanMode MakeHuffmanMode(bool huffman);
// The writer's settings: Huffman, second differences, fastPath from MMX.
RhythmEncoder MakeRhythmEncoder();

// One lead of a section for decodeLeads: its bytes at src[offset, offset +
// byteCount), its samples to dest (null: not decoded, 0 delivered).
struct LeadSpan {
  int16_t* dest;
  uint32_t offset;
  uint32_t byteCount;
  uint32_t delivered;  // set by decodeLeads: what decodeLead returns
};

// The codec's entry points, declared alike for the dispatching free
// functions and for each implementation.
//
// encodeLead codes `count` samples into out[offset ...], using at most
// `room` bytes. Returns the bytes written including the closing byte, or 0
// when room / 2 is less than count (nothing is written then) or when the
// codes do not fit. Only out[offset, offset + room) is ever written, and on
// success nothing past the returned count.
//
// decodeLead decodes the lead held in src[offset, offset + byteCount) into
// dest[0, destCount). Returns the samples delivered: destCount for
// Huffman-coded leads; for plain leads the samples copied, or 0 when the
// lead holds more samples than dest has room for. Never reads outside the
// lead's bytes and never writes past dest[destCount - 1].
//
// decodeLeads decodes the leads as decodeLead would, one after the other:
// same samples, same counts, a later lead written over an earlier one when
// their destinations are the same. The fast path decodes up to three at a
// time.
#define SCP_CODEC_ENTRY_POINTS                                                                              \
  uint32_t encodeLead(const RhythmEncoder& encoder, uint8_t* out, uint32_t offset, uint32_t room,          \
                      const int16_t* samples, uint32_t count);                                              \
  uint32_t decodeLead(const HuffmanMode& mode, int16_t* dest, uint32_t destCount, const uint8_t* src,      \
                      uint32_t offset, uint32_t byteCount, bool secondDifference);                          \
  void decodeLeads(const HuffmanMode& mode, LeadSpan* leads, uint32_t leadCount, uint32_t destCount,       \
                   const uint8_t* src, bool secondDifference);

// The free functions dispatch on the settings' fastPath flag.
SCP_CODEC_ENTRY_POINTS

namespace scpcodec {

// The two implementations, callable directly; they ignore fastPath.
namespace portable {
SCP_CODEC_ENTRY_POINTS
}  // namespace portable
namespace fast {
SCP_CODEC_ENTRY_POINTS
}  // namespace fast

// Shared by both implementations. The encoders' common start: the room
// rule and plain samples (2 * count bytes). True when that settles the lead,
// with its result in *bytes (0: refused); false when Huffman codes follow.
bool EncodeSettled(const RhythmEncoder& encoder, uint8_t* out, uint32_t room, const int16_t* samples,
                   uint32_t count, uint32_t* bytes);
// Plain samples are read one way only; secondDifference rebuilds all
// destCount places after the copy.
uint32_t DecodePlain(int16_t* dest, uint32_t destCount, const uint8_t* lead, uint32_t byteCount,
                     bool secondDifference);

}  // namespace scpcodec
