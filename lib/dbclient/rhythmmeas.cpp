#include "lib/dbclient/rhythmmeas.h"

#include <cstring>

#include "lib/byte_cursor.h"

void RhythmMeasurement::Clear() {
  std::memset(block, 0, sizeof block);
  SetSize(kBlockSize);
  SetVersion(kClearedVersion);
}

const uint8_t* RhythmMeasurement::Data(uint32_t* length) const {
  const uint32_t size = GetSize();
  if (size > kBlockSize) {
    *length = 0;
    return nullptr;
  }
  *length = size;
  return block;
}

bool RhythmMeasurement::Read(std::span<const uint8_t> record, uint32_t length) {
  if (length != kOldSizeA && length != kOldSizeB && length != kBlockSize) return false;
  if (record.size() < length) return false;
  Clear();
  std::memcpy(block, record.data(), length);
  // An older record carries its own (smaller) size; the block is full size.
  SetSize(kBlockSize);
  return true;
}

uint32_t RhythmMeasurement::GetSize() const { return ByteReader(block, sizeof block).U32At(0); }
uint32_t RhythmMeasurement::GetVersion() const { return ByteReader(block, sizeof block).U32At(4); }
void RhythmMeasurement::SetSize(uint32_t size) { ByteWriter(block, sizeof block).U32(size); }
void RhythmMeasurement::SetVersion(uint32_t version) { ByteWriter(block, sizeof block, 4).U32(version); }
