#include "lib/dbclient/rhythmmeas.h"

#include <cstring>

#include "lib/bytes.h"

void RhythmMeasurement::Clear() {
  std::memset(block, 0, sizeof block);
  StoreU32(block, kBlockSize);
  StoreU32(block + 4, kClearedVersion);
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
  StoreU32(block, kBlockSize);
  return true;
}

uint32_t RhythmMeasurement::GetSize() const { return LoadU32(block); }
uint32_t RhythmMeasurement::GetVersion() const { return LoadU32(block + 4); }
void RhythmMeasurement::SetSize(uint32_t size) { StoreU32(block, size); }
void RhythmMeasurement::SetVersion(uint32_t version) { StoreU32(block + 4, version); }
