// Section 1: patient and acquisition data as a list of tagged fields
// (tag byte, 16-bit length, value), ended by tag 255 with length 0. The
// standard tags 0 to 34 carry the usual demographics; the record's own
// values travel under the manufacturer tags 181 to 254.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "lib/dbclient/c_test.h"
#include "lib/eventlog.h"
#include "lib/timestmp.h"
#include "platform/platform.h"
#include "scp/scpecg.h"

namespace {

constexpr uint8_t kEndTag = 255;
constexpr uint32_t kFieldHeader = 3;  // tag byte and 16-bit length

// The acquiring device block of tag 14, byte for byte: institution,
// department and device ID (16-bit each), device type, manufacturer code
// 255 (other), model "QMX40", protocol revision 13, compatibility level A0,
// language support, capabilities F0, mains frequency, the 16 reserved bytes,
// the length of the analysing program revision text, then five short texts.
constexpr std::array<uint8_t, 46> kDeviceBlock = {
    0,   0,   0,   0,   0,   0,  0,   255, 'Q', 'M', 'X', '4', '0', 0,   13,  0xA0,
    0,   0xF0, 0,  '1', '1', '1', '.', '1', '1', '1', '.', '1', '1', '1', '.', '1',
    '1', '1', 0,   2,   'A', 0,  'B', 0,   'C', 0,   'D', 0,   'E', 0};
static_assert(kDeviceBlock.size() == 46);
static_assert(kDeviceBlock[7] == 255 && kDeviceBlock[14] == 13 && kDeviceBlock[15] == 0xA0 &&
              kDeviceBlock[17] == 0xF0 && kDeviceBlock[34] == 0 && kDeviceBlock[35] == 2);

// Tag 34, date time zone: offset 0, index 0, empty description.
constexpr std::array<uint8_t, 6> kTimeZoneBlock = {0, 0, 0, 0, 0, 0};

// Holding buffers of tags 0 to 3 and the shared text buffer of the reader.
constexpr uint32_t kNameHold = 32;
constexpr uint32_t kTextHold = 2048;
// Texts taken through the copy-out getters (names, identifier, drugs,
// diagnosis) pass through buffers of this size, so at most 255 characters.
constexpr uint32_t kPutBuffer = 256;

// ------------------------------------------------------------ tag writers
// Each writer takes the write offset and returns the offset behind what it
// wrote. The buffer is sized for the whole record, far beyond what this
// section can hold, but every field is still checked against the capacity:
// a field that does not fit is not written, and the section is then given
// up rather than closed half-written.
class TagWriter {
 public:
  explicit TagWriter(ScpEcg& codec) : c_(codec) {}
  bool full() const { return full_; }

  uint32_t PutTagText(uint32_t offset, uint8_t tag, const char* text) {
    if (text == nullptr || text[0] == '\0') return offset;
    // The length word counts the NUL; longer texts than it can count are cut.
    const uint32_t n = static_cast<uint32_t>(strnlen(text, 0xFFFE));
    if (!Room(offset, n + 1)) return offset;
    offset = Head(offset, tag, n + 1);
    offset = c_.PutBytes(offset, text, 0, n);
    return c_.PutUInt8(offset, 0);
  }

  uint32_t PutTagDate(uint32_t offset, uint8_t tag, const CalendarDate* date) {
    if (date == nullptr || !Room(offset, 4)) return offset;
    offset = Head(offset, tag, 4);
    offset = c_.PutInt16(offset, date->year);
    offset = c_.PutUInt8(offset, date->month);
    return c_.PutUInt8(offset, date->day);
  }

  uint32_t PutTagDateTime(uint32_t offset, uint8_t tag, const DateTime* dt) {
    if (dt == nullptr || !Room(offset, 8)) return offset;
    offset = Head(offset, tag, 8);
    offset = c_.PutInt16(offset, dt->year);
    offset = c_.PutUInt8(offset, dt->month);
    offset = c_.PutUInt8(offset, dt->day);
    offset = c_.PutUInt8(offset, dt->hour);
    offset = c_.PutUInt8(offset, dt->minute);
    offset = c_.PutUInt8(offset, dt->second);
    return c_.PutUInt8(offset, dt->hundredths);
  }

