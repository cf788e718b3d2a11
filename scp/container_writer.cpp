// Writing side of the container: record header, section 0, section framing,
// finalization with every CRC.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "lib/byte_cursor.h"
#include "lib/eventlog.h"
#include "scp/crc.h"
#include "scp/messages.h"
#include "scp/scpecg.h"

ScpEcg::ScpEcg(ScpService* service, EventLog* log) : service_(service), log_(log) {
  heap_ = plat::HeapCreate();
  if (heap_ == nullptr) LogMemory(log_, msg::kNoHeapAtStart);
}

ScpEcg::~ScpEcg() {
  ClearTable();
  if (buffer_ != nullptr) plat::HeapFree(heap_, buffer_);
  buffer_ = nullptr;
  plat::HeapDestroy(heap_);
  // file_ is destroyed last and closes any open file.
}

void ScpEcg::ClearTable() {
  for (auto& e : table_) {
    delete e;
    e = nullptr;
  }
  sectionCount_ = 0;
}

bool ScpEcg::FormatRecordHeader(uint32_t capacity) {
  if (buffer_ != nullptr) plat::HeapFree(heap_, buffer_);
  buffer_ = nullptr;
  capacity_ = 0;
  if (heap_ == nullptr) {
    LogOem(log_, msg::kNoHeap);
    LogMemory(log_, msg::kFormatNoHeap);
    return false;
  }
  // A buffer too small for the record header and section 0 is refused like
  // a failed allocation: nothing could be written into it.
  void* block = capacity >= kEmptyRecordSize ? plat::HeapAlloc(heap_, capacity) : nullptr;
  if (block == nullptr) {
    LogMemory(log_, msg::kFormatAllocation);
    LogMemory(log_, msg::kFormatNoHeap);
    return false;
  }
  buffer_ = static_cast<uint8_t*>(block);
  capacity_ = capacity;
  // One codec serves one record, so the record starts at the buffer's start:
  // its header and section 0 stay zero until the record is finalized.
  std::memset(buffer_, 0, kEmptyRecordSize);
  ClearTable();
  for (int i = 0; i < kTableSize; ++i) {
    table_[i] = new SectionEntry{kSectionIds[i], 0, 0};
    ++sectionCount_;
  }
  return EndSection(kEmptyRecordSize, 0, kRecordHeaderSize + 1);
}

uint32_t ScpEcg::BeginSection(uint32_t* startIndex, uint32_t* remaining) {
  if (buffer_ == nullptr) {
    LogOem(log_, msg::kBufferNull);
    return 0;
  }
  uint32_t start = position_ + 1;
  if (capacity_ - position_ < SectionHeader::kSize) {
    LogOem(log_, msg::kBufferOverflow);
    return 0;
  }
  // The reserved header bytes are zeroed so that a section begun and never
  // ended leaves 16 zero bytes rather than stale memory.
  std::memset(buffer_ + position_, 0, SectionHeader::kSize);
  position_ += SectionHeader::kSize;
  if (startIndex) *startIndex = start;
  if (remaining) *remaining = capacity_ - position_;
  return position_;
}

// The writers below return the offset behind the value whether or not it
// fit: every section checks its room before it writes, and a value that
// would not fit (never written so) is refused by the cursor rather than
// written past the buffer.
uint32_t ScpEcg::PutUInt8(uint32_t offset, uint8_t value) {
  ByteWriter(buffer_, capacity_, offset).U8(value);
  return offset + 1;
}

uint32_t ScpEcg::PutInt16(uint32_t offset, int32_t value) {
  ByteWriter(buffer_, capacity_, offset).U16(static_cast<uint16_t>(value));
  return offset + 2;
}

uint32_t ScpEcg::PutUInt32(uint32_t offset, uint32_t value) {
  ByteWriter(buffer_, capacity_, offset).U32(value);
  return offset + 4;
}

