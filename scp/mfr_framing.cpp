#include "scp/mfr_framing.h"

#include <algorithm>
#include <cstring>

#include "lib/eventlog.h"

namespace mfr {

namespace {

void Oem(ScpEcg& codec, const Message& m) {
  if (m && m.text != nullptr) LogOem(codec.log(), m);
}

}  // namespace

SectionData::SectionData(ScpEcg& codec, uint16_t id) : ByteReader(nullptr, 0) {
  uint32_t length = 0;
  data_ = codec.GetSection(id, &length);
  if (data_ == nullptr) return;
#if defined(__SANITIZE_ADDRESS__)
  // The container's copy is 16 bytes longer than the data it gives out; an
  // exact copy lets the address checker catch a read past the data.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[length > 0 ? length : 1]);
  if (length > 0) std::memcpy(exact.get(), data_.get(), length);
  data_ = std::move(exact);
#endif
  static_cast<ByteReader&>(*this) = ByteReader(data_.get(), length);
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

bool PutSingleRecord(ScpEcg& codec, const SectionMessages& m, const RecordBody& body) {
  if (body.empty()) {
    ReportEmpty(codec, m);
    return false;
  }
  uint32_t start = 0;
  uint32_t remaining = 0;
  uint32_t at = codec.BeginSection(&start, &remaining);
  if (at == 0) {
    Oem(codec, m.beginFail);
    return false;
  }
  // The room check counts what is really written (L + 8 for every section
  // of this kind) and the pad byte of an odd length, so that an exact fit of
  // odd length is reported like any other section that does not fit rather
  // than failing silently when the section is ended.
  uint64_t dataLength = 4 + (body.hasLengthWord ? 4 : 0) + uint64_t{body.bytes.size()} + (body.trailingZero ? 4 : 0);
  uint64_t needed = dataLength + ((SectionHeader::kSize + dataLength) & 1);
  if (body.recordLength < 1 || remaining < needed) {
    // The 16 header bytes that BeginSection reserved stay in the record,
    // unreferenced: the next section starts behind them.
    Oem(codec, m.sizeLimit);
    return false;
  }
  at = codec.PutUInt32(at, 1);
  if (body.hasLengthWord) at = codec.PutUInt32(at, body.lengthWord);
  at = codec.PutBytes(at, body.bytes.data(), 0, static_cast<uint32_t>(body.bytes.size()));
  if (body.trailingZero) at = codec.PutUInt32(at, 0);
  return codec.EndSection(at, m.id, start);
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

int ReadCountedRecords(ScpEcg& codec, const SectionMessages& m, const CountedFraming& framing,
                       const std::function<void(uint32_t index, std::span<const uint8_t> record,
                                                uint32_t length)>& visit) {
  SectionData data(codec, m.id);
  if (!data) return 0;
  const std::span<const uint8_t> bytes = data.bytes();
  // A section whose data cannot even hold the count word has run out
  // before its first length word.
  if (data.size() < 4) {
    Oem(codec, m.tooShort);
    return 1;
  }
  const uint32_t n = data.U32At(0);
  // Positions and lengths in 64 bits: a length word near 2^32 must not wrap
  // the position back into the data. `remaining` never goes below 0: a step
  // past the end leaves nothing for the next record, which then logs the
  // "too short" message as a negative remainder would.
  uint64_t pos = 4;
  uint64_t remaining = data.size() - 4;
  auto consume = [&](uint64_t step) {
    pos += step;
    remaining = remaining > step ? remaining - step : 0;
  };
  for (uint32_t i = 0; i < n; ++i) {
    if (remaining < 4) {
      Oem(codec, m.tooShort);
      break;
    }
    const uint32_t length = data.U32At(pos);
    if (!framing.separateLengthWord) {
      if (length > remaining) {
        Oem(codec, m.tooShort2);
        break;
      }
      // A record of length 0 with nothing behind it does not move the walk,
      // so every later index would meet it again: the walk ends there.
      if (length == 0 && framing.gapAfterRecord == 0) break;
      if (length != 0) visit(i, bytes.subspan(pos, length), length);
      consume(uint64_t{length} + framing.gapAfterRecord);
      continue;
    }
    if (framing.wordCountsItself) {
      // W is compared with what remains from the length word on. A W below
      // 4 would step back into the word itself (and read it again and
      // again): its record is read, and then nothing remains.
      if (length > remaining) {
        Oem(codec, m.tooShort2);
        break;
      }
      visit(i, bytes.subspan(pos + 4), length);
      consume(length < 4 ? remaining : length);
      continue;
    }
    consume(4);
    if (length > remaining) {
      Oem(codec, m.tooShort2);
      break;
    }
    visit(i, bytes.subspan(pos), length);
    consume(length);
  }
  return 1;
}

}  // namespace mfr