  uint32_t PutTagUInt32(uint32_t offset, uint8_t tag, uint32_t value) {
    if (!Room(offset, 4)) return offset;
    return c_.PutUInt32(Head(offset, tag, 4), value);
  }

  uint32_t PutTagInt16(uint32_t offset, uint8_t tag, int32_t value) {
    if (!Room(offset, 2)) return offset;
    return c_.PutInt16(Head(offset, tag, 2), value);
  }

  uint32_t PutTagUInt8(uint32_t offset, uint8_t tag, uint8_t value) {
    if (!Room(offset, 1)) return offset;
    return c_.PutUInt8(Head(offset, tag, 1), value);
  }

  // A 16-bit number followed by its unit code (tags 4, 6 and 7).
  uint32_t PutTagValueUnit(uint32_t offset, uint8_t tag, int32_t value, uint8_t unit) {
    if (!Room(offset, 3)) return offset;
    offset = c_.PutInt16(Head(offset, tag, 3), value);
    return c_.PutUInt8(offset, unit);
  }

  uint32_t PutTagBytes(uint32_t offset, uint8_t tag, const uint8_t* bytes, uint32_t count) {
    if (!Room(offset, count)) return offset;
    return c_.PutBytes(Head(offset, tag, count), bytes, 0, count);
  }

  // Tag 10: table, class and drug code (all 0), then the text and its NUL.
  uint32_t PutTagDrugs(uint32_t offset, const char* text) {
    if (text == nullptr || text[0] == '\0') return offset;
    const uint32_t n = static_cast<uint32_t>(strnlen(text, 0xFFFE - 3));
    if (!Room(offset, n + 4)) return offset;
    offset = Head(offset, 10, n + 4);
    for (int i = 0; i < 3; ++i) offset = c_.PutUInt8(offset, 0);
    offset = c_.PutBytes(offset, text, 0, n);
    return c_.PutUInt8(offset, 0);
  }

  uint32_t PutEnd(uint32_t offset) {
    if (!Room(offset, 0)) return offset;
    return Head(offset, kEndTag, 0);
  }

 private:
  bool Room(uint32_t offset, uint32_t valueLength) {
    if (!full_ && static_cast<uint64_t>(offset) + kFieldHeader + valueLength <= c_.capacity()) return true;
    full_ = true;
    return false;
  }
  uint32_t Head(uint32_t offset, uint8_t tag, uint32_t length) {
    offset = c_.PutUInt8(offset, tag);
    return c_.PutInt16(offset, static_cast<int32_t>(length));
  }

  ScpEcg& c_;
  bool full_ = false;
};

// ------------------------------------------------------------ tag readers
// A value shorter than the width its tag is read as takes the missing bytes
// from behind it, as the section's own bytes. Where that would run past the
// end of the section data, only the bytes that exist are read and the rest
// count as zero: nothing is ever read beyond the section.
class TagData {
 public:
  TagData(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}
  uint32_t size() const { return size_; }
  uint8_t Byte(uint32_t at) const { return at < size_ ? data_[at] : 0; }
  int16_t GetInt16(uint32_t at) const {
    if (static_cast<uint64_t>(at) + 2 <= size_) return ScpEcg::GetInt16(data_, at);
    return static_cast<int16_t>(Byte(at) | Byte(at + 1) << 8);
  }
  uint32_t GetUInt32(uint32_t at) const {
    if (static_cast<uint64_t>(at) + 4 <= size_) return ScpEcg::GetUInt32(data_, at);
    return static_cast<uint32_t>(Byte(at)) | static_cast<uint32_t>(Byte(at + 1)) << 8 |
           static_cast<uint32_t>(Byte(at + 2)) << 16 | static_cast<uint32_t>(Byte(at + 3)) << 24;
  }
  const uint8_t* At(uint32_t at) const { return data_ + at; }

