// Writes SCP-ECG records with the encodings other producers use, so that
// the reader can be checked against independent readers: the default
// Huffman table, custom tables with table switches, no Huffman coding;
// no, first or second differences; reference-beat subtraction with QRS
// locations; bimodal compression; any lead identifiers in any order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scpreader {

enum class Coding { kDefaultTable, kCustomTables, kNone };

struct WriteLead {
  uint8_t id = 1;
  std::vector<int16_t> samples;  // at the full rate, in amplitude units
  // Number of the lead's first sample (from 1). Leads may start and end
  // apart, but not in records with QRS zones.
  uint32_t start = 1;
};

struct WriteOptions {
  uint8_t version = 20;  // 10..13, 20..22, 30
  Coding coding = Coding::kDefaultTable;
  // Custom tables as some producers write them: each code's whole length
  // before its prefix length, and tables numbered from 0 in switch codes.
  bool tablesLengthFirst = false;
  uint8_t differences = 2;  // 0, 1, 2
  uint16_t intervalUs = 2000;
  uint16_t amplitudeNanovolts = 5000;
  // QRS fiducial points (1-based sample numbers). With referenceBeat, each
  // gets a type 0 subtraction zone and the averaged beat goes to section 5.
  std::vector<uint32_t> qrs;
  bool referenceBeat = false;
  // Samples before and after the fiducial point in the subtraction zone,
  // and in the protected zone (kept at the full rate in bimodal records).
  uint32_t zoneBefore = 40, zoneAfter = 60, protectBefore = 20, protectAfter = 30;
  uint32_t bimodalFactor = 1;  // > 1: decimate outside protected zones
  std::string lastName = "Test", firstName = "Ada", patientId = "SCP-1";
};

// The record's bytes; empty when the options cannot be written (*why).
std::vector<uint8_t> WriteRecord(const std::vector<WriteLead>& leads, const WriteOptions& options, std::string* why);

}  // namespace scpreader
