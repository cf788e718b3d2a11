#include "lib/dbclient/audit.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "lib/byte_cursor.h"

AuditTrail::AuditTrail() {
  for (auto& slot : entries) slot = new (std::nothrow) AuditEntry();
}

AuditTrail::~AuditTrail() {
  for (auto& slot : entries) {
    delete slot;
    slot = nullptr;
  }
}

std::unique_ptr<uint8_t[]> AuditTrail::Serialize(uint32_t* length) const {
  if (count < 1) return nullptr;
  // More than 16 entries cannot come from the slots; refuse rather than
  // read past them.
  if (count > static_cast<int32_t>(kSlots)) return nullptr;
  const uint32_t n = static_cast<uint32_t>(count);
  const uint32_t w = kEntryBytes * n + 4;
  const uint32_t total = w + 4;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[total]);
  if (!buffer) return nullptr;
  ByteWriter out(buffer.get(), total);
  out.U32(w);
  out.U32(n);
  for (uint32_t i = 0; i < n; ++i) {
    const AuditEntry* e = entries[i];
    if (e == nullptr || !out.Fits(kEntryBytes)) return nullptr;
    out.U16(static_cast<uint16_t>(e->year));
    out.U8(static_cast<uint8_t>(e->month));
    out.U8(static_cast<uint8_t>(e->day));
    out.U8(static_cast<uint8_t>(e->hour));
    out.U8(static_cast<uint8_t>(e->minute));
    out.U16(static_cast<uint16_t>(e->milliseconds));
    // A code outside 0..3 goes out as 0xFF, which every reader ignores, so
    // a bad code can never come back as a valid one (256 would as its low byte).
    out.U8((e->actionCode >= 0 && e->actionCode <= 3) ? static_cast<uint8_t>(e->actionCode) : 0xFF);
    out.Zeros(3);
    out.Bytes(e->text, sizeof e->text);
  }
  *length = w;
  return buffer;
}

bool AuditTrail::Read(std::span<const uint8_t> payload, uint32_t length) {
  // Never trust W beyond the bytes really there.
  const size_t limit = std::min<size_t>(length, payload.size());
  if (limit < 4) return false;
  const ByteReader in(payload.first(limit));
  const int32_t announced = static_cast<int32_t>(in.U32At(0));
  const int32_t toRead =
      (announced < 0 || announced > static_cast<int32_t>(kSlots)) ? static_cast<int32_t>(kSlots)
                                                                    : announced;
  size_t pos = 4;
  for (int32_t i = 0; i < toRead; ++i) {
    AuditEntry* e = entries[i];
    if (e == nullptr) return false;
    if (pos + kEntryBytes > limit) return false;
    e->year = in.I16At(pos);
    e->month = in.U8At(pos + 2);
    e->day = in.U8At(pos + 3);
    const uint8_t hour = in.U8At(pos + 4);
    const uint8_t minute = in.U8At(pos + 5);
    e->hour = hour < 24 ? hour : 0;
    e->minute = minute < 60 ? minute : 0;
    const uint16_t ms = in.U16At(pos + 6);
    e->milliseconds = ms < 60000 ? ms : 0;
    const uint8_t action = in.U8At(pos + 8);
    if (action <= 3) e->actionCode = action;
    in.CopyAt(pos + 12, e->text, sizeof e->text);
    pos += kEntryBytes;
  }
  count = toRead;
  return true;
}
