// The portable sample codec, the helpers both implementations share, and
// the dispatch between the two.
//
// The portable codec is the reference: it follows the bit stream one bit at
// a time, exactly as the default Huffman table and the byte filling rules
// describe it. The table-driven codec (sample_codec_fast.cpp) must give the
// same bytes and samples for every input, including damaged ones.

#include "scp/sample_codec.h"

#include <vector>

#include "lib/bytes.h"
#include "platform/platform.h"

HuffmanMode MakeHuffmanMode(bool huffman) {
  return HuffmanMode{static_cast<uint8_t>(huffman ? 1 : 0),
                     static_cast<uint8_t>(plat::HasMmx() ? 1 : 0)};
}

RhythmEncoder MakeRhythmEncoder() {
  return RhythmEncoder{1, 1, static_cast<uint8_t>(plat::HasMmx() ? 1 : 0)};
}

uint32_t encodeLead(const RhythmEncoder& encoder, uint8_t* out, uint32_t offset, uint32_t room,
                    const int16_t* samples, uint32_t count) {
  return encoder.fastPath ? scpcodec::fast::encodeLead(encoder, out, offset, room, samples, count)
                          : scpcodec::portable::encodeLead(encoder, out, offset, room, samples, count);
}

uint32_t decodeLead(const HuffmanMode& mode, int16_t* dest, uint32_t destCount, const uint8_t* src,
                    uint32_t offset, uint32_t byteCount, bool secondDifference) {
  return mode.fastPath
             ? scpcodec::fast::decodeLead(mode, dest, destCount, src, offset, byteCount, secondDifference)
             : scpcodec::portable::decodeLead(mode, dest, destCount, src, offset, byteCount,
                                              secondDifference);
}

void decodeLeads(const HuffmanMode& mode, LeadSpan* leads, uint32_t leadCount, uint32_t destCount,
                 const uint8_t* src, bool secondDifference) {
  if (mode.fastPath)
    scpcodec::fast::decodeLeads(mode, leads, leadCount, destCount, src, secondDifference);
  else
    scpcodec::portable::decodeLeads(mode, leads, leadCount, destCount, src, secondDifference);
}

namespace scpcodec {
namespace {
// x[n] = 2 x[n-1] - x[n-2] + d[n] from n = 2 on, in 16-bit arithmetic.
void RebuildSecondDifferences(int16_t* values, uint32_t count) {
  for (uint32_t n = 2; n < count; ++n) {
    values[n] = static_cast<int16_t>(2 * values[n - 1] - values[n - 2] + values[n]);
  }
}
}  // namespace

uint32_t DecodePlain(int16_t* dest, uint32_t destCount, const uint8_t* lead, uint32_t byteCount,
                     bool secondDifference) {
  const uint32_t available = byteCount / 2;  // an odd last byte is no sample
  if (available > destCount) {
    // The destination fills while samples remain: the lead is longer than
    // the caller expects. What was copied stays, unrebuilt.
    for (uint32_t n = 0; n < destCount; ++n) dest[n] = LoadI16(lead + 2 * n);
    return 0;
  }
  for (uint32_t n = 0; n < available; ++n) dest[n] = LoadI16(lead + 2 * n);
  if (secondDifference) RebuildSecondDifferences(dest, destCount);
  return available;
}

bool EncodeSettled(const RhythmEncoder& encoder, uint8_t* out, uint32_t room, const int16_t* samples,
                   uint32_t count, uint32_t* bytes) {
  *bytes = 0;
  // Room for the uncompressed lead is asked for even though it compresses.
  if (room / 2 < count) return true;
  if (!encoder.huffman) {
    for (uint32_t n = 0; n < count; ++n) {
      int value = samples[n];
      if (encoder.secondDifference && n >= 2) value = samples[n] - 2 * samples[n - 1] + samples[n - 2];
      StoreU16(out + 2 * n, static_cast<uint16_t>(value));
    }
    *bytes = 2 * count;
    return true;
  }
  // An empty lead still takes its closing zero byte; with no room at all it
  // does not fit.
  return room == 0;
}

namespace portable {
namespace {

// Builds each byte in place: a new byte starts at zero and collects bits
// from its most significant end.
class BitWriter {
 public:
  BitWriter(uint8_t* out, uint32_t room) : out_(out), room_(room) { out_[0] = 0; }