 private:
  const uint8_t* data_;
  uint32_t size_;
};

// Copies min(length, capacity) bytes of a value that lies within the data.
uint32_t CopyTagBytes(const TagData& data, uint32_t offset, uint32_t length, char* destination,
                      uint32_t capacity) {
  const uint32_t n = std::min(length, capacity);
  if (n) std::memcpy(destination, data.At(offset), n);
  return n;
}

// Copies a text value into a holding buffer of `capacity` bytes; the text
// kept ends at its first NUL, at the end of the copied bytes, or at
// capacity - 1 characters.
void HoldText(const TagData& data, uint32_t offset, uint32_t length, char* hold, uint32_t capacity) {
  const uint32_t n = CopyTagBytes(data, offset, length, hold, capacity);
  hold[std::min(n, capacity - 1)] = '\0';
}

// Year, month and day when the value holds at least 4 bytes; otherwise the
// date stays as it is. Written in place, without a change mark.
void GetTagDate(const TagData& data, uint32_t offset, uint32_t length, CalendarDate* date) {
  if (date == nullptr || length < 4) return;
  date->year = static_cast<uint16_t>(data.GetInt16(offset));
  date->month = data.Byte(offset + 2);
  date->day = data.Byte(offset + 3);
}

void GetTagDateTime(const TagData& data, uint32_t offset, uint32_t length, DateTime* dt) {
  if (dt == nullptr || length < 4) return;
  dt->year = static_cast<uint16_t>(data.GetInt16(offset));
  dt->month = data.Byte(offset + 2);
  dt->day = data.Byte(offset + 3);
  if (length < 8) return;
  dt->hour = data.Byte(offset + 4);
  dt->minute = data.Byte(offset + 5);
  dt->second = data.Byte(offset + 6);
  dt->hundredths = data.Byte(offset + 7);
}

// Codes written only when in range, 0 otherwise.
uint8_t InRange(uint32_t value, uint32_t first, uint32_t last) {
  return value >= first && value <= last ? static_cast<uint8_t>(value) : 0;
}

int32_t AgeInDays(int32_t number, uint8_t unit) {
  switch (unit) {
    case 0: return 0;
    case 1: return number * 365;  // years
    case 2: return number * 30;   // months
    case 3: return number * 7;    // weeks
    case 4: return number;        // days
    case 5: return 0;             // hours
    default: return number;
  }
}

// Hundredths of an inch.
int32_t HeightFromUnit(int32_t number, uint8_t unit) {
  switch (unit) {
    case 0: return 0;
    case 1: return plat::MulDiv(number, 10000, 254);  // centimetres
    case 2: return number * 100;                       // inches
    case 3: return plat::MulDiv(number, 1000, 254);   // millimetres
    default: return number;
  }
}

// Hundredths of a pound.
int32_t WeightFromUnit(int32_t number, uint8_t unit) {
  switch (unit) {
    case 0: return 0;
    case 1: return plat::MulDiv(number, 100000, 453);  // kilograms
    case 2: return plat::MulDiv(number, 100, 453);     // grams
    case 3: return number * 100;                        // pounds
    case 4: return plat::MulDiv(number, 100, 16);      // ounces
    default: return number;
  }
}

// State of one Section 1 read.
struct ReadState {
  char names[4][kNameHold] = {};  // tags 0 to 3
  char text[kTextHold] = {};      // the latest other text tag
  uint32_t pressure = 0;
};

// The text setter of a plain text tag, or null.
using TextSetter = void (TestRecord::*)(const char*);
TextSetter TextSetterOf(uint8_t tag) {
  switch (tag) {
    case 13: return &TestRecord::SetDiagnosis;
    case 20: return &TestRecord::SetReferringPhysician;
    case 21: return &TestRecord::SetConfirmingPhysician;
    case 22: return &TestRecord::SetTechnician;
    case 23: return &TestRecord::SetRoomText;
    case 182: return &TestRecord::SetScrambleKey;
    case 184: return &TestRecord::SetAccessionNumber;
    case 185: return &TestRecord::SetTag185Text;
    case 186: return &TestRecord::SetTag186Text;
    case 200: return &TestRecord::SetStreet;
    case 201: return &TestRecord::SetCity;
    case 202: return &TestRecord::SetState;
    case 203: return &TestRecord::SetPostalCode;
    case 210: return &TestRecord::SetOverreadingPhysician;
    case 215: return &TestRecord::SetDeviceName;
    case 216: return &TestRecord::SetDeviceSerial;
    case 217: return &TestRecord::SetDeviceRevision;
    case 221: return &TestRecord::SetTag221Text;
    case 222: return &TestRecord::SetTag222Text;
    case 223: return &TestRecord::SetTag223Text;
    case 224: return &TestRecord::SetTag224Text;
    case 225: return &TestRecord::SetTag225Text;
    case 226: return &TestRecord::SetOriginalInterpreter;
    case 227: return &TestRecord::SetTag227Text;
    case 228: return &TestRecord::SetTag228Text;
    case 229: return &TestRecord::SetTag229Text;
    case 231: return &TestRecord::SetTag231Text;
    case 232: return &TestRecord::SetTag232Text;
    case 240: return &TestRecord::SetTag240Text;
    case 253: return &TestRecord::SetTag253Text;
    case 254: return &TestRecord::SetTag254Text;
    default: return nullptr;
  }
}

// The setter of a plain 32-bit tag, or null.
using NumberSetter = void (TestRecord::*)(uint32_t);
NumberSetter NumberSetterOf(uint8_t tag) {
  switch (tag) {
    case 181: return &TestRecord::SetTag181Value;
    case 183: return &TestRecord::SetTag183Value;
    case 187: return &TestRecord::SetTag187Value;
    case 188: return &TestRecord::SetTag188Value;
    case 189: return &TestRecord::SetMeasureValueB;
    case 190: return &TestRecord::SetMeasureTimeB;
    case 192: return &TestRecord::SetMeasureExtraB;
    case 193: return &TestRecord::SetMeasureValueA;
    case 194: return &TestRecord::SetMeasureTimeA;
    case 196: return &TestRecord::SetMeasureExtraA;
    case 197: return &TestRecord::SetTag197Value;
    case 198: return &TestRecord::SetTag198Value;
    case 199: return &TestRecord::SetTag199Value;
    case 211: return &TestRecord::SetTag211Value;
    case 218: return &TestRecord::SetTag218Value;
    case 219: return &TestRecord::SetTag219Value;
    case 220: return &TestRecord::SetTag220Value;
    case 235: return &TestRecord::SetTag235Value;
    case 236: return &TestRecord::SetTag236Value;
    case 237: return &TestRecord::SetTag237Value;
    case 238: return &TestRecord::SetTag238Value;
    case 239: return &TestRecord::SetHeartRate;
    case 241: return &TestRecord::SetPairValue1;
    case 242: return &TestRecord::SetPairTime1;
    case 243: return &TestRecord::SetPairValue2;
    case 244: return &TestRecord::SetPairTime2;
    case 245: return &TestRecord::SetPairValue3;
    case 246: return &TestRecord::SetPairTime3;
    case 247: return &TestRecord::SetPairValue4;
    case 248: return &TestRecord::SetPairTime4;
    case 249: return &TestRecord::SetPairValue5;
    case 250: return &TestRecord::SetPairTime5;
    case 251: return &TestRecord::SetPairValue6;
    case 252: return &TestRecord::SetPairTime6;
    default: return nullptr;
  }
}

// Personal-history codes (tags 204 to 208): the highest valid code and the
// word and line logged for a code beyond it.
struct HistoryCode {
  uint8_t tag;
  uint8_t last;
  int32_t line;
  const char* word;
  void (TestRecord::*set)(uint32_t);
};
constexpr HistoryCode kHistoryCodes[] = {
    {204, 2, 1746, "Ambulatory", &TestRecord::SetAmbulatory},
    {205, 3, 1753, "Smoking", &TestRecord::SetSmoking},
    {206, 3, 1760, "Alcohol", &TestRecord::SetAlcohol},
    {207, 2, 1766, "Family", &TestRecord::SetFamily},
    {208, 4, 1774, "Pacemaker", &TestRecord::SetPacemaker},
};

// Handles one field whose value lies within the data at [p, p + length).
void HandleField(TestRecord* r, EventLog* log, ReadState& s, const TagData& d, uint8_t tag, uint32_t p,
                 uint32_t length) {
  if (tag <= 3) {
    HoldText(d, p, length, s.names[tag], kNameHold);
    return;
  }
  if (TextSetter set = TextSetterOf(tag)) {
    HoldText(d, p, length, s.text, kTextHold);
    (r->*set)(s.text);
    return;
  }
  if (NumberSetter set = NumberSetterOf(tag)) {
    (r->*set)(d.GetUInt32(p));
    return;
  }
  for (const HistoryCode& h : kHistoryCodes) {
    if (h.tag != tag) continue;
    const uint8_t code = d.Byte(p);
    if (code <= h.last)
      (r->*h.set)(code);
    else if (log)
      log->LogOemError(kSrcScpecg, h.line, h.word);
    return;
  }
  switch (tag) {
    case 4:
      r->SetAge(static_cast<uint16_t>(AgeInDays(d.GetInt16(p), d.Byte(p + 2))));
      return;
    case 5: {
      // A value too short for a date clears the birth date.
      CalendarDate date{};
      GetTagDate(d, p, length, &date);
      r->SetBirthDate(&date);
      return;
    }
    case 6:
      r->SetHeight(static_cast<uint32_t>(HeightFromUnit(d.GetInt16(p), d.Byte(p + 2))));
      return;
    case 7:
      r->SetWeight(static_cast<uint32_t>(WeightFromUnit(d.GetInt16(p), d.Byte(p + 2))));
      return;
    case 8: {
      const uint8_t code = d.Byte(p);
      if (code <= 2) r->SetSex(code);
      else if (code == 9) r->SetSex(0);
      return;
    }
    case 9: {
      const uint8_t code = d.Byte(p);
      r->SetRace(code <= 3 ? code : code == 10 ? 4 : 0);
      return;
    }
    case 10: {
      // The text follows the table, class and drug code bytes; a value too
      // short to hold them carries no text and sets an empty one.
      const uint32_t n = length > 3 ? CopyTagBytes(d, p + 3, length - 3, s.text, kTextHold) : 0;
      s.text[std::min(n, kTextHold - 1)] = '\0';
      r->SetDrugs(s.text);
      return;
    }
    case 11:
      s.pressure = (s.pressure & 0xFFFFu) | static_cast<uint32_t>(static_cast<uint16_t>(d.GetInt16(p))) << 16;
      r->SetBloodPressure(s.pressure);
      return;
    case 12:
      s.pressure = (s.pressure & 0xFFFF0000u) | static_cast<uint16_t>(d.GetInt16(p));
      r->SetBloodPressure(s.pressure);
      return;
    case 25:
      // Acquisition date and time go into the record's object in place.
      if (DateTime* dt = r->GetAcquisitionDateTime()) {
        dt->year = static_cast<uint16_t>(d.GetInt16(p));
        dt->month = d.Byte(p + 2);
        dt->day = d.Byte(p + 3);
      }
      return;
    case 26:
      if (DateTime* dt = r->GetAcquisitionDateTime()) {
        dt->hour = d.Byte(p);
        dt->minute = d.Byte(p + 1);
        dt->second = d.Byte(p + 2);
      }
      return;
    case 27:
      r->SetHighPassFilter(static_cast<uint32_t>(static_cast<int32_t>(d.GetInt16(p))));
      return;
    case 28:
      r->SetLowPassFilter(static_cast<uint32_t>(static_cast<int32_t>(d.GetInt16(p))));
      return;
    case 29:
      r->SetFilterBitmap(d.Byte(p));
      return;
    case 191:
    case 195: {
      const uint32_t lead = d.GetUInt32(p);
      if (lead <= 11) (tag == 191 ? r->SetMeasureLeadB(lead) : r->SetMeasureLeadA(lead));
      return;
    }
    case 209:
      GetTagDate(d, p, length, r->GetTag209Date());
      return;
    case 212:
      r->SetTag212Flag(d.GetUInt32(p) != 0 ? 1 : 0);
      return;
    case 213: {
      const uint32_t code = d.GetUInt32(p);
      r->SetProcedureType(code <= 6 ? code : 7);
      return;
    }
    case 230:
      GetTagDateTime(d, p, length, r->GetOverreadDateTime());
      return;
    case 233: {
      const uint8_t bits = d.Byte(p);
      r->SetExercise(bits & 0x01u, (bits & 0x80u) ? 1 : 0);
      return;
    }
    case 234:
      r->SetTargetHeartRate(static_cast<uint32_t>(static_cast<int32_t>(d.GetInt16(p))));
      return;
    default:
      break;
  }
  // Standard tags this system does not keep, stepped over silently.
  if ((tag >= 14 && tag <= 19) || tag == 24 || (tag >= 30 && tag <= 35) || tag == 214) return;
  // Tags 36 to 180: reported with the latest text value, then stepped over.
  if (log) log->LogOemError(kSrcScpecg, 1946, s.text);
}

}  // namespace

