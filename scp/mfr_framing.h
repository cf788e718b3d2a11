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
#include <optional>
#include <span>

#include "lib/byte_cursor.h"
#include "scp/messages.h"
#include "scp/section_cursor.h"

namespace mfr {

// How a writer reports a sub-record that serializes to nothing.
enum class EmptyReport : uint8_t { kNone, kOemError, kMemoryError };

// The messages of one section (source name "scpecg"). A message with line 0
// is one the section does not have.
struct SectionMessages {
  uint16_t id = 0;
  // Writer.
  Message sizeLimit;  // "SCP-ECG: size limit"
  Message beginFail;
  EmptyReport emptyReport = EmptyReport::kNone;
  Message empty;  // text only for kOemError
  // Reader of one record (framing 1).
  Message invalid;
  bool acceptsMissingTrailer = false;  // data length L + 4 accepted beside L + 8
  // Reader of counted records (framings 2 and 3).
  Message tooShort;
  Message tooShort2;
  // Length probe of the format check: "invalid record - too short".
  Message probeTooShort;
};

inline constexpr const char* kSizeLimit = "SCP-ECG: size limit";
inline constexpr const char* kTooShort = "invalid record - too short";
inline constexpr const char* kTooShort2 = "invalid record - too short 2";

constexpr Message SizeLimit(int32_t line) { return msg::Scpecg(line, kSizeLimit); }
constexpr Message TooShort(int32_t line) { return msg::Scpecg(line, kTooShort); }
constexpr Message TooShort2(int32_t line) { return msg::Scpecg(line, kTooShort2); }
using msg::Scpecg;

// Each row names only the messages its section has; the rest keep their
// defaults (line 0), which the compiler is told not to flag.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
inline constexpr SectionMessages kSectionMessages[] = {
    {.id = 129, .sizeLimit = SizeLimit(3140),
     .emptyReport = EmptyReport::kMemoryError, .empty = Scpecg(3146),
     .tooShort = TooShort(3097), .tooShort2 = TooShort2(3091)},
    {.id = 130, .sizeLimit = SizeLimit(3211), .beginFail = Scpecg(3212, "SCP-ECG: PutAnnotationData"),
     .emptyReport = EmptyReport::kOemError, .empty = Scpecg(3214, "SCP-ECG: no annotations"),
     .invalid = Scpecg(3180, "SCP-ECG: invalid ann section"), .acceptsMissingTrailer = true},
    {.id = 131, .sizeLimit = SizeLimit(3269), .beginFail = Scpecg(3270, "SCP-ECG: PutEpisodeData"),
     .emptyReport = EmptyReport::kOemError, .empty = Scpecg(3272, "SCP-ECG: no episodes"),
     .invalid = Scpecg(3239, "SCP-ECG: invalid episode section")},
    {.id = 133, .sizeLimit = SizeLimit(3361), .beginFail = Scpecg(3367, "SCP-ECG: PutComplexData"),
     .emptyReport = EmptyReport::kMemoryError, .empty = Scpecg(3363),
     .tooShort = TooShort(3320), .tooShort2 = TooShort2(3319)},
    {.id = 137, .sizeLimit = SizeLimit(3470), .beginFail = Scpecg(3474, "SCP-ECG: PutRhythmMeasData"),
     .tooShort = TooShort(3428), .tooShort2 = TooShort2(3427)},
    {.id = 138, .sizeLimit = SizeLimit(3529), .beginFail = Scpecg(3530, "SCP-ECG: PutPacemakerData"),
     .emptyReport = EmptyReport::kMemoryError, .empty = Scpecg(3532),
     .invalid = Scpecg(3499, "SCP-ECG: invalid pmk section")},
    {.id = 139, .sizeLimit = SizeLimit(3597), .beginFail = Scpecg(3598, "SCP-ECG: PutBloodPressureData"),
     .emptyReport = EmptyReport::kMemoryError, .empty = Scpecg(3600),
     .tooShort = TooShort(3565), .tooShort2 = TooShort2(3564)},
    {.id = 140, .sizeLimit = SizeLimit(3666), .beginFail = Scpecg(3667, "SCP-ECG: PutBloodPressureResults"),
     .emptyReport = EmptyReport::kMemoryError, .empty = Scpecg(3669),
     .tooShort = TooShort(3634), .tooShort2 = TooShort2(3633)},
    {.id = 144, .sizeLimit = SizeLimit(3735), .beginFail = Scpecg(3736, "SCP-ECG: PutSpirometryData"),
     .tooShort = TooShort(3703), .tooShort2 = TooShort2(3702)},
    {.id = 145, .tooShort = TooShort(3771), .tooShort2 = TooShort2(3770)},
    {.id = 146, .sizeLimit = SizeLimit(3833), .beginFail = Scpecg(3834, "SCP-ECG: PutAnnotationData"),
     .invalid = Scpecg(3803, "SCP-ECG: invalid p ann section")},
    {.id = 147, .sizeLimit = SizeLimit(3900), .beginFail = Scpecg(3901, "SCP-ECG: PutAuditTrail"),
     .tooShort = TooShort(3870), .tooShort2 = TooShort2(3869)},
    {.id = 148, .sizeLimit = SizeLimit(3967), .beginFail = Scpecg(3968, "SCP-ECG: PutDiaryPDF"),
     .tooShort = TooShort(3937), .tooShort2 = TooShort2(3936), .probeTooShort = TooShort(3997)},
    {.id = 149, .sizeLimit = SizeLimit(4064), .beginFail = Scpecg(4065, "SCP-ECG: PutReportPDF"),
     .tooShort = TooShort(4034), .tooShort2 = TooShort2(4033), .probeTooShort = TooShort(4094)},
    {.id = 150, .sizeLimit = SizeLimit(4164), .beginFail = Scpecg(4165, "SCP-ECG: PutHolterCfgData"),
     .tooShort = Scpecg(4134, "GetHolterCfgData: invalid record - too short"),
     .tooShort2 = Scpecg(4133, "GetHolterCfgData: invalid record - too short 2"), .probeTooShort = TooShort(4194)},
    {.id = 151, .sizeLimit = SizeLimit(4261), .beginFail = Scpecg(4262, "SCP-ECG: PutHolterCfgData"),
     .tooShort = TooShort(4231), .tooShort2 = TooShort2(4230), .probeTooShort = TooShort(4291)},
};
#pragma GCC diagnostic pop

// The row of a section id. Use it in constant expressions: an id without a
// row then fails to compile.
constexpr const SectionMessages& Messages(uint16_t id) {
  for (const SectionMessages& m : kSectionMessages) {
    if (m.id == id) return m;
  }
  throw "manufacturer section without a message row";
}

// Writes the section: count word 1, the length word when there is one, the
// record's bytes and, with trailingZero, a zero word, ended under m.id.
// Bytes without data (a sub-record that serialized to nothing) are reported
// as m.emptyReport says and write nothing. Returns true when the section was
// ended.
bool PutSingleRecord(ScpEcg& codec, const SectionMessages& m, std::optional<uint32_t> lengthWord,
                     std::span<const uint8_t> bytes, bool trailingZero);

// Framing 1: count word 1, the record (first word its own length L), a zero
// word. When the section is valid, calls read with the record's L bytes
// (from its length word); otherwise logs m.invalid. Absent: nothing.
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

// What a step of a walk gives back: how far the walk moves on from the
// record's length word, or kStop to end the walk there.
inline constexpr uint64_t kStop = ~uint64_t{0};
using Step = std::function<uint64_t(uint32_t index, std::span<const uint8_t> fromLengthWord, uint32_t length)>;

// The walk every reader of counted records shares, over data of at least 4
// bytes: up to n records from behind the count word, each starting with a
// length word L. Stops with m.tooShort when fewer than 4 bytes remain for a
// length word and with m.tooShort2 when head + L is more than remains from
// the length word on (head: the bytes of a separate length word before the
// record, else 0); otherwise calls step(i, the data from the length word to
// its end, L). Returns the index at which it stopped, n when it walked all.
uint32_t WalkRecords(ScpEcg& codec, const SectionMessages& m, const ByteReader& data, uint32_t n, uint32_t head,
                     const Step& step);

// Reads counted records with the walk; absent: 0. Data that cannot even
// hold the count word has run out before its first length word: m.tooShort.
// Walks at most `limit` records. Returns 1 when the section is present.
int WalkSection(ScpEcg& codec, const SectionMessages& m, uint32_t limit, uint32_t head, const Step& step);

// Framings 2 and 3 on that walk. Framing 2: visit(i, the L record bytes
// from the length word, L), not called for L = 0. Framing 3: visit(i, the
// bytes from behind W to the end of the data, W); the section decides how
// much of them is its payload.
int ReadCountedRecords(ScpEcg& codec, const SectionMessages& m, const CountedFraming& framing,
                       const std::function<void(uint32_t index, std::span<const uint8_t> record,
                                                uint32_t length)>& visit);

}  // namespace mfr
