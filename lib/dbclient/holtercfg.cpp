#include "lib/dbclient/holtercfg.h"

#include <cstring>
#include <new>

#include "lib/bytes.h"

// A constructor that throws runs no destructor: what it made goes first.
HolterBlock1::HolterBlock1() : values{}, entries{} {
  try {
    for (HolterCodedEntry*& e : entries) e = new HolterCodedEntry{};
  } catch (...) {
    for (HolterCodedEntry* e : entries) delete e;
    throw;
  }
}

HolterBlock1::~HolterBlock1() {
  for (HolterCodedEntry* e : entries) delete e;
}

HolterBlock4::HolterBlock4() : value(0), entries{} {
  try {
    for (HolterFlaggedEntry*& e : entries) e = new HolterFlaggedEntry{};
  } catch (...) {
    for (HolterFlaggedEntry* e : entries) delete e;
    throw;
  }
}

HolterBlock4::~HolterBlock4() {
  for (HolterFlaggedEntry* e : entries) delete e;
}

HolterConfig::HolterConfig()
    : sizeWord(kMinimumSizeWord), version(kCurrentVersion), block1(nullptr), block2(nullptr),
      block3(nullptr), block4(nullptr), block5(nullptr), block6(nullptr), closingFlag(0) {
  try {
    block1 = new HolterBlock1;
    block2 = new HolterBlock2{};
    block3 = new HolterBlock3{};
    block4 = new HolterBlock4;
    block5 = new HolterBlock5{};
    block6 = new HolterBlock6{};
  } catch (...) {
    FreeBlocks();
    throw;
  }
}

HolterConfig::~HolterConfig() { FreeBlocks(); }

void HolterConfig::FreeBlocks() {
  delete block1;
  delete block2;
  delete block3;
  delete block4;
  delete block5;
  delete block6;
}

namespace {

// Payload offsets of the version-13 form.
constexpr size_t kBlock1At = 8;
constexpr size_t kBlock2At = kBlock1At + HolterBlock1::kRecordBytes;
constexpr size_t kBlock3At = kBlock2At + HolterBlock2::kRecordBytes;
constexpr size_t kBlock4At = kBlock3At + HolterBlock3::kRecordBytes;
constexpr size_t kBlock5At = kBlock4At + HolterBlock4::kRecordBytes;
constexpr size_t kBlock6At = kBlock5At + HolterBlock5::kRecordBytes;
constexpr size_t kFlagAt = kBlock6At + HolterBlock6::kRecordBytes;
static_assert(kBlock2At == 84 && kBlock3At == 120 && kBlock4At == 196);
static_assert(kBlock5At == 600 && kBlock6At == 616 && kFlagAt == 692);
static_assert(kFlagAt + 8 == HolterConfig::kPayloadBytes);

}  // namespace

std::unique_ptr<uint8_t[]> HolterConfig::Serialize(uint32_t* length) const {
  if (length != nullptr) *length = 0;
  // The size word may come from a fetched file, so it sizes nothing: the
  // buffer is the payload, which is all that is ever written. A size word
  // below 696 is written back as held rather than costing the section.
  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[kPayloadBytes]());
  if (!out) return nullptr;
  uint8_t* p = out.get();
  StoreU32(p, sizeWord);
  StoreU32(p + 4, version);
  if (block1 != nullptr) {
    uint8_t* b = p + kBlock1At;
    for (int i = 0; i < 3; ++i) StoreU32(b + 4 * i, block1->values[i]);
    for (uint32_t i = 0; i < HolterBlock1::kEntries; ++i) {
      const HolterCodedEntry* e = block1->entries[i];
      if (e == nullptr) continue;
      StoreU32(b + 12 + 8 * i, HolterBlock1::MapCode(e->code));
      StoreU32(b + 16 + 8 * i, e->value);
    }
  }
  if (block2 != nullptr) {
    uint8_t* b = p + kBlock2At;
    for (int i = 0; i < 5; ++i) b[i] = block2->flags[i] != 0 ? 1 : 0;
    for (int i = 0; i < 5; ++i) StoreU32(b + 8 + 4 * i, block2->values[i]);
    for (int i = 0; i < 2; ++i) StoreU32(b + 28 + 4 * i, block2->extra[i]);
  }
  if (block3 != nullptr) {
    uint8_t* b = p + kBlock3At;
    for (int i = 0; i < 17; ++i) StoreU32(b + 4 * i, block3->values[i]);
    StoreU32(b + 68, block3->value68);
    StoreU32(b + 72, block3->flags & HolterBlock3::kStoredFlagBits);
  }
  if (block4 != nullptr) {
    uint8_t* b = p + kBlock4At;
    StoreU32(b, block4->value);
    for (uint32_t i = 0; i < HolterBlock4::kEntries; ++i) {
      const HolterFlaggedEntry* e = block4->entries[i];
      if (e == nullptr) continue;
      uint8_t* q = b + 4 + 16 * i;
      q[0] = e->flag != 0 ? 1 : 0;
      for (int j = 0; j < 3; ++j) StoreU32(q + 4 + 4 * j, e->values[j]);
    }
  }
  if (block5 != nullptr) {
    for (int i = 0; i < 4; ++i) StoreU32(p + kBlock5At + 4 * i, block5->values[i]);
  }
  if (block6 != nullptr) {
    for (int i = 0; i < 18; ++i) StoreU32(p + kBlock6At + 4 + 4 * i, block6->values[i]);
  }
  StoreU32(p + kFlagAt, closingFlag != 0 ? 1 : 0);
  if (length != nullptr) *length = kPayloadBytes;
  return out;
}