// ------------------------------------------------------------------- write

void ScpEcg::PutDemographics(TestRecord* record) {
  if (record == nullptr) return;
  uint32_t start = 0;
  uint32_t o = BeginSection(&start, nullptr);
  if (o < 1) {
    if (log_) log_->LogOemError(kSrcScpecg, 2311, "SCP-ECG: PutDemographics");
    return;
  }
  TagWriter w(*this);
  char text[kPutBuffer];

  o = w.PutTagText(o, 0, record->GetLastName(text, sizeof text));
  o = w.PutTagText(o, 1, record->GetFirstName(text, sizeof text));
  o = w.PutTagText(o, 2, record->GetStoredPatientId(text, sizeof text));
  o = w.PutTagText(o, 3, record->GetSecondLastName(text, sizeof text));
  o = w.PutTagValueUnit(o, 4, record->GetAge(), 4);  // days
  o = w.PutTagDate(o, 5, record->GetBirthDate());
  // Hundredths of an inch to millimetres, hundredths of a pound to ounces.
  o = w.PutTagValueUnit(o, 6, plat::MulDiv(static_cast<int32_t>(record->GetHeight()), 254, 1000), 3);
  o = w.PutTagValueUnit(o, 7, plat::MulDiv(static_cast<int32_t>(record->GetWeight()), 16, 100), 4);
  o = w.PutTagUInt8(o, 8, InRange(record->GetSex(), 1, 2));
  const uint32_t race = record->GetRace();
  if (race <= 4) o = w.PutTagUInt8(o, 9, race == 4 ? 10 : static_cast<uint8_t>(race));
  o = w.PutTagDrugs(o, record->GetDrugs(text, sizeof text));
  const uint32_t pressure = record->GetBloodPressure();
  if (pressure != 0) {
    o = w.PutTagInt16(o, 11, static_cast<int32_t>(pressure >> 16));
    o = w.PutTagInt16(o, 12, static_cast<int32_t>(pressure & 0xFFFFu));
  }
  o = w.PutTagText(o, 13, record->GetDiagnosis(text, sizeof text));
  o = w.PutTagBytes(o, 14, kDeviceBlock.data(), static_cast<uint32_t>(kDeviceBlock.size()));
  o = w.PutTagText(o, 20, record->GetReferringPhysician());
  o = w.PutTagText(o, 21, record->GetConfirmingPhysician());
  o = w.PutTagText(o, 22, record->GetTechnician());
  o = w.PutTagText(o, 23, record->GetRoomText(text, sizeof text));
  if (const DateTime* acquired = record->GetAcquisitionDateTime()) {
    const CalendarDate date = acquired->Date();
    o = w.PutTagDate(o, 25, &date);
    const uint8_t time[3] = {acquired->hour, acquired->minute, acquired->second};
    o = w.PutTagBytes(o, 26, time, sizeof time);
  }
  o = w.PutTagInt16(o, 27, static_cast<int32_t>(record->GetHighPassFilter()));
  o = w.PutTagInt16(o, 28, static_cast<int32_t>(record->GetLowPassFilter()));
  o = w.PutTagUInt8(o, 29, static_cast<uint8_t>(record->GetFilterBitmap()));
  o = w.PutTagBytes(o, 34, kTimeZoneBlock.data(), static_cast<uint32_t>(kTimeZoneBlock.size()));

  o = w.PutTagUInt32(o, 181, record->GetTag181Value());
  o = w.PutTagText(o, 182, record->GetScrambleKey());
  o = w.PutTagUInt32(o, 183, record->GetTag183Value());
  o = w.PutTagText(o, 184, record->GetAccessionNumber());
  o = w.PutTagText(o, 185, record->GetTag185Text());
  o = w.PutTagText(o, 186, record->GetTag186Text());
  o = w.PutTagUInt32(o, 187, record->GetTag187Value());
  o = w.PutTagUInt32(o, 188, record->GetTag188Value());
  o = w.PutTagUInt32(o, 189, record->GetMeasureValueB());
  o = w.PutTagUInt32(o, 190, record->GetMeasureTimeB());
  o = w.PutTagUInt32(o, 191, InRange(record->GetMeasureLeadB(), 0, 11));
  o = w.PutTagUInt32(o, 192, record->GetMeasureExtraB());
  o = w.PutTagUInt32(o, 193, record->GetMeasureValueA());
  o = w.PutTagUInt32(o, 194, record->GetMeasureTimeA());
  o = w.PutTagUInt32(o, 195, InRange(record->GetMeasureLeadA(), 0, 11));
  o = w.PutTagUInt32(o, 196, record->GetMeasureExtraA());
  o = w.PutTagUInt32(o, 197, record->GetTag197Value());
  o = w.PutTagUInt32(o, 198, record->GetTag198Value());
  o = w.PutTagUInt32(o, 199, record->GetTag199Value());
  o = w.PutTagText(o, 200, record->GetStreet());
  o = w.PutTagText(o, 201, record->GetCity());
  o = w.PutTagText(o, 202, record->GetState());
  o = w.PutTagText(o, 203, record->GetPostalCode());
  o = w.PutTagUInt8(o, 204, InRange(record->GetAmbulatory(), 1, 2));
  o = w.PutTagUInt8(o, 205, InRange(record->GetSmoking(), 1, 3));
  o = w.PutTagUInt8(o, 206, InRange(record->GetAlcohol(), 1, 3));
  o = w.PutTagUInt8(o, 207, InRange(record->GetFamily(), 1, 2));
  o = w.PutTagUInt8(o, 208, InRange(record->GetPacemaker(), 1, 4));
  o = w.PutTagDate(o, 209, record->GetTag209Date());
  o = w.PutTagText(o, 210, record->GetOverreadingPhysician());
  o = w.PutTagUInt32(o, 211, record->GetTag211Value());
  o = w.PutTagUInt32(o, 212, record->GetTag212Flag() != 0 ? 1 : 0);
  const uint32_t procedure = record->GetProcedureType();
  o = w.PutTagUInt32(o, 213, procedure <= 6 ? procedure : 7);

  o = w.PutTagText(o, 215, record->GetDeviceName());
  o = w.PutTagText(o, 216, record->GetDeviceSerial());
  o = w.PutTagText(o, 217, record->GetDeviceRevision());
  o = w.PutTagUInt32(o, 218, record->GetTag218Value());
  o = w.PutTagUInt32(o, 219, record->GetTag219Value());
  o = w.PutTagUInt32(o, 220, record->GetTag220Value());
  o = w.PutTagText(o, 221, record->GetTag221Text());
  o = w.PutTagText(o, 222, record->GetTag222Text());
  o = w.PutTagText(o, 223, record->GetTag223Text());
  o = w.PutTagText(o, 224, record->GetTag224Text());
  o = w.PutTagText(o, 225, record->GetTag225Text());
  o = w.PutTagText(o, 226, record->GetOriginalInterpreter());
  o = w.PutTagText(o, 227, record->GetTag227Text());
  o = w.PutTagText(o, 228, record->GetTag228Text());
  o = w.PutTagText(o, 229, record->GetTag229Text());
  o = w.PutTagDateTime(o, 230, record->GetOverreadDateTime());
  o = w.PutTagText(o, 231, record->GetTag231Text());
  o = w.PutTagText(o, 232, record->GetTag232Text());
  uint8_t exercise = 0;
  if (record->GetExerciseType() == 1) exercise |= 0x01;
  if (record->GetExerciseFlag() != 0) exercise |= 0x80;
  o = w.PutTagUInt8(o, 233, exercise);
  o = w.PutTagInt16(o, 234, static_cast<int32_t>(record->GetTargetHeartRate()));
  o = w.PutTagUInt32(o, 235, record->GetTag235Value());
  o = w.PutTagUInt32(o, 236, record->GetTag236Value());
  o = w.PutTagUInt32(o, 237, record->GetTag237Value());
  o = w.PutTagUInt32(o, 238, record->GetTag238Value());
  o = w.PutTagUInt32(o, 239, record->GetHeartRate());
  o = w.PutTagText(o, 240, record->GetTag240Text());
  o = w.PutTagUInt32(o, 241, record->GetPairValue1());
  o = w.PutTagUInt32(o, 242, record->GetPairTime1());
  o = w.PutTagUInt32(o, 243, record->GetPairValue2());
  o = w.PutTagUInt32(o, 244, record->GetPairTime2());
  o = w.PutTagUInt32(o, 245, record->GetPairValue3());
  o = w.PutTagUInt32(o, 246, record->GetPairTime3());
  o = w.PutTagUInt32(o, 247, record->GetPairValue4());
  o = w.PutTagUInt32(o, 248, record->GetPairTime4());
  o = w.PutTagUInt32(o, 249, record->GetPairValue5());
  o = w.PutTagUInt32(o, 250, record->GetPairTime5());
  o = w.PutTagUInt32(o, 251, record->GetPairValue6());
  o = w.PutTagUInt32(o, 252, record->GetPairTime6());
  o = w.PutTagText(o, 253, record->GetTag253Text());
  o = w.PutTagText(o, 254, record->GetTag254Text());
  o = w.PutEnd(o);

  // A section that did not fit whole stays absent: its 16 reserved bytes
  // remain, and no pointer entry covers them. It is reported like one
  // without room for its header.
  if (w.full()) {
    if (log_) log_->LogOemError(kSrcScpecg, 2311, "SCP-ECG: PutDemographics");
    return;
  }
  EndSection(o, 1, start);
}

