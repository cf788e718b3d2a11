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
#define SCP_ANNOTATION_ENTRY_MEMBERS(X) X(value, uint32_t) X(code1, uint8_t) X(code2, uint8_t) X(word, uint16_t)
struct AnnotationEntry {
  SCP_ANNOTATION_ENTRY_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(AnnotationEntry, SCP_ANNOTATION_ENTRY_MEMBERS, 8, 8)

// One extension entry, the same 20 bytes in memory and in the record.
#define SCP_ANNOTATION_EXTENSION_MEMBERS(X) X(bytes, uint8_t[6]) X(words, uint16_t[7])
struct AnnotationExtension {
  SCP_ANNOTATION_EXTENSION_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(AnnotationExtension, SCP_ANNOTATION_EXTENSION_MEMBERS, 20, 20)

// Members in memory order; readerReset is set to 0 by the readers.
#define SCP_ANNOTATION_LIST_MEMBERS(X)                                                                      \
  X(capacity, uint32_t) X(count, uint32_t) X(entries, AnnotationEntry*) X(readerReset, uint32_t)            \
  X(valueA, uint32_t) X(valueB, uint32_t) X(extensions, AnnotationExtension*[AnnotationList::kExtensionArrays])

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

  SCP_ANNOTATION_LIST_MEMBERS(SCP_DECLARE_MEMBER)

 private:
  int32_t ReadCommon(std::span<const uint8_t> record, EventLog* log, bool holter);
};

SCP_CHECK_LAYOUT(AnnotationList, SCP_ANNOTATION_LIST_MEMBERS, 104, 192)