namespace {

// Reads fixed-size fields of one block at a time. A field is read only when
// it lies wholly within the section data (the payload may claim more, or a
// block may start near its end); a field that does not is left as it was.
// After a block the position moves to the smaller of the block's end and the
// payload's end, as the record's own reader has always done.
class PayloadCursor {
 public:
  PayloadCursor(std::span<const uint8_t> data, size_t payloadEnd) : data_(data), payloadEnd_(payloadEnd) {}

  bool U32(size_t offset, uint32_t* out) const {
    const size_t at = pos_ + offset;
    if (at > data_.size() || data_.size() - at < 4) return false;
    *out = LoadU32(data_.data() + at);
    return true;
  }
  bool U8(size_t offset, uint8_t* out) const {
    const size_t at = pos_ + offset;
    if (at >= data_.size()) return false;
    *out = data_[at];
    return true;
  }
  bool WithinPayload(size_t offset) const { return pos_ + offset <= payloadEnd_; }
  void Advance(size_t blockBytes) {
    const size_t blockEnd = pos_ + blockBytes;
    pos_ = blockEnd < payloadEnd_ ? blockEnd : payloadEnd_;
  }
  void SetPosition(size_t pos) { pos_ = pos; }

 private:
  std::span<const uint8_t> data_;
  size_t payloadEnd_;
  size_t pos_ = 0;
};

}  // namespace

bool HolterConfig::Read(std::span<const uint8_t> data, uint32_t payloadLength) {
  PayloadCursor c(data, payloadLength);
  // Without a version word there is nothing behind it either; the version-13
  // form is then assumed so that block 3's word at 68 is left alone.
  uint32_t recordVersion = kCurrentVersion;
  c.U32(0, &sizeWord);
  c.U32(4, &recordVersion);
  version = kCurrentVersion;
  c.SetPosition(kBlock1At);

  // Block 1: the entries only when the three values end within the payload.
  if (block1 != nullptr) {
    for (int i = 0; i < 3; ++i) c.U32(4 * i, &block1->values[i]);
    if (c.WithinPayload(12)) {
      for (uint32_t i = 0; i < HolterBlock1::kEntries; ++i) {
        HolterCodedEntry* e = block1->entries[i];
        uint32_t code = 0, value = 0;
        if (e == nullptr || !c.U32(12 + 8 * i, &code) || !c.U32(16 + 8 * i, &value)) continue;
        e->code = HolterBlock1::MapCode(code);
        e->value = value;
      }
    }
  }
  c.Advance(HolterBlock1::kRecordBytes);

  if (block2 != nullptr) {
    for (int i = 0; i < 5; ++i) {
      uint8_t flag = 0;
      if (c.U8(i, &flag)) block2->flags[i] = flag != 0 ? 1 : 0;
    }
    for (int i = 0; i < 5; ++i) c.U32(8 + 4 * i, &block2->values[i]);
    for (int i = 0; i < 2; ++i) c.U32(28 + 4 * i, &block2->extra[i]);
  }
  c.Advance(HolterBlock2::kRecordBytes);

  // Block 3 lost its word at 68 before version 13; the flag word follows the
  // seventeen values directly there.
  const bool current = recordVersion >= kCurrentVersion;
  if (block3 != nullptr) {
    for (int i = 0; i < 17; ++i) c.U32(4 * i, &block3->values[i]);
    if (current)
      c.U32(68, &block3->value68);
    else
      block3->value68 = 0;
    uint32_t flags = 0;
    if (c.U32(current ? 72 : 68, &flags))
      block3->flags = (block3->flags & ~HolterBlock3::kStoredFlagBits) | (flags & HolterBlock3::kStoredFlagBits);
  }
  c.Advance(current ? HolterBlock3::kRecordBytes : HolterBlock3::kOldRecordBytes);

  if (block4 != nullptr) {
    c.U32(0, &block4->value);
    for (uint32_t i = 0; i < HolterBlock4::kEntries; ++i) {
      HolterFlaggedEntry* e = block4->entries[i];
      const size_t at = 4 + 16 * i;
      uint8_t flag = 0;
      uint32_t v[3];
      // The entry is taken whole or not at all.
      if (e == nullptr || !c.U8(at, &flag) || !c.U32(at + 4, &v[0]) || !c.U32(at + 8, &v[1]) ||
          !c.U32(at + 12, &v[2]))
        continue;
      e->flag = flag != 0 ? 1 : 0;
      for (int j = 0; j < 3; ++j) e->values[j] = v[j];
    }
  }
  c.Advance(HolterBlock4::kRecordBytes);

  if (block5 != nullptr) {
    for (int i = 0; i < 4; ++i) c.U32(4 * i, &block5->values[i]);
  }
  c.Advance(HolterBlock5::kRecordBytes);

  if (block6 != nullptr) {
    for (int i = 0; i < 18; ++i) c.U32(4 + 4 * i, &block6->values[i]);
  }
  c.Advance(HolterBlock6::kRecordBytes);

  // Past the section data the flag reads as clear.
  uint8_t flag = 0;
  c.U8(0, &flag);
  closingFlag = flag > 0 ? 1 : 0;
  return true;
}
