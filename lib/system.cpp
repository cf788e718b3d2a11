#include "lib/system.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "lib/dbclient/counted_record.h"
#include "lib/eventlog.h"

namespace {

constexpr uint32_t kEntryBytes = sizeof(AnnotationEntry);
constexpr uint32_t kExtensionBytes = sizeof(AnnotationExtension);

void PutEntry(ByteWriter& out, const AnnotationEntry& e) {
  out.U32(e.value);
  out.U8(e.code1);
  out.U8(e.code2);
  out.U16(e.word);
}

AnnotationEntry LoadEntry(const ByteReader& in, size_t at) {
  return AnnotationEntry{in.U32At(at), in.U8At(at + 4), in.U8At(at + 5), in.U16At(at + 6)};
}

void PutExtension(ByteWriter& out, const AnnotationExtension& e) {
  out.Bytes(e.bytes, sizeof e.bytes);
  for (uint16_t word : e.words) out.U16(word);
}

AnnotationExtension LoadExtension(const ByteReader& in, size_t at) {
  AnnotationExtension e{};
  in.CopyAt(at, e.bytes, sizeof e.bytes);
  for (int k = 0; k < 7; ++k) e.words[k] = in.U16At(at + 6 + 2 * k);
  return e;
}

}  // namespace

AnnotationList::AnnotationList(uint32_t cap, uint32_t extensionMask) : capacity(cap) {
  if (capacity == 0) return;
  entries = new (std::nothrow) AnnotationEntry[capacity]();
  for (uint32_t i = 0; i < kExtensionArrays; ++i) {
    if (extensionMask & ExtensionBit(i)) extensions[i] = new (std::nothrow) AnnotationExtension[capacity]();
  }
}

AnnotationList::~AnnotationList() {
  delete[] entries;
  for (AnnotationExtension* ext : extensions) delete[] ext;
}

std::unique_ptr<uint8_t[]> AnnotationList::Serialize(uint32_t* length) const {
  const uint32_t n = StoredCount(entries, count, capacity);
  uint64_t total = kHeaderBytes + uint64_t{kEntryBytes} * n;
  for (uint32_t a = kFirstStoredExtension; a < kExtensionArrays; ++a) {
    if (extensions[a] != nullptr) total += uint64_t{kExtensionBytes} * n;
  }
  return SerializeCounted(length, n, total, [&](ByteWriter& out) {
    out.U32(valueA);
    out.U32(valueB);
    out.U32(kFormatMark);
    for (uint32_t i = 0; i < n; ++i) PutEntry(out, entries[i]);
    for (uint32_t a = kFirstStoredExtension; a < kExtensionArrays; ++a) {
      if (extensions[a] == nullptr) continue;
      for (uint32_t i = 0; i < n; ++i) PutExtension(out, extensions[a][i]);
    }
  });
}

int32_t AnnotationList::Read(std::span<const uint8_t> record, EventLog* log) {
  return ReadCommon(record, log, false);
}

int32_t AnnotationList::ReadHolter(std::span<const uint8_t> record, EventLog* log) {
  return ReadCommon(record, log, true);
}

int32_t AnnotationList::ReadCommon(std::span<const uint8_t> record, EventLog* log, bool holter) {
  const msg::AnnotationReaderMessages& report = holter ? msg::kHolterAnnotationReader : msg::kAnnotationReader;
  const ByteReader in(record);
  const size_t size = record.size();

  count = 0;
  // Header words past the end of a short record read as 0 (the cursor's
  // reads are whole words, in order): such a record then fails on its
  // version word, as any record without the mark does.
  uint32_t n = in.U32At(4);
  if (n > capacity) {
    n = capacity;
    LogOem(log, report.tooSmall);
  }
  valueA = in.U32At(8);
  valueB = in.U32At(12);
  readerReset = 0;
  if (entries == nullptr || capacity < 1) {
    LogOem(log, report.invalid);
    return 0;
  }
  if (in.U32At(16) != kFormatMark) {
    LogOem(log, report.version);
    return 0;
  }

  // A record that ends before its n entries yields the whole entries that it
  // holds; the reader then reports 0 and reads no extension array.
  const size_t fit = (size - kHeaderBytes) / kEntryBytes;
  const uint32_t m = static_cast<uint32_t>(std::min<size_t>(n, fit));
  for (uint32_t i = 0; i < m; ++i) {
    entries[i] = LoadEntry(in, kHeaderBytes + size_t{kEntryBytes} * i);
    count = i + 1;
  }
  if (m < n) return 0;
  if (!holter) return 1;

  // The blocks behind the entries are taken as arrays 17, 18 and 19 in that
  // order, count entries each, as the writer of a full Holter list puts
  // them. A block whose array the list lacks is stepped over. Entries that
  // the record does not hold (it may carry fewer arrays, or none) are set to
  // zero in the list, so that no extension entry of the new annotations
  // keeps data of an older read.
  uint64_t pos = kHeaderBytes + uint64_t{kEntryBytes} * count;
  for (uint32_t a = kFirstStoredExtension; a < kExtensionArrays; ++a) {
    AnnotationExtension* ext = extensions[a];
    if (ext == nullptr) {
      pos += uint64_t{kExtensionBytes} * count;
      continue;
    }
    for (uint32_t i = 0; i < count; ++i, pos += kExtensionBytes) {
      ext[i] = pos + kExtensionBytes <= size ? LoadExtension(in, pos) : AnnotationExtension{};
    }
  }
  return 1;
}
