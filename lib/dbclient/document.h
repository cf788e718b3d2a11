// A raw byte document held by the test record: the diary and report PDFs
// (sections 148, 149) and the Holter configuration block (section 151).
//
// The class layout is shared with the host: keep member order and widths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "lib/natural_layout.h"

// Members in memory order; data is owned and holds capacity bytes.
#define SCP_DOCUMENT_BUFFER_MEMBERS(X) X(capacity, uint32_t) X(length, uint32_t) X(data, uint8_t*)

class DocumentBuffer {
 public:
  // A buffer of capacity bytes (zero-filled), empty (length 0). A failed
  // allocation leaves capacity 0 and data null.
  explicit DocumentBuffer(uint32_t capacity);
  ~DocumentBuffer();
  DocumentBuffer(const DocumentBuffer&) = delete;
  DocumentBuffer& operator=(const DocumentBuffer&) = delete;

  uint32_t GetCapacity() const { return capacity; }
  uint32_t GetLength() const { return length; }
  const uint8_t* GetData() const { return data; }
  uint8_t* GetData() { return data; }
  // Host side: copies bytes in; false (and length 0) when they exceed capacity.
  bool SetContent(std::span<const uint8_t> bytes);

  // u32 length, then the bytes; *length = document length + 4. Null when the
  // document is empty or allocation fails.
  std::unique_ptr<uint8_t[]> Serialize(uint32_t* length) const;

  // Copies the first count bytes of bytes (which ends at the end of the
  // section data). When count exceeds the capacity, or the bytes that remain
  // in the section, the document is left empty (length 0) and false returned.
  bool Read(std::span<const uint8_t> bytes, uint32_t count);

  SCP_DOCUMENT_BUFFER_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(DocumentBuffer, SCP_DOCUMENT_BUFFER_MEMBERS, 12, 16)
