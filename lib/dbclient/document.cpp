#include "lib/dbclient/document.h"

#include <cstring>
#include <new>

#include "lib/byte_cursor.h"

DocumentBuffer::DocumentBuffer(uint32_t cap) {
  data = new (std::nothrow) uint8_t[cap > 0 ? cap : 1]();
  if (data != nullptr) capacity = cap;
}

DocumentBuffer::~DocumentBuffer() { delete[] data; }

bool DocumentBuffer::SetContent(std::span<const uint8_t> bytes) {
  if (bytes.size() > capacity) {
    length = 0;
    return false;
  }
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  length = static_cast<uint32_t>(bytes.size());
  return true;
}

std::unique_ptr<uint8_t[]> DocumentBuffer::Serialize(uint32_t* size) const {
  if (size != nullptr) *size = 0;
  // A length beyond the capacity would read past the array: treat as empty.
  if (length < 1 || length > capacity || data == nullptr || length > UINT32_MAX - 4) return nullptr;
  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[length + 4]);
  if (!out) return nullptr;
  ByteWriter w(out.get(), length + 4);
  w.U32(length);
  w.Bytes(data, length);
  if (size != nullptr) *size = length + 4;
  return out;
}

// A count that the section does not hold is treated like one above the
// capacity: the document is left empty rather than partly filled.
bool DocumentBuffer::Read(std::span<const uint8_t> bytes, uint32_t count) {
  if (count > capacity || count > bytes.size() || data == nullptr) {
    length = 0;
    return false;
  }
  if (count > 0) std::memcpy(data, bytes.data(), count);
  length = count;
  return true;
}
