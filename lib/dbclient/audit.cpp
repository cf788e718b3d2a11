#include "lib/dbclient/audit.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "lib/bytes.h"

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
  uint8_t* out = buffer.get();
  StoreU32(out, w);
  StoreU32(out + 4, n);
  uint32_t pos = 8;
  for (uint32_t i = 0; i < n; ++i) {
    const AuditEntry* e = entries[i];
    if (e == nullptr || pos + kEntryBytes > total) return nullptr;
    uint8_t* p = out + pos;
    StoreU16(p, static_cast<uint16_t>(e->year));
    p[2] = static_cast<uint8_t>(e->month);
    p[3] = static_cast<uint8_t>(e->day);
    p[4] = static_cast<uint8_t>(e->hour);
    p[5] = static_cast<uint8_t>(e->minute);
    StoreU16(p + 6, static_cast<uint16_t>(e->milliseconds));
    // A code outside 0..3 goes out as 0xFF, which every reader ignores, so
    // a bad code can never come back as a valid one (256 would as its low byte).
    p[8] = (e->actionCode >= 0 && e->actionCode <= 3) ? static_cast<uint8_t>(e->actionCode) : 0xFF;
    p[9] = p[10] = p[11] = 0;
    std::memcpy(p + 12, e->text, sizeof e->text);
    pos += kEntryBytes;
  }
  *length = w;
  return buffer;
}

bool AuditTrail::Read(std::span<const uint8_t> payload, uint32_t length) {
  // Never trust W beyond the bytes really there.
  const size_t limit = std::min<size_t>(length, payload.size());
  if (limit < 4) return false;
  const int32_t announced = static_cast<int32_t>(LoadU32(payload.data()));
  const int32_t toRead =
      (announced < 0 || announced > static_cast<int32_t>(kSlots)) ? static_cast<int32_t>(kSlots)
                                                                    : announced;
  size_t pos = 4;
  for (int32_t i = 0; i < toRead; ++i) {
    AuditEntry* e = entries[i];
    if (e == nullptr) return false;
    if (pos + kEntryBytes > limit) return false;
    const uint8_t* p = payload.data() + pos;
    e->year = LoadI16(p);
    e->month = p[2];
    e->day = p[3];
    e->hour = p[4] < 24 ? p[4] : 0;
    e->minute = p[5] < 60 ? p[5] : 0;
    const uint16_t ms = LoadU16(p + 6);
    e->milliseconds = ms < 60000 ? ms : 0;
    if (p[8] <= 3) e->actionCode = p[8];
    std::memcpy(e->text, p + 12, sizeof e->text);
    pos += kEntryBytes;
  }
  count = toRead;
  return true;
}
