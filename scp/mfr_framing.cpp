#include "scp/mfr_framing.h"

#include <algorithm>
#include <cstring>

#include "lib/bytes.h"
#include "lib/eventlog.h"

namespace mfr {

namespace {

void Oem(ScpEcg& codec, int32_t line, const char* text) {
  if (codec.log() != nullptr && line != 0 && text != nullptr) codec.log()->LogOemError(kSrcScpecg, line, text);
}

}  // namespace

SectionData::SectionData(ScpEcg& codec, uint16_t id) {
  uint32_t length = 0;
  data_ = codec.GetSection(id, &length);
  if (data_ == nullptr) return;
  size_ = length;
#if defined(__SANITIZE_ADDRESS__)
  // The container's copy is 16 bytes longer than the data it gives out; an
  // exact copy lets the address checker catch a read past the data.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[size_ > 0 ? size_ : 1]);
  if (size_ > 0) std::memcpy(exact.get(), data_.get(), size_);
  data_ = std::move(exact);
#endif
}

uint32_t SectionData::Word(uint64_t offset) const {
  if (data_ == nullptr || offset + 4 > size_) return 0;
  return LoadU32(data_.get() + offset);
}

void ReportEmpty(ScpEcg& codec, const SectionMessages& m) {
  if (codec.log() == nullptr) return;
  switch (m.emptyReport) {
    case EmptyReport::kOemError:
      Oem(codec, m.emptyLine, m.emptyText);
      break;
    case EmptyReport::kMemoryError:
      codec.log()->LogMemoryError(kSrcScpecg, m.emptyLine);
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
    Oem(codec, m.beginFailLine, m.beginFailText);
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
    Oem(codec, m.sizeLimitLine, kSizeLimit);
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
    uint32_t count = data.Word(0);
    uint32_t length = data.Word(4);
    uint64_t dataLength = data.size();
    // The container pads an odd section with one byte.
    if (length & 1) --dataLength;
    valid = count == 1 && (dataLength == uint64_t{length} + 8 ||
                           (m.acceptsMissingTrailer && dataLength == uint64_t{length} + 4));
    // Both accepted lengths put the record's L bytes within the data.
    if (valid) read(data.bytes().subspan(4, length));
  }
  if (!valid) Oem(codec, m.invalidLine, m.invalidText);
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
    Oem(codec, m.tooShortLine, m.tooShortText);
    return 1;
  }
  const uint32_t n = data.Word(0);
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
      Oem(codec, m.tooShortLine, m.tooShortText);
      break;
    }
    const uint32_t length = data.Word(pos);
    if (!framing.separateLengthWord) {
      if (length > remaining) {
        Oem(codec, m.tooShort2Line, m.tooShort2Text);
        break;
      }
      if (length != 0) visit(i, bytes.subspan(pos, length), length);
      consume(uint64_t{length} + framing.gapAfterRecord);
      continue;
    }
    if (framing.wordCountsItself) {
      // W is compared with what remains from the length word on. A W below
      // 4 would step back into the word itself (and read it again and
      // again): its record is read, and then nothing remains.
      if (length > remaining) {
        Oem(codec, m.tooShort2Line, m.tooShort2Text);
        break;
      }
      visit(i, bytes.subspan(pos + 4), length);
      consume(length < 4 ? remaining : length);
      continue;
    }
    consume(4);
    if (length > remaining) {
      Oem(codec, m.tooShort2Line, m.tooShort2Text);
      break;
    }
    visit(i, bytes.subspan(pos), length);
    consume(length);
  }
  return 1;
}

}  // namespace mfr
