#include "lib/dbclient/bloodpressure.h"

#include <new>

#include "lib/dbclient/counted_record.h"

namespace {

constexpr uint32_t kReadingBytes = sizeof(BloodPressureReading);

}  // namespace

// ------------------------------------------------------------ readings

BloodPressureData::BloodPressureData(uint32_t cap) : capacity(cap) {
  if (capacity > 0) readings = new (std::nothrow) BloodPressureReading[capacity]();
}

BloodPressureData::~BloodPressureData() { delete[] readings; }

std::unique_ptr<uint8_t[]> BloodPressureData::Serialize(uint32_t* length) const {
  const uint32_t n = StoredCount(readings, count, capacity);
  return SerializeCounted(length, n, uint64_t{kReadingBytes} * n + kHeaderBytes, [&](ByteWriter& out) {
    out.U32(kFormatMark);
    for (uint32_t i = 0; i < n; ++i) {
      for (uint32_t w = 0; w < BloodPressureReading::kWords; ++w) out.U32(readings[i].words[w]);
    }
  });
}

int32_t BloodPressureData::Read(std::span<const uint8_t> record) {
  count = 0;
  if (readings == nullptr) return 1;
  auto reading = [&](const ByteReader& in, size_t at, uint32_t i) {
    for (uint32_t w = 0; w < BloodPressureReading::kWords; ++w) readings[i].words[w] = in.U32At(at + 4 * w);
  };
  return ReadCounted(record, capacity, kFormatMark, kReadingBytes, count, reading);
}

// ------------------------------------------------------------- results

BloodPressureResults::BloodPressureResults() { Clear(); }

void BloodPressureResults::Clear() {
  value1 = 0;
  value2 = 0;
  for (BloodPressureGroup& g : groups) g = BloodPressureGroup{};
}

namespace {

// Word k of the 110-word block, in block order.
uint32_t& BlockWord(BloodPressureResults& b, uint32_t k) {
  if (k == 0) return b.value1;
  if (k == 1) return b.value2;
  BloodPressureGroup& g = b.groups[(k - 2) / 9];
  const uint32_t j = (k - 2) % 9;
  return j < BloodPressureGroup::kValues ? g.values[j] : g.extra[j - BloodPressureGroup::kValues];
}

uint32_t BlockWord(const BloodPressureResults& b, uint32_t k) {
  return BlockWord(const_cast<BloodPressureResults&>(b), k);
}

constexpr uint32_t kBlockWords = BloodPressureResults::kBlockBytes / 4;
static_assert(kBlockWords == 2 + BloodPressureResults::kGroups * 9);

}  // namespace

std::unique_ptr<uint8_t[]> BloodPressureResults::Serialize(uint32_t* length) const {
  if (length != nullptr) *length = 0;
  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[kRecordBytes]);
  if (!buf) return nullptr;
  ByteWriter out(buf.get(), kRecordBytes);
  out.U32(kRecordBytes);
  out.U32(kFormatMark);
  for (uint32_t k = 0; k < kBlockWords; ++k) out.U32(BlockWord(*this, k));
  if (length != nullptr) *length = kRecordBytes;
  return buf;
}

int32_t BloodPressureResults::Read(std::span<const uint8_t> record) {
  Clear();
  // The record's words are read only where they lie inside the record; a
  // record that ends early keeps the words it holds, the rest stays zero,
  // and the reader reports 0.
  const ByteReader in(record, PastEnd::kKeep);
  auto word = [&](size_t index, uint32_t* out) { return in.ReadAt(4 * index, out); };
  uint32_t len = 0;
  uint32_t mark = 0;
  if (!word(0, &len) || len < 9) return 0;
  if (!word(1, &mark)) return 0;

  bool complete = true;
  if (mark == kFormatMark) {
    for (uint32_t k = 0; k < kBlockWords; ++k) complete = word(2 + k, &BlockWord(*this, k)) && complete;
    return complete ? 1 : 0;
  }
  if (mark == kOlderFormatMark) {
    complete = word(2, &value1) && complete;
    complete = word(3, &value2) && complete;
    for (uint32_t g = 0; g < kGroups; ++g) {
      for (uint32_t j = 0; j < BloodPressureGroup::kValues; ++j) {
        complete = word(4 + BloodPressureGroup::kValues * g + j, &groups[g].values[j]) && complete;
      }
      groups[g].extra[0] = kOlderFormExtra[g][0];
      groups[g].extra[1] = kOlderFormExtra[g][1];
    }
    return complete ? 1 : 0;
  }
  return 0;
}
