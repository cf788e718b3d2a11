// Audit trail of a test record: up to 16 entries, each a time stamp, an
// action code and a 32-byte text. Travels as the payload of section 147.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "lib/natural_layout.h"

struct AuditEntry {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;          // 0 to 23
  int32_t minute = 0;        // 0 to 59
  int32_t milliseconds = 0;  // within the minute: second * 1000 + millisecond, below 60000
  int32_t actionCode = 1;    // 0 to 3; meaning is the host's
  char text[32] = {};        // stored and read as 32 raw bytes

  AuditEntry() = default;
  AuditEntry(const AuditEntry&) = delete;
  AuditEntry& operator=(const AuditEntry&) = delete;
};

#define SCP_AUDIT_TRAIL_MEMBERS(X) X(count, int32_t) X(entries, AuditEntry*[AuditTrail::kSlots])

class AuditTrail {
 public:
  static constexpr uint32_t kSlots = 16;
  static constexpr uint32_t kEntryBytes = 44;

  // A new trail has count 0 and every slot filled with a fresh entry
  // (all zero, action code 1, empty text). A slot whose entry cannot be
  // allocated stays null.
  AuditTrail();
  ~AuditTrail();
  AuditTrail(const AuditTrail&) = delete;
  AuditTrail& operator=(const AuditTrail&) = delete;

  // Buffer of W + 4 bytes: W = 4 + 44 * count, the count, then the entries of
  // slots 1..count; *length receives W. Null when count is below 1, above 16,
  // a slot in range is empty, or allocation fails. An action code outside
  // 0..3 is written as 0xFF, which a reader ignores.
  std::unique_ptr<uint8_t[]> Serialize(uint32_t* length) const;

  // payload starts behind the length word W and ends at the end of the
  // section data; length is W. Reads min(n, 16) entries (16 when n is
  // negative). False, with count unchanged, when a slot is empty or an
  // entry would end beyond the payload (W or the span, whichever is less);
  // entries before that point are already overwritten.
  bool Read(std::span<const uint8_t> payload, uint32_t length);

  int32_t GetCount() const { return count; }
  void SetCount(int32_t n) { count = n; }
  // Slot i, 0-based; null outside 0..15 or when empty.
  AuditEntry* GetEntry(int32_t i) const {
    return i >= 0 && i < static_cast<int32_t>(kSlots) ? entries[i] : nullptr;
  }
  // The entry of the slot numbered by the count (the last one), or null
  // when count is not within 1..16.
  AuditEntry* GetLastEntry() const { return count >= 1 ? GetEntry(count - 1) : nullptr; }

  SCP_AUDIT_TRAIL_MEMBERS(SCP_DECLARE_MEMBER)
};

static_assert(sizeof(AuditEntry) == 60);
static_assert(offsetof(AuditEntry, milliseconds) == 20 && offsetof(AuditEntry, actionCode) == 24 &&
              offsetof(AuditEntry, text) == 28);
SCP_CHECK_LAYOUT(AuditTrail, SCP_AUDIT_TRAIL_MEMBERS, 68, 136)
