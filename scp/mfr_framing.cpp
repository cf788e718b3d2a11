#include "scp/mfr_framing.h"

#include <algorithm>

#include "lib/eventlog.h"

namespace mfr {

namespace {

void Oem(ScpEcg& codec, const Message& m) {
  if (m && m.text != nullptr) LogOem(codec.log(), m);
}

void ReportEmpty(ScpEcg& codec, const SectionMessages& m) {
  switch (m.emptyReport) {
    case EmptyReport::kOemError:
      Oem(codec, m.empty);
      break;
    case EmptyReport::kMemoryError:
      LogMemory(codec.log(), m.empty);
      break;
    case EmptyReport::kNone:
      break;
  }
}

}  // namespace

bool PutSingleRecord(ScpEcg& codec, const SectionMessages& m, std::optional<uint32_t> lengthWord,
                     std::span<const uint8_t> bytes, bool trailingZero) {
  if (bytes.data() == nullptr) {
    ReportEmpty(codec, m);
    return false;
  }
  SectionWriter out(codec);
  if (!out) {
    Oem(codec, m.beginFail);
    return false;
  }
  out.U32(1);
  if (lengthWord) out.U32(*lengthWord);
  out.Bytes(bytes.data(), bytes.size());
  if (trailingZero) out.U32(0);
  // A record that does not fit, or whose odd length leaves no room for the
  // pad byte, is reported like any other section that does not fit rather
  // than failing silently. The 16 header bytes that BeginSection reserved
  // stay in the record, unreferenced: the next section starts behind them.
  if (out.End(m.id)) return true;
  Oem(codec, m.sizeLimit);
  return false;
}

void ReadSingleRecord(ScpEcg& codec, const SectionMessages& m,
                      const std::function<void(std::span<const uint8_t> record)>& read) {
  SectionData data(codec, m.id);
  if (!data) return;
  bool valid = false;
  // Count word and length word first: a section too short for both cannot
  // be checked and is reported as invalid.
  if (data.size() >= 8) {
    uint32_t count = data.U32At(0);
    uint32_t length = data.U32At(4);
    uint64_t dataLength = data.size();
    // The container pads an odd section with one byte.
    if (length & 1) --dataLength;
    valid = count == 1 && (dataLength == uint64_t{length} + 8 ||
                           (m.acceptsMissingTrailer && dataLength == uint64_t{length} + 4));
    // Both accepted lengths put the record's L bytes within the data.
    if (valid) read(data.bytes().subspan(4, length));
  }
  if (!valid) Oem(codec, m.invalid);
}

uint32_t WalkRecords(ScpEcg& codec, const SectionMessages& m, const ByteReader& data, uint32_t n, uint32_t head,
                     const Step& step) {
  // Positions and lengths in 64 bits: a length word near 2^32 must not wrap
  // the position back into the data. `remaining` never goes below 0: a step
  // past the end leaves nothing for the next record, which then logs the
  // "too short" message as a negative remainder would.
  uint64_t pos = 4;
  uint64_t remaining = data.size() - 4;
  uint32_t i = 0;
  for (; i < n; ++i) {
    if (remaining < 4) {
      Oem(codec, m.tooShort);
      break;
    }
    const uint32_t length = data.U32At(pos);
    if (uint64_t{length} + head > remaining) {
      Oem(codec, m.tooShort2);
      break;
    }
    const uint64_t moved = step(i, data.bytes().subspan(pos), length);
    if (moved == kStop) break;
    pos += moved;
    remaining = remaining > moved ? remaining - moved : 0;
  }
  return i;
}

int WalkSection(ScpEcg& codec, const SectionMessages& m, uint32_t limit, uint32_t head, const Step& step) {
  SectionData data(codec, m.id);
  if (!data) return 0;
  if (data.size() < 4) {
    Oem(codec, m.tooShort);
    return 1;
  }
  WalkRecords(codec, m, data, std::min(data.U32At(0), limit), head, step);
  return 1;
}

int ReadCountedRecords(ScpEcg& codec, const SectionMessages& m, const CountedFraming& framing,
                       const std::function<void(uint32_t index, std::span<const uint8_t> record,
                                                uint32_t length)>& visit) {
  // Framing 3 with W not counting itself checks the payload behind W.
  const uint32_t head = framing.separateLengthWord && !framing.wordCountsItself ? 4 : 0;
  return WalkSection(codec, m, ~uint32_t{0}, head, [&](uint32_t i, std::span<const uint8_t> from, uint32_t length) {
    if (!framing.separateLengthWord) {
      // A record of length 0 with nothing behind it does not move the walk,
      // so every later index would meet it again: the walk ends there.
      if (length == 0 && framing.gapAfterRecord == 0) return kStop;
      if (length != 0) visit(i, from.first(length), length);
      return uint64_t{length} + framing.gapAfterRecord;
    }
    visit(i, from.subspan(4), length);
    if (!framing.wordCountsItself) return uint64_t{length} + 4;
    // W is compared with what remains from the length word on. A W below 4
    // would step back into the word itself (and read it again and again):
    // its record is read, and then nothing remains.
    return uint64_t{length < 4 ? from.size() : length};
  });
}

}  // namespace mfr
