#include "lib/dbclient/holtercfg.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "lib/byte_cursor.h"

namespace {

// Fills every slot (null before) with a new entry. A constructor that throws
// runs no destructor: what it made goes first.
template <typename T, size_t N>
void NewEntries(T* (&slots)[N]) {
  try {
    for (T*& e : slots) e = new T{};
  } catch (...) {
    for (T* e : slots) delete e;
    throw;
  }
}

}  // namespace

HolterBlock1::HolterBlock1() { NewEntries(entries); }

HolterBlock1::~HolterBlock1() {
  for (HolterCodedEntry* e : entries) delete e;
}

HolterBlock4::HolterBlock4() { NewEntries(entries); }

HolterBlock4::~HolterBlock4() {
  for (HolterFlaggedEntry* e : entries) delete e;
}

HolterConfig::HolterConfig() : sizeWord(kMinimumSizeWord), version(kCurrentVersion) {
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
  ByteWriter w(out.get(), kPayloadBytes);
  w.U32At(0, sizeWord);
  w.U32At(4, version);
  if (block1 != nullptr) {
    const size_t b = kBlock1At;
    for (int i = 0; i < 3; ++i) w.U32At(b + 4 * i, block1->values[i]);
    for (uint32_t i = 0; i < HolterBlock1::kEntries; ++i) {
      const HolterCodedEntry* e = block1->entries[i];
      if (e == nullptr) continue;
      w.U32At(b + 12 + 8 * i, HolterBlock1::MapCode(e->code));
      w.U32At(b + 16 + 8 * i, e->value);
    }
  }
  if (block2 != nullptr) {
    const size_t b = kBlock2At;
    for (int i = 0; i < 5; ++i) w.U8At(b + i, block2->flags[i] != 0 ? 1 : 0);
    for (int i = 0; i < 5; ++i) w.U32At(b + 8 + 4 * i, block2->values[i]);
    for (int i = 0; i < 2; ++i) w.U32At(b + 28 + 4 * i, block2->extra[i]);
  }
  if (block3 != nullptr) {
    const size_t b = kBlock3At;
    for (int i = 0; i < 17; ++i) w.U32At(b + 4 * i, block3->values[i]);
    w.U32At(b + 68, block3->value68);
    w.U32At(b + 72, block3->flags & HolterBlock3::kStoredFlagBits);
  }
  if (block4 != nullptr) {
    const size_t b = kBlock4At;
    w.U32At(b, block4->value);
    for (uint32_t i = 0; i < HolterBlock4::kEntries; ++i) {
      const HolterFlaggedEntry* e = block4->entries[i];
      if (e == nullptr) continue;
      const size_t q = b + 4 + 16 * i;
      w.U8At(q, e->flag != 0 ? 1 : 0);
      for (int j = 0; j < 3; ++j) w.U32At(q + 4 + 4 * j, e->values[j]);
    }
  }
  if (block5 != nullptr) {
    for (int i = 0; i < 4; ++i) w.U32At(kBlock5At + 4 * i, block5->values[i]);
  }
  if (block6 != nullptr) {
    for (int i = 0; i < 18; ++i) w.U32At(kBlock6At + 4 + 4 * i, block6->values[i]);
  }
  w.U32At(kFlagAt, closingFlag != 0 ? 1 : 0);
  if (length != nullptr) *length = kPayloadBytes;
  return out;
}

bool HolterConfig::Read(std::span<const uint8_t> data, uint32_t payloadLength) {
  // Fields of one block at a time, each read only when it lies wholly within
  // the section data (the payload may claim more, or a block may start near
  // its end); a field that does not is left as it was. After a block the
  // position moves to the smaller of the block's end and the payload's end,
  // as the record's own reader has always done.
  const ByteReader in(data, PastEnd::kKeep);
  size_t block = 0;
  auto u32 = [&](size_t offset, uint32_t* out) { return in.ReadAt(block + offset, out); };
  auto u8 = [&](size_t offset, uint8_t* out) { return in.ReadAt(block + offset, out); };
  auto advance = [&](size_t blockBytes) { block = std::min<size_t>(block + blockBytes, payloadLength); };
  // Without a version word there is nothing behind it either; the version-13
  // form is then assumed so that block 3's word at 68 is left alone.
  uint32_t recordVersion = kCurrentVersion;
  u32(0, &sizeWord);
  u32(4, &recordVersion);
  version = kCurrentVersion;
  block = kBlock1At;

  // Block 1: the entries only when the three values end within the payload.
  if (block1 != nullptr) {
    for (int i = 0; i < 3; ++i) u32(4 * i, &block1->values[i]);
    if (block + 12 <= payloadLength) {
      for (uint32_t i = 0; i < HolterBlock1::kEntries; ++i) {
        HolterCodedEntry* e = block1->entries[i];
        uint32_t code = 0, value = 0;
        if (e == nullptr || !u32(12 + 8 * i, &code) || !u32(16 + 8 * i, &value)) continue;
        e->code = HolterBlock1::MapCode(code);
        e->value = value;
      }
    }
  }
  advance(HolterBlock1::kRecordBytes);

  if (block2 != nullptr) {
    for (int i = 0; i < 5; ++i) {
      uint8_t flag = 0;
      if (u8(i, &flag)) block2->flags[i] = flag != 0 ? 1 : 0;
    }
    for (int i = 0; i < 5; ++i) u32(8 + 4 * i, &block2->values[i]);
    for (int i = 0; i < 2; ++i) u32(28 + 4 * i, &block2->extra[i]);
  }
  advance(HolterBlock2::kRecordBytes);

  // Block 3 lost its word at 68 before version 13; the flag word follows the
  // seventeen values directly there.
  const bool current = recordVersion >= kCurrentVersion;
  if (block3 != nullptr) {
    for (int i = 0; i < 17; ++i) u32(4 * i, &block3->values[i]);
    if (current)
      u32(68, &block3->value68);
    else
      block3->value68 = 0;
    uint32_t flags = 0;
    if (u32(current ? 72 : 68, &flags))
      block3->flags = (block3->flags & ~HolterBlock3::kStoredFlagBits) | (flags & HolterBlock3::kStoredFlagBits);
  }
  advance(current ? HolterBlock3::kRecordBytes : HolterBlock3::kOldRecordBytes);

  if (block4 != nullptr) {
    u32(0, &block4->value);
    for (uint32_t i = 0; i < HolterBlock4::kEntries; ++i) {
      HolterFlaggedEntry* e = block4->entries[i];
      const size_t at = 4 + 16 * i;
      uint8_t flag = 0;
      uint32_t v[3];
      // The entry is taken whole or not at all.
      if (e == nullptr || !u8(at, &flag) || !u32(at + 4, &v[0]) || !u32(at + 8, &v[1]) ||
          !u32(at + 12, &v[2]))
        continue;
      e->flag = flag != 0 ? 1 : 0;
      for (int j = 0; j < 3; ++j) e->values[j] = v[j];
    }
  }
  advance(HolterBlock4::kRecordBytes);

  if (block5 != nullptr) {
    for (int i = 0; i < 4; ++i) u32(4 * i, &block5->values[i]);
  }
  advance(HolterBlock5::kRecordBytes);

  if (block6 != nullptr) {
    for (int i = 0; i < 18; ++i) u32(4 + 4 * i, &block6->values[i]);
  }
  advance(HolterBlock6::kRecordBytes);

  // Past the section data the flag reads as clear.
  uint8_t flag = 0;
  u8(0, &flag);
  closingFlag = flag > 0 ? 1 : 0;
  return true;
}
