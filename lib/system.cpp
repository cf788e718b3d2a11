#include "lib/system.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "lib/bytes.h"
#include "lib/eventlog.h"

namespace {

constexpr uint32_t kEntryBytes = sizeof(AnnotationEntry);
constexpr uint32_t kExtensionBytes = sizeof(AnnotationExtension);

// Message lines of the two reader forms.
struct ReaderLines {
  int32_t tooSmall;
  int32_t invalid;
  int32_t version;
};
constexpr ReaderLines kGeneralLines{2031, 2050, 2049};
constexpr ReaderLines kHolterLines{2071, 2090, 2089};

void Report(EventLog* log, int32_t line, const char* text) {
  if (log != nullptr) log->LogOemError(kSrcSystem, line, text);
}

void PutEntry(uint8_t* p, const AnnotationEntry& e) {
  StoreU32(p, e.value);
  p[4] = e.code1;
  p[5] = e.code2;
  StoreU16(p + 6, e.word);
}

AnnotationEntry LoadEntry(const uint8_t* p) {
  return AnnotationEntry{LoadU32(p), p[4], p[5], LoadU16(p + 6)};
}

void PutExtension(uint8_t* p, const AnnotationExtension& e) {
  std::memcpy(p, e.bytes, sizeof e.bytes);
  for (int k = 0; k < 7; ++k) StoreU16(p + 6 + 2 * k, e.words[k]);
}

AnnotationExtension LoadExtension(const uint8_t* p) {
  AnnotationExtension e{};
  std::memcpy(e.bytes, p, sizeof e.bytes);
  for (int k = 0; k < 7; ++k) e.words[k] = LoadU16(p + 6 + 2 * k);
  return e;
}

}  // namespace

AnnotationList::AnnotationList(uint32_t cap, uint32_t extensionMask)
    : capacity(cap), count(0), entries(nullptr), readerReset(0), valueA(0), valueB(0),
      extensions{} {
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
  if (length != nullptr) *length = 0;
  // A count above the capacity (set by the host by mistake) is cut to the
  // capacity, so that no entry beyond the arrays is read.
  const uint32_t n = std::min(count, capacity);
  if (n < 1 || entries == nullptr) return nullptr;

  uint64_t total = kHeaderBytes + uint64_t{kEntryBytes} * n;
  for (uint32_t a = kFirstStoredExtension; a < kExtensionArrays; ++a) {
    if (extensions[a] != nullptr) total += uint64_t{kExtensionBytes} * n;
  }
  if (total > UINT32_MAX) return nullptr;
  const uint32_t len = static_cast<uint32_t>(total);

  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[len]);
  if (!buf) return nullptr;
  uint8_t* p = buf.get();
  StoreU32(p, len);
  StoreU32(p + 4, n);
  StoreU32(p + 8, valueA);
  StoreU32(p + 12, valueB);
  StoreU32(p + 16, kFormatMark);
  p += kHeaderBytes;
  for (uint32_t i = 0; i < n; ++i, p += kEntryBytes) PutEntry(p, entries[i]);
  for (uint32_t a = kFirstStoredExtension; a < kExtensionArrays; ++a) {
    if (extensions[a] == nullptr) continue;
    for (uint32_t i = 0; i < n; ++i, p += kExtensionBytes) PutExtension(p, extensions[a][i]);
  }
  if (length != nullptr) *length = len;
  return buf;
}

int32_t AnnotationList::Read(std::span<const uint8_t> record, EventLog* log) {
  return ReadCommon(record, log, false);
}

int32_t AnnotationList::ReadHolter(std::span<const uint8_t> record, EventLog* log) {
  return ReadCommon(record, log, true);
}

int32_t AnnotationList::ReadCommon(std::span<const uint8_t> record, EventLog* log, bool holter) {
  const ReaderLines& lines = holter ? kHolterLines : kGeneralLines;
  const uint8_t* r = record.data();
  const size_t size = record.size();

  count = 0;
  // Header words past the end of a short record read as 0: such a record
  // then fails on its version word, as any record without the mark does.
  auto word = [&](size_t at) { return at + 4 <= size ? LoadU32(r + at) : 0u; };
  uint32_t n = word(4);
  if (n > capacity) {
    n = capacity;
    Report(log, lines.tooSmall, "ann too small");
  }
  valueA = word(8);
  valueB = word(12);
  readerReset = 0;
  if (entries == nullptr || capacity < 1) {
    Report(log, lines.invalid, "an invalid");
    return 0;
  }
  if (word(16) != kFormatMark) {
    Report(log, lines.version, "invalid version");
    return 0;
  }

  // A record that ends before its n entries yields the whole entries that it
  // holds; the reader then reports 0 and reads no extension array.
  const size_t fit = (size - kHeaderBytes) / kEntryBytes;
  const uint32_t m = static_cast<uint32_t>(std::min<size_t>(n, fit));
  const uint8_t* p = r + kHeaderBytes;
  for (uint32_t i = 0; i < m; ++i, p += kEntryBytes) {
    entries[i] = LoadEntry(p);
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
      ext[i] = pos + kExtensionBytes <= size ? LoadExtension(r + pos) : AnnotationExtension{};
    }
  }
  return 1;
}
