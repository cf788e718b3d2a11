#include "lib/dbclient/episodes.h"

#include <cstring>
#include <new>

#include "lib/dbclient/counted_record.h"

namespace {

// A text longer than the 16-bit length can say is cut to its first 65535
// bytes: the record stays well formed and the episode itself is kept.
uint32_t StoredTextLength(const char* text) {
  if (text == nullptr) return 0;
  return static_cast<uint32_t>(strnlen(text, EpisodeList::kMaxTextLength));
}

}  // namespace

EpisodeList::EpisodeList(uint32_t cap, uint32_t storeCapacity) : capacity(cap), textStoreCapacity(storeCapacity) {
  if (capacity > 0) entries = new (std::nothrow) EpisodeEntry[capacity]();
  if (textStoreCapacity > 0) textStore = new (std::nothrow) uint8_t[textStoreCapacity]();
}

EpisodeList::~EpisodeList() {
  if (entries != nullptr) {
    for (uint32_t i = 0; i < capacity; ++i) delete[] entries[i].text;
  }
  delete[] entries;
  delete[] textStore;
}

bool EpisodeList::SetText(uint32_t i, const char* text) {
  if (entries == nullptr || i >= capacity) return false;
  char* copy = nullptr;
  if (text != nullptr) {
    const size_t n = std::strlen(text);
    copy = new (std::nothrow) char[n + 1];
    if (copy == nullptr) return false;
    std::memcpy(copy, text, n + 1);
  }
  delete[] entries[i].text;
  entries[i].text = copy;
  return true;
}

const char* EpisodeList::GetText(uint32_t i) const {
  if (entries == nullptr || i >= capacity) return nullptr;
  return entries[i].text;
}

std::unique_ptr<uint8_t[]> EpisodeList::Serialize(uint32_t* length) const {
  const uint32_t n = StoredCount(entries, count, capacity);
  uint64_t total = kHeaderBytes;
  for (uint32_t i = 0; i < n; ++i) total += kItemFixedBytes + StoredTextLength(entries[i].text);
  return SerializeCounted(length, n, total, [&](ByteWriter& out) {
    for (uint32_t i = 0; i < n; ++i) {
      const EpisodeEntry& e = entries[i];
      const uint32_t t = StoredTextLength(e.text);
      out.U32(e.value1);
      out.U32(e.value2);
      out.U32(e.value3);
      out.U32(e.value4);
      out.U32(MapTypeCode(e.typeCode));
      out.U32(e.value5);
      out.U16(static_cast<uint16_t>(t));
      out.Bytes(e.text, t);
    }
  });
}

int32_t EpisodeList::Read(std::span<const uint8_t> record) {
  const ByteReader in(record);
  const size_t size = record.size();

  count = 0;
  readerReset = 0;
  // A record too short to say how many episodes it holds is refused.
  if (size < kHeaderBytes) return 0;
  const uint32_t n = in.U32At(4);
  if (n == 0 || n > capacity) return 1;
  if (entries == nullptr) return 0;

  // Without a store buffer no text is kept.
  const uint64_t store = textStore != nullptr ? textStoreCapacity : 0;
  uint64_t s = 0;
  ByteWriter texts(textStore, static_cast<size_t>(store));
  size_t p = kHeaderBytes;
  bool complete = true;
  for (uint32_t i = 0; i < n; ++i) {
    // An item whose fixed part runs past the record's end is not read; the
    // episodes before it are kept and the reader reports 0.
    if (size - p < kItemFixedBytes) {
      complete = false;
      break;
    }
    EpisodeEntry& e = entries[i];
    e.value1 = in.U32At(p);
    e.value2 = in.U32At(p + 4);
    e.value3 = in.U32At(p + 8);
    e.value4 = in.U32At(p + 12);
    e.typeCode = MapTypeCode(in.U32At(p + 16));
    e.value5 = in.U32At(p + 20);
    const uint32_t t = in.U16At(p + 24);
    p += kItemFixedBytes;
    // A text that runs past the record's end is treated as one that does not
    // fit the store: its episode is kept, the text and all later ones are
    // dropped, and reading stops there.
    const bool textInside = t <= size - p;
    if (t > 0) {
      if (textInside && s + t + 6 < store) {
        texts.Seek(s);
        texts.U32(i);
        texts.U16(static_cast<uint16_t>(t));
        texts.Bytes(record.data() + p, t);
        s += t + 6;
      } else {
        s = store;
      }
    }
    count = i + 1;
    if (!textInside) {
      complete = false;
      break;
    }
    p += t;
  }
  if (s + 4 < store) {
    texts.Seek(s);
    texts.U32(count);
  }
  return complete ? 1 : 0;
}