// -------------------------------------------------------------------- read

int ScpEcg::GetDemographics(TestRecord* record) {
  uint32_t size = 0;
  std::unique_ptr<uint8_t[]> section = GetSection(1, &size);
  if (section == nullptr) {
    if (log_) log_->LogSystemError("SCP-ECG File does not contain Section 1");
    return 0;
  }
  if (record == nullptr) return 0;
  const TagData d(section.get(), size);
  auto state = std::make_unique<ReadState>();
  uint32_t p = 0;
  bool ended = false;
  while (p < size) {
    const uint8_t tag = d.Byte(p);
    if (tag == kEndTag) {
      ended = true;
      break;
    }
    // Without room for a length word the field is cut off by the end.
    if (size - p < kFieldHeader) break;
    const uint32_t length = static_cast<uint16_t>(d.GetInt16(p + 1));
    p += kFieldHeader;
    if (static_cast<uint64_t>(p) + length > size) {
      // The value's first byte is read as the next tag.
      if (log_) log_->LogOemError(kSrcScpecg, 1948, "Incorrect SCP length");
      continue;
    }
    try {
      HandleField(record, log_, *state, d, tag, p, length);
    } catch (...) {
      // The field is skipped; the walk goes on behind it.
    }
    p += length;
  }
  if (!ended) {
    if (log_) log_->LogOemError(kSrcScpecg, 1950, "Incorrect termination");
    return 0;
  }
  record->SetStoredPatientId(state->names[2]);
  record->SetPatientName(state->names[1], state->names[3], state->names[0]);
  return 1;
}

