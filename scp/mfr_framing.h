// Framing shared by the manufacturer-specific sections (ids 129 to 151).
//
// Every such section's data begins with a record count word; the records
// follow it, each starting with a length word. The helpers here write a
// section of one record (count word 1, then the record) and read the two
// reader framings: one record checked against the data length, and counted
// records walked one after the other. The per-section texts and lines live
// in one table so that no section repeats the framing code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "scp/scpecg.h"

namespace mfr {

// How a writer reports a sub-record that serializes to nothing.
enum class EmptyReport : uint8_t { kNone, kOemError, kMemoryError };

// Texts and lines of one section (source name "scpecg"). A line of 0 marks a
// message the section does not have.
struct SectionMessages {
  uint16_t id;
  // Writer.
  int32_t sizeLimitLine;  // "SCP-ECG: size limit"
  const char* beginFailText;
  int32_t beginFailLine;
  EmptyReport emptyReport;
  const char* emptyText;  // for kOemError
  int32_t emptyLine;
  // Reader of one record (framing 1).
  const char* invalidText;
  int32_t invalidLine;
  bool acceptsMissingTrailer;  // data length L + 4 accepted beside L + 8
  // Reader of counted records (framings 2 and 3).
  const char* tooShortText;
  int32_t tooShortLine;
  const char* tooShort2Text;
  int32_t tooShort2Line;
  // Length probe of the format check: "invalid record - too short".
  int32_t probeTooShortLine;
};

inline constexpr const char* kSizeLimit = "SCP-ECG: size limit";
inline constexpr const char* kTooShort = "invalid record - too short";
inline constexpr const char* kTooShort2 = "invalid record - too short 2";

// clang-format off
inline constexpr SectionMessages kSectionMessages[] = {
  // id  size  begin failure                              empty report                                              framing-1 reader                                 too short                                                 too short 2                                                probe
  {129, 3140, nullptr, 0,                                 EmptyReport::kMemoryError, nullptr, 3146,                 nullptr, 0, false,                                kTooShort, 3097,                                         kTooShort2, 3091,                                          0},
  {130, 3211, "SCP-ECG: PutAnnotationData", 3212,         EmptyReport::kOemError, "SCP-ECG: no annotations", 3214,  "SCP-ECG: invalid ann section", 3180, true,       nullptr, 0,                                              nullptr, 0,                                                0},
  {131, 3269, "SCP-ECG: PutEpisodeData", 3270,            EmptyReport::kOemError, "SCP-ECG: no episodes", 3272,     "SCP-ECG: invalid episode section", 3239, false,  nullptr, 0,                                              nullptr, 0,                                                0},
  {133, 3361, "SCP-ECG: PutComplexData", 3367,            EmptyReport::kMemoryError, nullptr, 3363,                 nullptr, 0, false,                                kTooShort, 3320,                                         kTooShort2, 3319,                                          0},
  {137, 3470, "SCP-ECG: PutRhythmMeasData", 3474,         EmptyReport::kNone, nullptr, 0,                           nullptr, 0, false,                                kTooShort, 3428,                                         kTooShort2, 3427,                                          0},
  {138, 3529, "SCP-ECG: PutPacemakerData", 3530,          EmptyReport::kMemoryError, nullptr, 3532,                 "SCP-ECG: invalid pmk section", 3499, false,      nullptr, 0,                                              nullptr, 0,                                                0},
  {139, 3597, "SCP-ECG: PutBloodPressureData", 3598,      EmptyReport::kMemoryError, nullptr, 3600,                 nullptr, 0, false,                                kTooShort, 3565,                                         kTooShort2, 3564,                                          0},
  {140, 3666, "SCP-ECG: PutBloodPressureResults", 3667,   EmptyReport::kMemoryError, nullptr, 3669,                 nullptr, 0, false,                                kTooShort, 3634,                                         kTooShort2, 3633,                                          0},
  {144, 3735, "SCP-ECG: PutSpirometryData", 3736,         EmptyReport::kNone, nullptr, 0,                           nullptr, 0, false,                                kTooShort, 3703,                                         kTooShort2, 3702,                                          0},
  {145, 0, nullptr, 0,                                    EmptyReport::kNone, nullptr, 0,                           nullptr, 0, false,                                kTooShort, 3771,                                         kTooShort2, 3770,                                          0},
  {146, 3833, "SCP-ECG: PutAnnotationData", 3834,         EmptyReport::kNone, nullptr, 0,                           "SCP-ECG: invalid p ann section", 3803, false,    nullptr, 0,                                              nullptr, 0,                                                0},
  {147, 3900, "SCP-ECG: PutAuditTrail", 3901,             EmptyReport::kNone, nullptr, 0,                           nullptr, 0, false,                                kTooShort, 3870,                                         kTooShort2, 3869,                                          0},
  {148, 3967, "SCP-ECG: PutDiaryPDF", 3968,               EmptyReport::kNone, nullptr, 0,                           nullptr, 0, false,                                kTooShort, 3937,                                         kTooShort2, 3936,                                          3997},
  {149, 4064, "SCP-ECG: PutReportPDF", 4065,              EmptyReport::kNone, nullptr, 0,                           nullptr, 0, false,                                kTooShort, 4034,                                         kTooShort2, 4033,                                          4094},
  {150, 4164, "SCP-ECG: PutHolterCfgData", 4165,          EmptyReport::kNone, nullptr, 0,                           nullptr, 0, false,                                "GetHolterCfgData: invalid record - too short", 4134,    "GetHolterCfgData: invalid record - too short 2", 4133,    4194},
  {151, 4261, "SCP-ECG: PutHolterCfgData", 4262,          EmptyReport::kNone, nullptr, 0,                           nullptr, 0, false,                                kTooShort, 4231,                                         kTooShort2, 4230,                                          4291},
};
// clang-format on

// The row of a section id. Use it in constant expressions: an id without a
// row then fails to compile.
constexpr const SectionMessages& Messages(uint16_t id) {
  for (const SectionMessages& m : kSectionMessages) {
    if (m.id == id) return m;
  }
  throw "manufacturer section without a message row";
}

// A section's data (ID header removed), fetched once from the record being
// read; empty when the section is absent or failed the container's checks.
class SectionData {
 public:
  SectionData(ScpEcg& codec, uint16_t id);
  explicit operator bool() const { return data_ != nullptr; }
  std::span<const uint8_t> bytes() const { return {data_.get(), size_}; }
  uint32_t size() const { return size_; }
  // The little-endian word at offset; 0 when it does not lie within the data.
  uint32_t Word(uint64_t offset) const;

