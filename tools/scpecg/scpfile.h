// The tool's own look at an SCP-ECG file, independent of the library: the
// record header, section 0's pointer table and a CRC check of every section.
// `info` shows it; `dump` takes sizing hints from it (which sections are
// there and how long they are, the lead identifiers of Section 3, the shape
// of trends and averaged complexes) before the library fetches the data.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "scp/crc.h"

namespace scpecg {

// The record's CRC (the codec's), under the name the tool's callers know.
inline uint16_t Crc16(const uint8_t* data, size_t count) { return scpcrc::Continue(0xFFFF, data, count); }

enum class SectionStatus { kOk, kBad, kAbsent };

struct SectionInfo {
  uint16_t id = 0;
  uint32_t length = 0;  // from the pointer table, header included
  uint32_t index = 0;   // 1-based, from the pointer table; offset = index - 1
  SectionStatus status = SectionStatus::kAbsent;
  std::string problem;  // why it is bad
  uint64_t offset() const { return index > 0 ? index - 1 : 0; }
};

class ScpFile {
 public:
  static constexpr size_t kRecordHeaderBytes = 6;
  static constexpr size_t kSectionHeaderBytes = 16;

  // Opens and checks the file. Never throws; see readable() and error().
  explicit ScpFile(const std::string& path);

  // False when the file cannot be read or has no usable section 0.
  bool readable() const { return readable_; }
  const std::string& error() const { return error_; }

  uint64_t fileSize() const { return fileSize_; }
  uint32_t recordLength() const { return recordLength_; }
  bool recordCrcOk() const { return recordCrcOk_; }
  const std::vector<SectionInfo>& sections() const { return sections_; }

  // The first pointer-table entry with this id, or null.
  const SectionInfo* Find(uint16_t id) const;
  // True when the section is listed with a length and passed every check.
  bool Good(uint16_t id) const;
  // The data of a good section, without its 16-byte header.
  std::optional<std::vector<uint8_t>> Data(uint16_t id);

 private:
  bool ReadAt(uint64_t offset, uint8_t* out, size_t count);
  // The CRC register after count bytes from offset, read in chunks.
  bool CrcAt(uint64_t offset, uint64_t count, uint16_t* crc);
  std::string Check(const SectionInfo& s);

  std::ifstream in_;
  bool readable_ = false;
  std::string error_;
  uint64_t fileSize_ = 0;
  uint32_t recordLength_ = 0;
  uint16_t recordCrc_ = 0;
  bool recordCrcOk_ = false;
  std::vector<SectionInfo> sections_;
};

// Sizing hints read from the sections' own bytes.
struct TrendShape {
  int slot;
  uint32_t samples;
  uint32_t values;
};
struct ComplexShape {
  uint32_t leadCount;
  uint32_t sampleCount;
};

// Lead identifiers of Section 3 in file order (empty when absent or bad).
std::vector<uint8_t> LeadIdentifiers(ScpFile& file);
// Non-empty slots of section 129.
std::vector<TrendShape> TrendShapes(ScpFile& file);
// One entry per record of section 133, in order.
std::vector<ComplexShape> ComplexShapes(ScpFile& file);
// The channel slot (0..13) of a Section 3 lead identifier; 0 for unknown ones,
// as the library maps them.
int ChannelOfLeadId(uint8_t id);
// "I", "II", "V1".."V6", "X", "Y", "Z", "ch11".."ch13".
const char* ChannelName(int channel);

}  // namespace scpecg
