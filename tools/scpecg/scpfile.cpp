#include "tools/scpecg/scpfile.h"

#include <filesystem>
#include <system_error>

#include "lib/byte_cursor.h"
#include "scp/crc.h"
#include "scp/lead_table.h"

namespace scpecg {

namespace {

constexpr const char* kChannelNames[kChannelSlotCount] = {"I",  "II", "V1", "V2", "V3", "V4",   "V5",
                                           "V6", "X",  "Y",  "Z",  "ch11", "ch12", "ch13"};
// CRCs are computed in chunks so that a long Holter record need not sit in
// memory twice.
constexpr size_t kChunk = 1 << 20;

}  // namespace

bool ScpFile::ReadAt(uint64_t offset, uint8_t* out, size_t count) {
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(offset));
  if (!in_) return false;
  in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
  return static_cast<size_t>(in_.gcount()) == count;
}

ScpFile::ScpFile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    error_ = "is a directory";
    return;
  }
  in_.open(path, std::ios::binary);
  if (!in_) {
    error_ = "cannot be opened";
    return;
  }
  in_.seekg(0, std::ios::end);
  fileSize_ = static_cast<uint64_t>(in_.tellg());
  if (fileSize_ < kRecordHeaderBytes + kSectionHeaderBytes) {
    error_ = "not an SCP-ECG record: too short (" + std::to_string(fileSize_) + " bytes)";
    return;
  }
  uint8_t head[kRecordHeaderBytes + kSectionHeaderBytes];
  if (!ReadAt(0, head, sizeof head)) {
    error_ = "read error";
    return;
  }
  const ByteReader headBytes(head, sizeof head);
  recordCrc_ = headBytes.U16At(0);
  recordLength_ = headBytes.U32At(2);
  const uint32_t length0 = headBytes.U32At(kRecordHeaderBytes + 4);
  if (length0 < kSectionHeaderBytes || kRecordHeaderBytes + uint64_t{length0} > fileSize_) {
    error_ = "not an SCP-ECG record: section 0 length " + std::to_string(length0) + " does not fit the file";
    return;
  }
  std::vector<uint8_t> s0(length0);
  if (!ReadAt(kRecordHeaderBytes, s0.data(), s0.size())) {
    error_ = "read error in section 0";
    return;
  }
  const ByteReader table(s0);
  if (scpcrc::Continue(0xFFFF, s0.data() + 2, s0.size() - 2) != table.U16At(0)) {
    error_ = "not an SCP-ECG record: section 0 CRC is wrong";
    // The table is still listed, for what it is worth.
  }
  for (size_t p = kSectionHeaderBytes; p + 10 <= s0.size(); p += 10) {
    SectionInfo s;
    s.id = table.U16At(p);
    s.length = table.U32At(p + 2);
    s.index = table.U32At(p + 6);
    sections_.push_back(s);
  }
  readable_ = error_.empty();

  for (SectionInfo& s : sections_) {
    s.problem = Check(s);
    s.status = s.length == 0 ? SectionStatus::kAbsent : s.problem.empty() ? SectionStatus::kOk : SectionStatus::kBad;
  }
  // The record CRC covers bytes 2 to the end of the file.
  uint16_t crc = 0;
  recordCrcOk_ = CrcAt(2, fileSize_ - 2, &crc) && crc == recordCrc_;
}

// Why a listed section cannot be trusted; empty when it passes every check
// (or is absent).
std::string ScpFile::Check(const SectionInfo& s) {
  if (s.length == 0) return "";
  if (s.index == 0) return "no position in the pointer table";
  if (s.length < kSectionHeaderBytes) return "shorter than a section header";
  if (s.offset() + s.length > fileSize_) return "reaches past the end of the file";
  uint8_t h[kSectionHeaderBytes];
  if (!ReadAt(s.offset(), h, sizeof h)) return "read error";
  const ByteReader header(h, sizeof h);
  if (header.U16At(2) != s.id) return "its header says section " + std::to_string(header.U16At(2));
  if (header.U32At(4) != s.length) return "its header says length " + std::to_string(header.U32At(4));
  uint16_t crc = 0;
  if (!CrcAt(s.offset() + 2, s.length - 2, &crc)) return "read error";
  return crc != header.U16At(0) ? "CRC is wrong" : "";
}

bool ScpFile::CrcAt(uint64_t offset, uint64_t count, uint16_t* crc) {
  std::vector<uint8_t> chunk;
  *crc = 0xFFFF;
  for (uint64_t done = 0; done < count;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, count - done));
    chunk.resize(n);
    if (!ReadAt(offset + done, chunk.data(), n)) return false;
    *crc = scpcrc::Continue(*crc, chunk.data(), n);
    done += n;
  }
  return true;
}

const SectionInfo* ScpFile::Find(uint16_t id) const {
  for (const SectionInfo& s : sections_)
    if (s.id == id) return &s;
  return nullptr;
}

bool ScpFile::Good(uint16_t id) const {
  const SectionInfo* s = Find(id);
  return s != nullptr && s->status == SectionStatus::kOk;
}

std::optional<std::vector<uint8_t>> ScpFile::Data(uint16_t id) {
  const SectionInfo* s = Find(id);
  if (s == nullptr || s->status != SectionStatus::kOk) return std::nullopt;
  std::vector<uint8_t> data(s->length - kSectionHeaderBytes);
  if (!data.empty() && !ReadAt(s->offset() + kSectionHeaderBytes, data.data(), data.size())) return std::nullopt;
  return data;
}

std::vector<uint8_t> LeadIdentifiers(ScpFile& file) {
  std::vector<uint8_t> ids;
  auto data = file.Data(3);
  if (!data || data->size() < 2) return ids;
  const uint32_t n = (*data)[0];
  for (uint32_t i = 0; i < n && 2 + 9 * i + 9 <= data->size(); ++i) ids.push_back((*data)[2 + 9 * i + 8]);
  return ids;
}

std::vector<TrendShape> TrendShapes(ScpFile& file) {
  std::vector<TrendShape> shapes;
  auto data = file.Data(129);
  if (!data || data->size() < 4) return shapes;
  const ByteReader d(*data);
  const size_t size = data->size();
  const uint32_t n = d.U32At(0);
  size_t p = 4;
  for (uint32_t i = 0; i < n && i < 32; ++i) {
    if (size - p < 4) break;
    const uint32_t len = d.U32At(p);
    if (len > size - p) break;
    if (len >= 8) shapes.push_back({static_cast<int>(i), d.U16At(p + 4), d.U16At(p + 6)});
    p += len + 4;
    if (p > size) break;
  }
  return shapes;
}

std::vector<ComplexShape> ComplexShapes(ScpFile& file) {
  std::vector<ComplexShape> shapes;
  auto data = file.Data(133);
  if (!data || data->size() < 4) return shapes;
  const ByteReader d(*data);
  const size_t size = data->size();
  const uint32_t n = d.U32At(0);
  size_t p = 4;
  for (uint32_t i = 0; i < n && i < 256; ++i) {
    if (size - p < 16) break;
    const uint32_t len = d.U32At(p);
    if (len < 16 || len > size - p) break;
    shapes.push_back({d.U32At(p + 8), d.U32At(p + 12)});
    p += len;
  }
  return shapes;
}

int ChannelOfLeadId(uint8_t id) { return ::ChannelOfLeadId(id); }

const char* ChannelName(int channel) {
  return channel >= 0 && channel < kChannelSlotCount ? kChannelNames[channel] : "?";
}

}  // namespace scpecg
