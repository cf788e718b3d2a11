// Episode list: the episodes of a recording (section 131).
//
// Each episode has five values, a type code and an optional text. Writing
// takes each episode's own text; reading puts the texts into the list's text
// store, tagged with the episode index, and leaves the entries' own texts as
// they were.
//
// Layout is shared with the host: keep member order and widths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "lib/natural_layout.h"

// One episode in memory. `text` is owned by the list (set it with
// EpisodeList::SetText) and is either null or NUL-terminated.
struct EpisodeEntry {
  uint32_t value1;
  uint32_t value2;
  uint32_t value3;
  uint32_t typeCode;
  uint32_t value5;
  char* text;
  uint32_t value4;
};

constexpr auto EpisodeEntryLayout(std::size_t p) {
  using namespace natural_layout;
  return Offsets<7>({U32(), U32(), U32(), U32(), U32(), Ptr(p), U32()});
}
static_assert(EpisodeEntryLayout(4)[7] == 28);
static_assert(EpisodeEntryLayout(8)[7] == 40);
static_assert(offsetof(EpisodeEntry, typeCode) == EpisodeEntryLayout(sizeof(void*))[3]);
static_assert(offsetof(EpisodeEntry, value5) == EpisodeEntryLayout(sizeof(void*))[4]);
static_assert(offsetof(EpisodeEntry, text) == EpisodeEntryLayout(sizeof(void*))[5]);
static_assert(offsetof(EpisodeEntry, value4) == EpisodeEntryLayout(sizeof(void*))[6]);
static_assert(sizeof(EpisodeEntry) == EpisodeEntryLayout(sizeof(void*))[7]);

class EpisodeList {
 public:
  static constexpr uint32_t kHeaderBytes = 8;
  static constexpr uint32_t kItemFixedBytes = 26;
  // Type codes above this are stored and read as this value.
  static constexpr uint32_t kOtherType = 36;
  static constexpr uint32_t kMaxTextLength = 0xFFFF;

  // A list of `capacity` zeroed entries (no texts) and a zeroed text store of
  // `textStoreCapacity` bytes. A failed allocation leaves the pointer null.
  EpisodeList(uint32_t capacity, uint32_t textStoreCapacity);
  ~EpisodeList();
  EpisodeList(const EpisodeList&) = delete;
  EpisodeList& operator=(const EpisodeList&) = delete;

  // Copies text (null clears it) into entry i's own string. Returns false
  // for an index at or above capacity or a failed allocation (the old text
  // is then kept).
  bool SetText(uint32_t i, const char* text);
  // Entry i's text, or null.
  const char* GetText(uint32_t i) const;

  // The record: length, count, then one item per episode. Null when the list
  // is empty or allocation fails; *length receives L (0 on null).
  std::unique_ptr<uint8_t[]> Serialize(uint32_t* length) const;

  // Fills the entries and the text store from a record that begins at its
  // length word. Returns 1, or 0 when the list has no entry array or the
  // record ended inside an item.
  int32_t Read(std::span<const uint8_t> record);

  static uint32_t MapTypeCode(uint32_t code) { return code < kOtherType ? code : kOtherType; }

  uint32_t GetCapacity() const { return capacity; }
  uint32_t GetCount() const { return count; }

  uint32_t capacity;
  uint32_t count;
  EpisodeEntry* entries;
  uint32_t readerReset;  // set to 0 by the reader
  uint32_t textStoreCapacity;
  uint8_t* textStore;
};

constexpr auto EpisodeListLayout(std::size_t p) {
  using namespace natural_layout;
  return Offsets<6>({U32(), U32(), Ptr(p), U32(), U32(), Ptr(p)});
}
static_assert(EpisodeListLayout(4)[6] == 24);
static_assert(EpisodeListLayout(8)[6] == 32);
static_assert(offsetof(EpisodeList, entries) == EpisodeListLayout(sizeof(void*))[2]);
static_assert(offsetof(EpisodeList, readerReset) == EpisodeListLayout(sizeof(void*))[3]);
static_assert(offsetof(EpisodeList, textStoreCapacity) == EpisodeListLayout(sizeof(void*))[4]);
static_assert(offsetof(EpisodeList, textStore) == EpisodeListLayout(sizeof(void*))[5]);
static_assert(sizeof(EpisodeList) == EpisodeListLayout(sizeof(void*))[6]);