 private:
  std::unique_ptr<uint8_t[]> data_;
  uint32_t size_ = 0;
};

// What a single-record writer puts behind the count word 1: an optional
// length word, the bytes, and an optional trailing zero word.
struct RecordBody {
  uint32_t recordLength = 0;  // L, as the size check sees it
  bool hasLengthWord = false;
  uint32_t lengthWord = 0;
  std::span<const uint8_t> bytes;
  bool trailingZero = true;
  std::unique_ptr<uint8_t[]> owned;  // the serialized buffer, if any
  bool empty() const { return bytes.data() == nullptr; }
};

// A body from a class whose serialize gives a buffer and its length L: the
// record whole, then a zero word (framing 1, and 139 and 140).
template <class SubRecord>
RecordBody SerializedRecord(const SubRecord& sub) {
  RecordBody body;
  uint32_t length = 0;
  body.owned = sub.Serialize(&length);
  if (body.owned != nullptr && length > 0) {
    body.recordLength = length;
    body.bytes = {body.owned.get(), length};
  }
  return body;
}

// Logs the section's report for a sub-record that gave no record.
void ReportEmpty(ScpEcg& codec, const SectionMessages& m);

// Writes the section: count word 1 and the body, ended under m.id. An empty
// body is reported through ReportEmpty and writes nothing. Returns true
// when the section was ended.
bool PutSingleRecord(ScpEcg& codec, const SectionMessages& m, const RecordBody& body);

// Framing 1: count word 1, the record (first word its own length L), a zero
// word. When the section is valid, calls read with the record's L bytes
// (from its length word); otherwise logs m.invalidText. Absent: nothing.
void ReadSingleRecord(ScpEcg& codec, const SectionMessages& m,
                      const std::function<void(std::span<const uint8_t> record)>& read);

// Framings 2 and 3: count word n, then n records.
struct CountedFraming {
  // False: each record starts with its own length L (framing 2). True: a
  // length word W comes before the payload (framing 3).
  bool separateLengthWord = false;
  // Framing 2: bytes stepped over behind each record.
  uint32_t gapAfterRecord = 4;
  // Framing 3: W counts the length word itself (section 150).
  bool wordCountsItself = false;
};

// Visits each record in turn; stops with m.tooShortText when fewer than 4
// bytes remain for a length word and with m.tooShort2Text when a record is
// longer than what remains. Framing 2: visit(i, the L record bytes from the
// length word, L), not called for L = 0. Framing 3: visit(i, the bytes
// from behind W to the end of the data, W); the section decides how much
// of them is its payload. Returns 0 when the section is absent, else 1.
int ReadCountedRecords(ScpEcg& codec, const SectionMessages& m, const CountedFraming& framing,
                       const std::function<void(uint32_t index, std::span<const uint8_t> record,
                                                uint32_t length)>& visit);

}  // namespace mfr
