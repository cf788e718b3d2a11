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
#define SCP_EPISODE_ENTRY_MEMBERS(X)                                                                 \
  X(value1, uint32_t) X(value2, uint32_t) X(value3, uint32_t) X(typeCode, uint32_t) X(value5, uint32_t) \
  X(text, char*) X(value4, uint32_t)
struct EpisodeEntry {
  SCP_EPISODE_ENTRY_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(EpisodeEntry, SCP_EPISODE_ENTRY_MEMBERS, 28, 40)

// Members in memory order; readerReset is set to 0 by the reader, textStore
// holds textStoreCapacity bytes.
#define SCP_EPISODE_LIST_MEMBERS(X)                                                                   \
  X(capacity, uint32_t) X(count, uint32_t) X(entries, EpisodeEntry*) X(readerReset, uint32_t)         \
  X(textStoreCapacity, uint32_t) X(textStore, uint8_t*)

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

  SCP_EPISODE_LIST_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(EpisodeList, SCP_EPISODE_LIST_MEMBERS, 24, 32)
