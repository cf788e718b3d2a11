// Reading side of the container: opening, the section index, and checked
// access to one section at a time straight from the file.
#include <cstring>
#include <new>
#include <string>

#include "lib/bytes.h"
#include "lib/eventlog.h"
#include "scp/scpecg.h"
#include "scp/section_read.h"

SectionHeader SectionHeader::Parse(const uint8_t* block, uint32_t p, uint32_t limit) {
  SectionHeader h;
  if (static_cast<uint64_t>(p) + kSize >= limit) return h;
  h.crc = LoadU16(block + p);
  h.id = LoadU16(block + p + 2);
  h.length = LoadU32(block + p + 4);
  h.sectionVersion = block[p + 8];
  h.protocolVersion = block[p + 9];
  h.valid = static_cast<uint64_t>(p) + h.length <= limit;
  return h;
}

int16_t ScpEcg::GetInt16(const uint8_t* data, uint32_t offset) { return LoadI16(data + offset); }
uint32_t ScpEcg::GetUInt32(const uint8_t* data, uint32_t offset) { return LoadU32(data + offset); }

bool ScpEcg::OpenRecord(const char* path) {
  if (path == nullptr || *path == '\0') {
    if (log_) log_->LogOemError(kSrcScpecg, 1351, "invalid file name");
    return false;
  }
  if (!file_.SetFileName(path) || !file_.OpenForRead(log_)) {
    if (log_) log_->LogOemError(kSrcScpecg, 1350, "file not opened for read");
    return false;
  }
  return LoadSectionIndex();
}

bool ScpEcg::LoadSectionIndex() {
  try {
    if (!file_.Seek(0, log_)) {
      if (log_) log_->LogOemError(kSrcScpecg, 4423, "SCP: SetReadFilePointer");
      return false;
    }
    // Zeroed slack behind the block keeps a pointer entry that straddles the
    // end of section 0 inside this array.
    uint8_t block[kIndexBlockSize + 16] = {};
    uint32_t got = file_.Read(kIndexBlockSize, block, log_);
    if (got < 22) {
      if (log_) log_->LogOemError(kSrcScpecg, 4422, "SCP: invalid size");
      return false;
    }
    // The record CRC (offset 0) and record length (offset 2) are not used.
    SectionHeader h = SectionHeader::Parse(block, kRecordHeaderSize, file_.GetSize());
    // Section 0 must also lie within the block that was read: a longer one,
    // or one too short to hold its CRC'd bytes, is not an SCP record here.
    if (!h.valid || h.length < 2 || kRecordHeaderSize + static_cast<uint64_t>(h.length) > got) {
      if (log_) log_->LogOemError(kSrcScpecg, 4416, "SCP: not SCP file");
      return false;
    }
    if (ComputeCrc(block, 8, h.length - 2) != h.crc) {
      if (log_) log_->LogOemError(kSrcScpecg, 4415, "SCP: header CRC");
      return false;
    }
    ClearTable();
    for (uint32_t offset = 22; offset < h.length; offset += 10) {
      if (sectionCount_ >= kTableSize) {
        if (log_) log_->LogOemError(kSrcScpecg, 4406, "SCP: too many section indices");
        continue;
      }
      uint32_t index = LoadU32(block + offset + 6);
      table_[sectionCount_++] =
          new SectionEntry{LoadU16(block + offset), LoadU32(block + offset + 2), index ? index - 1 : 0};
    }
    return true;
  } catch (...) {
    if (log_) log_->LogMemoryError(kSrcScpecg, 4420);
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
      if (log_) log_->LogOemError(kSrcScpecg, 4837, "SCP-ECG: File pointer error");
      return nullptr;
    }
    std::string text;
    std::unique_ptr<uint8_t[]> data;
    try {
      // A section that reaches past the end of the file cannot be read whole;
      // it fails as a short read without reserving its claimed size.
      uint64_t end = static_cast<uint64_t>(e->index) + e->length;
      uint32_t got = 0;
      uint16_t crc = 0;
      if (end <= file_.GetSize()) {
        data.reset(new uint8_t[e->length]);
        got = ReadWithCrc(file_, e->length, data.get(), log_, &crc);
      }
      if (got != e->length) {
        text = "SCP-ECG: Read error";
      } else {
        // An entry of 16 bytes or less has no complete ID header: the parse
        // fails, and it is reported as damaged length.
        SectionHeader h = SectionHeader::Parse(data.get(), 0, got);
        if (!h.valid || h.length != e->length) {
          text = "SCP-ECG: Record length damage";
        } else if (crc != h.crc) {  // h.length == e->length: the CRC read along covers it
          text = "SCP-ECG: CRC error";
        } else if (h.id != id) {
          text = "SCP-ECG: id does not match pointer id";
        } else {
          uint32_t n = h.length - SectionHeader::kSize;
          std::memmove(data.get(), data.get() + SectionHeader::kSize, n);
          if (length) *length = n;
          return data;
        }
      }
    } catch (...) {
      if (log_) log_->LogMemoryError(kSrcScpecg, 4824);
    }
    text += " ( section " + std::to_string(id) + " )";
    if (log_) log_->LogOemError(kSrcScpecg, 4830, text.c_str());
    return nullptr;
  } catch (...) {
    if (log_) log_->LogMemoryError(kSrcScpecg, 4835);
    return nullptr;
  }
}
