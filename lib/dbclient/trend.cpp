#include "lib/dbclient/trend.h"

#include <cstring>
#include <new>

#include "lib/byte_cursor.h"
#include "platform/platform.h"

// The data block is held as 32-bit words in host byte order: word 0, then
// c and v as 16-bit numbers at bytes 4 and 6, then the three arrays.
//
// Word 0 of the block is not part of what a trend serializes (L is computed
// afresh); whatever a host keeps there, its arrays hold kMaxSamples samples.
// A trend built from a record holds exactly the record's samples and is
// handed out const, so nothing can be added to it.

namespace {

uint16_t HeaderU16(const uint8_t* block, size_t at) {
  uint16_t v;
  std::memcpy(&v, block + at, sizeof v);
  return v;
}

void SetHeaderU16(uint8_t* block, size_t at, uint16_t v) { std::memcpy(block + at, &v, sizeof v); }

uint64_t RecordBytes(uint64_t c, uint64_t v) { return 8 + 4 * c + 4 * c * v + 4 * v; }

}  // namespace

TrendRecord::TrendRecord() : scaleNumerator(1), scaleDenominator(1) {}

TrendRecord::TrendRecord(uint32_t valueCount, uint32_t base) : TrendRecord() {
  baseTime = base;
  const uint32_t v = valueCount < kMaxHostValues ? valueCount : kMaxHostValues;
  const size_t words = 2 + size_t{kMaxSamples} + size_t{kMaxSamples} * v + v;
  uint32_t* block = new (std::nothrow) uint32_t[words]();
  if (block == nullptr) return;
  block[0] = kMaxSamples;
  dataBlock = reinterpret_cast<uint8_t*>(block);
  SetHeaderU16(dataBlock, 4, 0);
  SetHeaderU16(dataBlock, 6, static_cast<uint16_t>(v));
  times = block + 2;
  values = reinterpret_cast<int32_t*>(times + kMaxSamples);
  perValue = reinterpret_cast<uint32_t*>(values + size_t{kMaxSamples} * v);
}

TrendRecord::~TrendRecord() { delete[] reinterpret_cast<uint32_t*>(dataBlock); }

// A record whose c and v call for more than its L bytes, or whose L passes
// the end of the section data, gives no trend: its arrays could not be laid
// over the copy.
std::unique_ptr<const TrendRecord> TrendRecord::BuildFromRecord(std::span<const uint8_t> record) {
  if (record.size() < 8) return nullptr;
  const uint8_t* p = record.data();
  const ByteReader in(record);
  const uint32_t L = in.U32At(0);
  if (L < 8 || L > record.size()) return nullptr;
  const uint16_t c = in.U16At(4);
  const uint16_t v = in.U16At(6);
  const uint64_t need = RecordBytes(c, v);
  if (need > L) return nullptr;

  std::unique_ptr<TrendRecord> trend(new TrendRecord());
  const size_t words = (size_t{L} + 3) / 4;
  uint32_t* block = new uint32_t[words]();
  trend->dataBlock = reinterpret_cast<uint8_t*>(block);
  block[0] = L;
  SetHeaderU16(trend->dataBlock, 4, c);
  SetHeaderU16(trend->dataBlock, 6, v);
  for (size_t i = 2; i < need / 4; ++i) block[i] = in.U32At(4 * i);
  if (L > need) std::memcpy(trend->dataBlock + need, p + need, L - need);
  trend->times = block + 2;
  trend->values = reinterpret_cast<int32_t*>(trend->times + c);
  trend->perValue = reinterpret_cast<uint32_t*>(trend->values + size_t{c} * v);
  return trend;
}

uint32_t TrendRecord::GetSampleCount() const { return dataBlock ? HeaderU16(dataBlock, 4) : 0; }
uint32_t TrendRecord::GetValueCount() const { return dataBlock ? HeaderU16(dataBlock, 6) : 0; }

int32_t TrendRecord::GetValue(uint32_t sample, uint32_t index) const {
  const uint32_t v = GetValueCount();
  if (sample >= GetSampleCount() || index >= v) return 0;
  const int32_t raw = values[size_t{sample} * v + index];
  if (scaleNumerator == scaleDenominator) return raw;
  return plat::MulDiv(raw, scaleNumerator, scaleDenominator);
}

uint32_t TrendRecord::GetTime(uint32_t sample) const {
  return sample < GetSampleCount() ? times[sample] : 0;
}

uint32_t TrendRecord::GetPerValue(uint32_t index) const {
  return index < GetValueCount() ? perValue[index] : 0;
}

void TrendRecord::SetPerValue(uint32_t index, uint32_t word) {
  if (index < GetValueCount()) perValue[index] = word;
}

void TrendRecord::SetScale(int32_t numerator, int32_t denominator) {
  scaleNumerator = numerator;
  scaleDenominator = denominator;
}

bool TrendRecord::AddSample(uint32_t time, std::span<const int32_t> given) {
  if (dataBlock == nullptr) return false;
  const uint32_t c = GetSampleCount();
  if (c >= kMaxSamples) return false;
  const uint32_t v = GetValueCount();
  times[c] = time - baseTime;
  int32_t* row = values + size_t{c} * v;
  for (uint32_t j = 0; j < v; ++j) row[j] = j < given.size() ? given[j] : 0;
  SetHeaderU16(dataBlock, 4, static_cast<uint16_t>(c + 1));
  return true;
}

std::unique_ptr<uint8_t[]> TrendRecord::Serialize(uint32_t* length) const {
  if (length != nullptr) *length = 0;
  if (dataBlock == nullptr) return nullptr;
  const uint32_t c = GetSampleCount();
  const uint32_t v = GetValueCount();
  const uint64_t L = RecordBytes(c, v);
  if (L > UINT32_MAX) return nullptr;
  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[L]);
  if (!out) return nullptr;
  ByteWriter w(out.get(), static_cast<size_t>(L));
  w.U32(static_cast<uint32_t>(L));
  w.U16(static_cast<uint16_t>(c));
  w.U16(static_cast<uint16_t>(v));
  for (uint32_t s = 0; s < c; ++s) w.U32(times[s]);
  const size_t cv = size_t{c} * v;
  for (size_t i = 0; i < cv; ++i) w.U32(static_cast<uint32_t>(values[i]));
  for (uint32_t j = 0; j < v; ++j) w.U32(perValue[j]);
  if (length != nullptr) *length = static_cast<uint32_t>(L);
  return out;
}
