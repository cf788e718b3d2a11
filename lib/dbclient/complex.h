// Averaged complexes (section 133): one ComplexData per complex, with up to
// 24 leads of 16-bit samples, a fixed measurement block and a text block.
//
// The class layout is shared with the host: keep member order and widths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "lib/natural_layout.h"

// One lead of a complex. Owns its sample array.
#define SCP_COMPLEX_LEAD_MEMBERS(X) X(leadCode, uint32_t) X(samples, int16_t*)
class ComplexLead {
 public:
  // Makes a lead with a zero-filled array of sampleCount samples. A host that
  // attaches a lead to a complex must give it at least the complex's sample
  // count of samples (see ComplexData).
  ComplexLead(uint32_t leadCode, uint32_t sampleCount);
  ~ComplexLead();
  ComplexLead(const ComplexLead&) = delete;
  ComplexLead& operator=(const ComplexLead&) = delete;

  // 0..19 are kept, anything else is stored as 20.
  static uint32_t MapLeadCode(uint32_t code) { return code <= 19 ? code : 20; }

  SCP_COMPLEX_LEAD_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(ComplexLead, SCP_COMPLEX_LEAD_MEMBERS, 8, 16)

// 1872 bytes, the same layout in memory and in the record; flag is 1 when
// set.
#define SCP_COMPLEX_MEASUREMENTS_MEMBERS(X)                                                      \
  X(m1, uint32_t) X(flag, uint32_t) X(m2to9, uint16_t[8]) X(m10, uint32_t) X(m11to17, uint16_t[7]) \
  X(groups, uint16_t[15][61])
struct ComplexMeasurements {
  SCP_COMPLEX_MEASUREMENTS_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(ComplexMeasurements, SCP_COMPLEX_MEASUREMENTS_MEMBERS, 1872, 1872)

// 1044 bytes, the same layout in memory and in the record.
#define SCP_COMPLEX_TEXT_MEMBERS(X) \
  X(t1, uint32_t) X(t2, uint32_t) X(text, char[1024]) X(code, char[4]) X(t3, uint32_t) X(t4, uint32_t)
struct ComplexText {
  SCP_COMPLEX_TEXT_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(ComplexText, SCP_COMPLEX_TEXT_MEMBERS, 1044, 1044)

// Members in memory order: value1 is a 16-bit signed value, leadCount n,
// sampleCount s (every attached lead holds at least s samples); the leads
// are owned.
#define SCP_COMPLEX_DATA_MEMBERS(X)                                                                            \
  X(recordLength, uint32_t) X(value1, int32_t) X(leadCount, uint32_t) X(sampleCount, uint32_t) X(codeA, uint32_t) \
  X(value5, uint32_t) X(codeB, uint32_t) X(values7to15, uint32_t[9])                                            \
  X(leads, ComplexLead*[ComplexData::kMaxLeads]) X(measurements, ComplexMeasurements) X(textBlock, ComplexText)

class ComplexData {
 public:
  static constexpr uint32_t kMaxLeads = 24;
  // Header (64) + closing zero word (4) + measurements (1872) + text (1044).
  static constexpr uint32_t kFixedRecordBytes = 64 + 4 + 1872 + 1044;

  // An empty complex: no leads, all values 0, recordLength 0 (nothing to
  // serialize until a length is set).
  ComplexData();
  // A complex with leads in slots 0..leadCount-1 (at most 24), each with
  // sampleCount zero samples and lead code 0; recordLength is set to
  // RequiredLength().
  ComplexData(uint32_t leadCount, uint32_t sampleCount);
  ~ComplexData();
  ComplexData(const ComplexData&) = delete;
  ComplexData& operator=(const ComplexData&) = delete;

  // Attaches (or replaces, or with null removes) the lead of a slot; the
  // complex takes ownership. Returns false for a slot of 24 or more (the lead
  // is then destroyed).
  bool SetLead(uint32_t slot, ComplexLead* lead);
  ComplexLead* GetLead(uint32_t slot) const { return slot < kMaxLeads ? leads[slot] : nullptr; }
  uint32_t FilledSlotCount() const;
  // Bytes the record takes for the current leads, n and s (0 if it would not
  // fit in 32 bits).
  uint32_t RequiredLength() const;

  // The record, recordLength bytes; null when recordLength is 0, when the
  // parts do not fit in it, when n exceeds 24 or a slot below n is empty, or
  // when allocation fails.
  std::unique_ptr<uint8_t[]> Serialize(uint32_t* length) const;

  // Fills this complex from a record that starts at its length word; record
  // ends at the end of the section data. Returns true when every part that
  // the record and this complex's lead slots call for was read.
  bool Read(std::span<const uint8_t> record);

  // Gives every attached lead a zeroed array of samples entries; false (and
  // nothing changed) when allocation fails.
  bool GrowLeads(uint32_t samples);

  static uint32_t MapCodeA(uint32_t code) { return code <= 3 ? code : 4; }
  static uint32_t MapCodeB(uint32_t code) { return code <= 1 ? code : 2; }

  SCP_COMPLEX_DATA_MEMBERS(SCP_DECLARE_MEMBER)
};
SCP_CHECK_LAYOUT(ComplexData, SCP_COMPLEX_DATA_MEMBERS, 3076, 3176)