  // False once a completed byte would move the stream to or past the room.
  bool Put(uint32_t bits, int length) {
    for (int i = length - 1; i >= 0; --i) {
      if ((bits >> i) & 1u) out_[byte_] = static_cast<uint8_t>(out_[byte_] | (0x80u >> bit_));
      if (++bit_ == 8) {
        bit_ = 0;
        if (++byte_ >= room_) return false;
        out_[byte_] = 0;
      }
    }
    return true;
  }

  // The byte being filled is always part of the stream: either it holds the
  // last bits, or the codes ended on a boundary and it is the closing zero.
  uint32_t Finish() const { return byte_ + 1; }

 private:
  uint8_t* out_;
  uint32_t room_;
  uint32_t byte_ = 0;
  int bit_ = 0;
};

bool PutValue(BitWriter& writer, int16_t value) {
  const int v = value;
  if (v == 0) return writer.Put(0, 1);
  if (v >= -8 && v <= 8) {
    const int n = v < 0 ? -v : v;
    const uint32_t ones = (1u << n) - 1;
    return writer.Put((ones << 2) | (v < 0 ? 1u : 0u), n + 2);
  }
  if (v >= -128 && v <= 127) {
    return writer.Put(0x3FEu, 10) && writer.Put(static_cast<uint8_t>(v), 8);
  }
  return writer.Put(0x3FFu, 10) && writer.Put(static_cast<uint16_t>(v), 16);
}

// Reads the lead's bits from the most significant end of each byte.
// Decision for damaged leads: bits past the lead's last byte read as zero
// bits. A code cut short by the end is completed with zeros, and every value
// asked for after the bytes run out decodes as 0 (a 0 second difference, so
// the signal goes on along its last slope). The fast decoder follows the same
// rule, so both give the same samples for any bytes and any count.
class BitReader {
 public:
  BitReader(const uint8_t* lead, uint32_t byteCount) : lead_(lead), bits_(uint64_t{byteCount} * 8) {}

  uint32_t Bit() {
    if (pos_ >= bits_) return 0;
    const uint32_t bit = (lead_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u;
    ++pos_;
    return bit;
  }

  uint32_t Bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 1) | Bit();
    return value;
  }

 private:
  const uint8_t* lead_;
  uint64_t bits_;
  uint64_t pos_ = 0;
};

int16_t GetValue(BitReader& reader) {
  int ones = 0;
  while (ones < 10 && reader.Bit()) ++ones;
  if (ones == 10) return static_cast<int16_t>(reader.Bits(16));
  if (ones == 9) return static_cast<int8_t>(reader.Bits(8));
  if (ones == 0) return 0;
  return static_cast<int16_t>(reader.Bit() ? -ones : ones);
}

}  // namespace

uint32_t encodeLead(const RhythmEncoder& encoder, uint8_t* out, uint32_t offset, uint32_t room,
                    const int16_t* samples, uint32_t count) {
  uint32_t settled = 0;
  if (EncodeSettled(encoder, out + offset, room, samples, count, &settled)) return settled;

  std::vector<int16_t> values(samples, samples + count);
  if (encoder.secondDifference && count > 2) {
    int16_t before = samples[0];
    int16_t last = samples[1];
    for (uint32_t n = 2; n < count; ++n) {
      const int16_t current = values[n];
      values[n] = static_cast<int16_t>(current - 2 * last + before);
      before = last;
      last = current;
    }
  }

  BitWriter writer(out + offset, room);
  for (const int16_t value : values) {
    if (!PutValue(writer, value)) return 0;
  }
  return writer.Finish();
}

uint32_t decodeLead(const HuffmanMode& mode, int16_t* dest, uint32_t destCount, const uint8_t* src,
                    uint32_t offset, uint32_t byteCount, bool secondDifference) {
  const uint8_t* lead = src + offset;
  if (!mode.huffman) return DecodePlain(dest, destCount, lead, byteCount, secondDifference);

  BitReader reader(lead, byteCount);
  for (uint32_t n = 0; n < destCount; ++n) dest[n] = GetValue(reader);
  if (secondDifference) RebuildSecondDifferences(dest, destCount);
  return destCount;
}

void decodeLeads(const HuffmanMode& mode, LeadSpan* leads, uint32_t leadCount, uint32_t destCount,
                 const uint8_t* src, bool secondDifference) {
  for (uint32_t i = 0; i < leadCount; ++i) {
    LeadSpan& l = leads[i];
    l.delivered = l.dest ? portable::decodeLead(mode, l.dest, destCount, src, l.offset, l.byteCount, secondDifference) : 0;
  }
}

}  // namespace portable
}  // namespace scpcodec
