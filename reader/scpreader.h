// A reader of SCP-ECG records from any producer (versions 1.x, 2.x, 3.0),
// independent of the plug-in: it follows the format, not the host's record
// model, so it decodes what the plug-in refuses (first differences, bimodal
// compression, reference-beat subtraction, custom Huffman tables, any lead).
// The tool's info, plot, export and convert commands read every file
// through it. Never throws on bad data: whatever cannot be decoded is named
// in `problems` and left out, never shown as if it were the ECG.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace scpreader {

// Why something was not decoded, and where.
struct Problem {
  uint16_t section = 0;  // 0: the record as a whole
  int lead = -1;         // index into Record::leads, -1 when not about one lead
  std::string reason;
};

// One entry of section 0's pointer table, with what was found there.
struct SectionSummary {
  uint16_t id = 0;
  uint32_t length = 0;  // from the pointer table, ID header included
  uint32_t index = 0;   // 1-based byte index of the section in the record
  bool present = false; // listed with a length > 0
  bool crcOk = false;   // ID header consistent and CRC correct
  std::string what;     // "rhythm data", "reference beats", "manufacturer specific"...
};

struct Lead {
  uint16_t id = 0;       // the standard's lead identifier
  std::string name;      // its name: "I", "II", "V1", "aVR", "X", ...
  uint32_t startSample = 0;  // 1-based, as in Section 3
  uint32_t endSample = 0;
  // Samples at the record's rhythm sample interval, in units of
  // Record::amplitudeNanovolts; empty when not decoded (see problems).
  std::vector<int32_t> samples;
  bool derived = false;  // computed from I and II for the printout only
};

// An annotation with its time from the start of the recording.
struct Annotation {
  double onsetSeconds = 0;
  double durationSeconds = 0;  // 0: a point in time
  std::string text;            // "QRS", "QRS type 1", episode names...
};

// What Section 1 says (empty or 0 where the tag is absent).
struct Demographics {
  std::string patientId, lastName, firstName, secondLastName;
  int birthYear = 0, birthMonth = 0, birthDay = 0;
  int sex = 0;               // 0 unknown, 1 male, 2 female, 9 unspecified
  int heightCm = 0, weightKg = 0;
  int acqYear = 0, acqMonth = 0, acqDay = 0;
  int acqHour = 0, acqMinute = 0, acqSecond = 0;
  std::string institution, department, device, referringPhysician, technician;
  std::vector<std::string> freeText;
  double highPassHz = 0, lowPassHz = 0;  // tags 27 and 28, 0 when absent
  int filterBitmap = 0;                  // tag 29: 1 60 Hz notch, 2 50 Hz notch, 4 artifact, 8 baseline
};

struct Record {
  uint8_t protocolVersion = 0;   // section 1 tag 14 / the ID headers: 10, 11, 12, 13, 20, 30
  uint32_t recordLength = 0;
  bool recordCrcOk = false;
  std::vector<SectionSummary> sections;
  Demographics demographics;

  // Rhythm (Section 6) at its own interval; reference beats (Section 5) are
  // already added back to the residual in the leads' samples.
  uint32_t sampleIntervalUs = 0;     // 1667 us is 599.88 Hz, not 599 Hz
  uint32_t amplitudeNanovolts = 0;   // one sample unit
  double sampleRateHz() const { return sampleIntervalUs ? 1e6 / sampleIntervalUs : 0; }
  std::vector<Lead> leads;           // stored leads in file order, then derived ones

  std::vector<Annotation> annotations;  // QRS locations of Section 4, ...
  std::vector<Problem> problems;

  bool hasWaveform() const {
    for (const Lead& l : leads)
      if (!l.samples.empty()) return true;
    return false;
  }
};

// Reads a whole record held in memory. Reads nothing outside `file`.
Record Read(std::span<const uint8_t> file);
// Reads a file; a file that cannot be opened gives a Record with one problem.
Record ReadFile(const std::string& path);

// "section 6, lead V1: why" for messages.
std::string ProblemText(const Record& record, const Problem& problem);

// The standard's name of a lead identifier ("I", "V1", ...; "lead 200" for
// an identifier outside the table).
std::string LeadName(uint16_t id);

}  // namespace scpreader
