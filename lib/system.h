// Annotation list: the beat annotations (section 130) and P annotations
// (section 146) of a test record.
//
// One 8-byte entry per annotation and, for Holter recordings, up to twenty
// parallel arrays of 20-byte extension entries, of which arrays 17, 18 and
// 19 travel in the file. The meaning of the fields is the host's; the list
// stores and restores them unchanged.
//
// Layout is shared with the host: keep member order and widths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "lib/natural_layout.h"

class EventLog;

// One annotation, the same 8 bytes in memory and in the record.
struct AnnotationEntry {
  uint32_t value;
  uint8_t code1;
  uint8_t code2;
  uint16_t word;
};
static_assert(sizeof(AnnotationEntry) == 8);
static_assert(offsetof(AnnotationEntry, code1) == 4);
static_assert(offsetof(AnnotationEntry, code2) == 5);
static_assert(offsetof(AnnotationEntry, word) == 6);

// One extension entry, the same 20 bytes in memory and in the record.
struct AnnotationExtension {
  uint8_t bytes[6];
  uint16_t words[7];
};
static_assert(sizeof(AnnotationExtension) == 20);
static_assert(offsetof(AnnotationExtension, words) == 6);

class AnnotationList {
 public:
  static constexpr uint32_t kExtensionArrays = 20;
  // Only these extension arrays are written and read.
  static constexpr uint32_t kFirstStoredExtension = 17;
  static constexpr uint32_t kFormatMark = 0xFF000002u;
  static constexpr uint32_t kHeaderBytes = 20;

  // Bit i of extensionMask asks for extension array i (0..19).
  static constexpr uint32_t ExtensionBit(uint32_t i) { return 1u << i; }
  static constexpr uint32_t kHolterExtensions =
      (1u << 17) | (1u << 18) | (1u << 19);

  // A list of `capacity` zeroed entries plus the extension arrays named in
  // extensionMask, each of `capacity` zeroed entries. A failed allocation
  // leaves that array null (capacity is kept); a capacity of 0 allocates
  // nothing.
  explicit AnnotationList(uint32_t capacity, uint32_t extensionMask = 0);
  ~AnnotationList();
  AnnotationList(const AnnotationList&) = delete;
  AnnotationList& operator=(const AnnotationList&) = delete;

  // The record: length, count, value A, value B, format mark, the entries,
  // then arrays 17, 18 and 19 where present. Null when the list is empty or
  // allocation fails; *length receives the record length (0 on null).
  std::unique_ptr<uint8_t[]> Serialize(uint32_t* length) const;

  // General form: fills count, the entries, value A and value B from a record
  // that begins at its length word; extension entries in it are skipped.
  // Returns 1 on success, 0 when refused or when the record ended early.
  int32_t Read(std::span<const uint8_t> record, EventLog* log);
  // Holter form: as Read, and also fills extension arrays 17, 18 and 19 from
  // the blocks behind the entries.
  int32_t ReadHolter(std::span<const uint8_t> record, EventLog* log);

  uint32_t GetCapacity() const { return capacity; }
  uint32_t GetCount() const { return count; }
  AnnotationExtension* GetExtension(uint32_t i) const {
    return i < kExtensionArrays ? extensions[i] : nullptr;
  }

  uint32_t capacity;
  uint32_t count;
  AnnotationEntry* entries;
  uint32_t readerReset;  // set to 0 by the readers
  uint32_t valueA;
  uint32_t valueB;
  AnnotationExtension* extensions[kExtensionArrays];

 private:
  int32_t ReadCommon(std::span<const uint8_t> record, EventLog* log, bool holter);
};

constexpr auto AnnotationListLayout(std::size_t p) {
  using namespace natural_layout;
  return Offsets<7>({U32(), U32(), Ptr(p), U32(), U32(), U32(),
                     Array(Ptr(p), AnnotationList::kExtensionArrays)});
}
static_assert(AnnotationListLayout(4)[7] == 104);
static_assert(AnnotationListLayout(8)[7] == 192);
static_assert(offsetof(AnnotationList, capacity) == AnnotationListLayout(sizeof(void*))[0]);
static_assert(offsetof(AnnotationList, count) == AnnotationListLayout(sizeof(void*))[1]);
static_assert(offsetof(AnnotationList, entries) == AnnotationListLayout(sizeof(void*))[2]);
static_assert(offsetof(AnnotationList, readerReset) == AnnotationListLayout(sizeof(void*))[3]);
static_assert(offsetof(AnnotationList, valueA) == AnnotationListLayout(sizeof(void*))[4]);
static_assert(offsetof(AnnotationList, valueB) == AnnotationListLayout(sizeof(void*))[5]);
static_assert(offsetof(AnnotationList, extensions) == AnnotationListLayout(sizeof(void*))[6]);
static_assert(sizeof(AnnotationList) == AnnotationListLayout(sizeof(void*))[7]);