bool ScpEcg::EndSection(uint32_t end, uint16_t id, uint32_t start) {
  auto* found = std::find_if(std::begin(table_), std::end(table_), [&](auto* s) { return s && s->id == id; });
  SectionEntry* e = found != std::end(table_) ? *found : nullptr;
  if (e == nullptr || buffer_ == nullptr || end > capacity_ || start == 0 || end + 1 < start) return false;
  uint32_t length = end - start + 1;
  if (length & 1) {
    // The pad byte needs one byte of room; without it the section cannot
    // be closed and stays absent.
    if (end >= capacity_) return false;
    buffer_[end] = 0;
    ++end;
    ++length;
  }
  e->index = start;
  e->length = length;
  position_ = end;
  return true;
}

namespace {

struct ClosedSection {
  uint32_t start, length;  // from the section's CRC field; length as in section 0
  uint16_t crc;            // over the section after its CRC field
};

// The record CRC over bytes 2 to end: the bytes between sections (record
// header, section CRC fields) are read, each section's own CRC is folded in
// by length. Sections that overlap or leave the buffer (never written so,
// but cheap to rule out) make it read everything.
uint16_t RecordCrcFromSections(const uint8_t* buffer, uint32_t end, ClosedSection* sections, int count) {
  std::sort(sections, sections + count,
            [](const ClosedSection& a, const ClosedSection& b) { return a.start < b.start; });
  uint16_t crc = 0xFFFF;
  uint32_t cursor = 2;
  for (int i = 0; i < count; ++i) {
    const ClosedSection& s = sections[i];
    if (s.length < 2 || s.start + 2 < cursor || s.start > end || s.length > end - s.start)
      return ScpEcg::ComputeCrc(buffer, 2, end - 2);
    const uint32_t head = s.start + 2 - cursor;
    crc = scpcrc::Combine(crc, ScpEcg::ComputeCrc(buffer, cursor, head), head);
    crc = scpcrc::Combine(crc, s.crc, s.length - 2);
    cursor = s.start + s.length;
  }
  return scpcrc::Combine(crc, ScpEcg::ComputeCrc(buffer, cursor, end - cursor), end - cursor);
}

}  // namespace

const uint8_t* ScpEcg::FinalizeRecordHeader(uint32_t* length) {
  if (buffer_ == nullptr) return nullptr;
  // Each section's CRC, kept with its place, so that the record CRC can
  // reuse them instead of reading the whole buffer a second time.
  ClosedSection closed[kTableSize];
  int closedCount = 0;
  bool reusable = true;
  for (int slot = 0; slot < kTableSize; ++slot) {
    SectionEntry* e = table_[slot];
    if (e == nullptr || e->index == 0) continue;
    try {
      uint32_t at = e->index - 1;
      if (slot == 0) {
        uint32_t p = e->index + 15;
        for (auto* entry : table_) {
          p = PutInt16(p, entry ? entry->id : 0);
          p = PutUInt32(p, entry ? entry->length : 0);
          p = PutUInt32(p, entry ? entry->index : 0);
        }
      }
      PutInt16(at + 2, e->id);
      PutUInt32(at + 4, e->length);
      PutUInt8(at + 8, kSectionVersion);
      PutUInt8(at + 9, kProtocolVersion);
      std::memcpy(buffer_ + at + 10, "SCPECG", 6);
      const uint16_t crc = ComputeCrc(buffer_, e->index + 1, e->length - 2);
      PutInt16(at, crc);
      closed[closedCount++] = {at, e->length, crc};
    } catch (...) {
      reusable = false;
      LogMemory(log_, msg::kFinalizeSection);
    }
  }
  PutUInt32(2, position_);
  if (length) *length = position_;
  PutInt16(0, reusable ? RecordCrcFromSections(buffer_, position_, closed, closedCount) : ComputeCrc(buffer_, 2, position_ - 2));
  return buffer_;
}
