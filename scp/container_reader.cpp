// Reading side of the container: opening, the section index, and checked
// access to one section at a time straight from the file.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "lib/byte_cursor.h"
#include "lib/eventlog.h"
#include "platform/platform.h"
#include "scp/messages.h"
#include "scp/scpecg.h"
#include "scp/section_read.h"

SectionHeader SectionHeader::Parse(const uint8_t* block, uint32_t p, uint32_t limit) {
  SectionHeader h;
  if (static_cast<uint64_t>(p) + kSize >= limit) return h;
  const ByteReader in(block + p, kSize);
  h.crc = in.U16At(0);
  h.id = in.U16At(2);
  h.length = in.U32At(4);
  h.sectionVersion = in.U8At(8);
  h.protocolVersion = in.U8At(9);
  h.valid = static_cast<uint64_t>(p) + h.length <= limit;
  return h;
}

bool ScpEcg::OpenRecord(const char* path) {
  if (path == nullptr || *path == '\0') {
    LogOem(log_, msg::kInvalidFileName);
    return false;
  }
  if (!file_.SetFileName(path) || !file_.OpenForRead(log_)) {
    LogOem(log_, msg::kNotOpenedForRead);
    return false;
  }
  return LoadSectionIndex();
}

bool ScpEcg::LoadSectionIndex() {
  try {
    if (!file_.Seek(0, log_)) {
      LogOem(log_, msg::kSetReadFilePointer);
      return false;
    }
    // Zeroed slack behind the block keeps a pointer entry that straddles the
    // end of section 0 inside this array.
    uint8_t block[kIndexBlockSize + 16] = {};
    uint32_t got = file_.Read(kIndexBlockSize, block, log_);
    if (got < 22) {
      LogOem(log_, msg::kInvalidSize);
      return false;
    }
    // The record CRC (offset 0) and record length (offset 2) are not used.
    SectionHeader h = SectionHeader::Parse(block, kRecordHeaderSize, file_.GetSize());
    // Section 0 must also lie within the block that was read: a longer one,
    // or one too short to hold its CRC'd bytes, is not an SCP record here.
    if (!h.valid || h.length < 2 || kRecordHeaderSize + static_cast<uint64_t>(h.length) > got) {
      LogOem(log_, msg::kNotScpFile);
      return false;
    }
    if (ComputeCrc(block, 8, h.length - 2) != h.crc) {
      LogOem(log_, msg::kHeaderCrc);
      return false;
    }
    ClearTable();
    const ByteReader index(block, sizeof block);
    for (uint32_t offset = 22; offset < h.length; offset += 10) {
      if (sectionCount_ >= kTableSize) {
        LogOem(log_, msg::kTooManyIndices);
        continue;
      }
      const uint32_t at = index.U32At(offset + 6);
      // An entry that cannot be made is left out; the others still count.
      SectionEntry* entry =
          new (std::nothrow) SectionEntry{index.U16At(offset), index.U32At(offset + 2), at ? at - 1 : 0};
      if (entry != nullptr) table_[sectionCount_++] = entry;
    }
    return true;
  } catch (...) {
    LogMemory(log_, msg::kIndexMemory);
    return false;
  }
}

std::unique_ptr<uint8_t[]> ScpEcg::GetSection(uint16_t id, uint32_t* length) {
  try {
    const SectionEntry* e = nullptr;
    for (int i = 0; i < sectionCount_ && i < kTableSize; ++i) {
      if (table_[i] && table_[i]->id == id) {
        e = table_[i];
        break;
      }
    }
    if (e == nullptr || e->length == 0) return nullptr;
    if (!file_.Seek(e->index, log_)) {
      LogOem(log_, msg::kFilePointer);
      return nullptr;
    }
    std::string text;
    std::unique_ptr<uint8_t[]> data;
    // A section that reaches past the end of the file cannot be read whole;
    // it fails as a short read without reserving its claimed size. A failed
    // allocation is no check failure: it goes to the outer handler. The ID
    // header is read apart, so the data lands where the caller wants it and
    // is not moved down afterwards.
    uint64_t end = static_cast<uint64_t>(e->index) + e->length;
    uint8_t head[SectionHeader::kSize] = {};
    const uint32_t headBytes = std::min(e->length, SectionHeader::kSize);
    uint32_t got = 0;
    uint16_t crc = 0xFFFF;
    if (end <= file_.GetFullSize()) {
      if (e->length > headBytes) {
        data.reset(new uint8_t[e->length - headBytes]);
        plat::AdviseLargeBlock(data.get(), e->length - headBytes);
      }
      got = ReadWithCrc(file_, headBytes, head, log_, &crc, 2);
      if (got == headBytes && data) got += ReadWithCrc(file_, e->length - headBytes, data.get(), log_, &crc, 0);
    }
    try {
      if (got != e->length) {
        text = "SCP-ECG: Read error";
      } else {
        // An entry of 16 bytes or less has no complete ID header: the parse
        // fails, and it is reported as damaged length.
        SectionHeader h = SectionHeader::Parse(head, 0, got);
        if (!h.valid || h.length != e->length) {
          text = "SCP-ECG: Record length damage";
        } else if (crc != h.crc) {  // h.length == e->length: the CRC read along covers it
          text = "SCP-ECG: CRC error";
        } else if (h.id != id) {
          text = "SCP-ECG: id does not match pointer id";
        } else {
          if (length) *length = h.length - SectionHeader::kSize;
          return data;
        }
      }
    } catch (...) {
      LogMemory(log_, msg::kSectionReadMemory);
    }
    text += " ( section " + std::to_string(id) + " )";
    LogOem(log_, msg::kSectionFailed, text.c_str());
    return nullptr;
  } catch (...) {
    LogMemory(log_, msg::kSectionMemory);
    return nullptr;
  }
}
