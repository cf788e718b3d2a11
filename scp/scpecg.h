// The SCP-ECG codec: one object per save, fetch or check.
//
// The container (record header, section 0, section framing, CRC) lives in
// container_writer.cpp and container_reader.cpp; every standard section and
// every manufacturer section adds its put and get operations in a file of
// its own (section1.cpp, section2.cpp, ..., mfr_*.cpp).
#pragma once

#include <cstdint>
#include <memory>

#include "lib/fileutil.h"
#include "platform/platform.h"

class EventLog;
class ScpService;
class TestRecord;
class EcgWaveform;
struct CalendarDate;
struct DateTime;
struct HuffmanMode;
struct LeadTable;
struct ValidFormatInfo;

// One pointer-table entry. The writer keeps the 1-based index of the
// section's first byte; the reader keeps its file offset (index - 1).
struct SectionEntry {
  uint16_t id = 0;
  uint32_t length = 0;
  uint32_t index = 0;
};

// A section ID header in memory.
struct SectionHeader {
  uint16_t crc = 0;
  uint16_t id = 0;
  uint32_t length = 0;
  uint8_t sectionVersion = 0;
  uint8_t protocolVersion = 0;
  bool valid = false;

  static constexpr uint32_t kSize = 16;
  // Parses the header at position p of a block bounded by limit. Valid when
  // p + 16 < limit and p + length <= limit; no field is parsed otherwise.
  static SectionHeader Parse(const uint8_t* block, uint32_t p, uint32_t limit);
};

class ScpEcg {
 public:
  ScpEcg(ScpService* service, EventLog* log);
  ~ScpEcg();
  ScpEcg(const ScpEcg&) = delete;
  ScpEcg& operator=(const ScpEcg&) = delete;

  static constexpr int kTableSize = 33;
  static constexpr uint16_t kSectionIds[kTableSize] = {0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,
                                                       11,  129, 130, 131, 133, 134, 135, 136, 137, 138, 139,
                                                       140, 142, 143, 144, 145, 146, 147, 148, 149, 150, 151};
  static constexpr uint32_t kRecordHeaderSize = 6;
  static constexpr uint32_t kSection0Length = 16 + kTableSize * 10;        // 346
  static constexpr uint32_t kEmptyRecordSize = kRecordHeaderSize + kSection0Length;  // 352
  static constexpr uint8_t kSectionVersion = 13;
  static constexpr uint8_t kProtocolVersion = 13;
  static constexpr uint32_t kIndexBlockSize = 1024;

  // ---------------------------------------------------------------- writer
  bool FormatRecordHeader(uint32_t capacity);
  // Opens a section at the write position: the data offset, or 0.
  uint32_t BeginSection(uint32_t* startIndex, uint32_t* remaining);
  uint32_t PutUInt8(uint32_t offset, uint8_t value);
  uint32_t PutInt16(uint32_t offset, int32_t value);
  uint32_t PutUInt32(uint32_t offset, uint32_t value);
  bool EndSection(uint32_t end, uint16_t id, uint32_t start);
  const uint8_t* FinalizeRecordHeader(uint32_t* length);

  // CRC-CCITT (0x1021, initial 0xFFFF) of count bytes from buffer + first.
  // Uses the fast routine when the processor reports MMX.
  static uint16_t ComputeCrc(const uint8_t* buffer, uint32_t first, uint32_t count);

  // ---------------------------------------------------------------- reader
  bool OpenRecord(const char* path);
  bool LoadSectionIndex();
  // The section's data without its ID header, or null; *length is the
  // section length - 16.
  std::unique_ptr<uint8_t[]> GetSection(uint16_t id, uint32_t* length);

  // ------------------------------------------------ section 1 (section1.cpp)
  void PutDemographics(TestRecord* record);
  int GetDemographics(TestRecord* record);
  int GetProcedureTypeFromFile();

  // ---------------------------------------- sections 2 and 3 (section2/3.cpp)
  bool PutHuffmanTables();
  std::unique_ptr<HuffmanMode> GetHuffmanTables();
  EcgWaveform* PutLeadDefinition(TestRecord* record);
  std::unique_ptr<LeadTable> GetLeadDefinition();

  // ------------------------------------------------ section 6 (section6.cpp)
  void PutRhythmData(EcgWaveform* waveform);
  void GetRhythmData(EcgWaveform* waveform, const LeadTable* leads, const HuffmanMode* mode);
  void GetRhythmSummary(const LeadTable* leads, ValidFormatInfo* info);

  // ------------------------------------------------ section 8 (section8.cpp)
  void PutInterpretation(TestRecord* record);
  int GetInterpretation(TestRecord* record);

  // ------------------------------------------ manufacturer sections 129..151
  void PutTrendData(TestRecord* record);
  int GetTrendData(TestRecord* record);
  void PutAnnotationData(TestRecord* record);
  void GetAnnotationData(TestRecord* record);
  void PutEpisodeData(TestRecord* record);
  void GetEpisodeData(TestRecord* record);
  void PutComplexData(TestRecord* record);
  int GetComplexData(TestRecord* record);
  void PutRhythmMeasData(TestRecord* record);
  int GetRhythmMeasData(TestRecord* record);
  void PutPacemakerData(TestRecord* record);
  void GetPacemakerData(TestRecord* record);
  void PutBloodPressureData(TestRecord* record);
  int GetBloodPressureData(TestRecord* record);
  void PutBloodPressureResults(TestRecord* record);
  int GetBloodPressureResults(TestRecord* record);
  void PutSpirometryData(TestRecord* record);
  int GetSpirometryData(TestRecord* record);
  int GetSpirometryItems(TestRecord* record);
  void PutPAnnotationData(TestRecord* record);
  void GetPAnnotationData(TestRecord* record);
  void PutAuditTrail(TestRecord* record);
  int GetAuditTrail(TestRecord* record);
  void PutDiaryPDF(TestRecord* record);
  int GetDiaryPDF(TestRecord* record);
  void PutReportPDF(TestRecord* record);
  int GetReportPDF(TestRecord* record);
  void PutHolterCfgData(TestRecord* record);
  int GetHolterCfgData(TestRecord* record);
  void PutHolterCfgBlock(TestRecord* record);
  int GetHolterCfgBlock(TestRecord* record);

  // Probes for the format check.
  uint32_t GetComplexCount();
  uint32_t GetRhythmMeasCount();
  uint32_t GetDiaryPDFSize();
  uint32_t GetReportPDFSize();
  uint32_t GetHolterCfgSize();
  uint32_t GetHolterCfgBlockSize();

  // ------------------------------------------------------------ inspection
  EventLog* log() const { return log_; }
  ScpService* service() const { return service_; }
  uint8_t* buffer() const { return buffer_; }
  uint32_t capacity() const { return capacity_; }
  uint32_t position() const { return position_; }

 private:
  void ClearTable();

  FileUtil file_;
  ScpService* service_ = nullptr;
  EventLog* log_ = nullptr;
  SectionEntry* table_[kTableSize] = {};
  int32_t sectionCount_ = 0;
  uint32_t capacity_ = 0;
  uint8_t* buffer_ = nullptr;
  uint32_t position_ = 0;
  plat::HeapHandle heap_ = nullptr;
};