int ScpEcg::GetProcedureTypeFromFile() {
  int code = 2;
  uint32_t size = 0;
  std::unique_ptr<uint8_t[]> section = GetSection(1, &size);
  if (section == nullptr) {
    if (log_) log_->LogMemoryError(kSrcScpecg, 4344);
    return 2;
  }
  const TagData d(section.get(), size);
  uint32_t p = 0;
  bool ended = false;
  while (p < size) {
    const uint8_t tag = d.Byte(p);
    if (tag == kEndTag) {
      ended = true;
      break;
    }
    // A field cut off before its length word ends the walk unterminated.
    if (size - p < kFieldHeader) break;
    const int32_t length = d.GetInt16(p + 1);
    p += kFieldHeader;
    // A length of 32768 or more reads as negative and would send the walk
    // back over positions already seen: the walk stops there, and the
    // section counts as unterminated.
    if (length < 0) break;
    if (static_cast<uint64_t>(p) + static_cast<uint32_t>(length) > size) {
      if (log_) log_->LogOemError(kSrcScpecg, 4336, "Incorrect SCP length");
      continue;
    }
    if (tag == 213) {
      // A value shorter than 4 bytes at the very end of the data is read
      // with the missing bytes as zero.
      const uint32_t value = d.GetUInt32(p);
      code = value <= 6 ? static_cast<int>(value) : 7;
    }
    p += static_cast<uint32_t>(length);
  }
  if (!ended) {
    code = 7;
    if (log_) log_->LogOemError(kSrcScpecg, 4341, "Incorrect termination");
  }
  return code;
}
