// Section 1: patient and acquisition data as a list of tagged fields
// (tag byte, 16-bit length, value), ended by tag 255 with length 0. The
// standard tags 0 to 34 carry the usual demographics; the record's own
// values travel under the manufacturer tags 181 to 254.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#include "lib/byte_cursor.h"
#include "lib/dbclient/c_test.h"
#include "lib/eventlog.h"
#include "lib/timestmp.h"
#include "platform/platform.h"
#include "scp/messages.h"
#include "scp/section_cursor.h"

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
// The buffer is sized for the whole record, far beyond what this section can
// hold, but every field is still checked against the capacity: a field that
// does not fit is not written, and the section is then given up rather than
// closed half-written.
class TagWriter {
 public:
  explicit TagWriter(ScpEcg& codec) : w_(codec) {}
  explicit operator bool() const { return static_cast<bool>(w_); }
  bool full() const { return w_.full(); }
  bool End(uint16_t id) { return w_.End(id); }

  void Text(uint8_t tag, const char* text) {
    if (text == nullptr || text[0] == '\0') return;
    // The length word counts the NUL; longer texts than it can count are cut.
    const uint32_t n = static_cast<uint32_t>(strnlen(text, 0xFFFE));
    if (Head(tag, n + 1)) { w_.Bytes(text, n); w_.U8(0); }
  }

  void Date(uint8_t tag, const CalendarDate* date) {
    if (date != nullptr && Head(tag, 4)) { w_.U16(date->year); w_.U8(date->month); w_.U8(date->day); }
  }

  void DateAndTime(uint8_t tag, const DateTime* dt) {
    if (dt == nullptr || !Head(tag, 8)) return;
    const uint8_t rest[6] = {dt->month, dt->day, dt->hour, dt->minute, dt->second, dt->hundredths};
    w_.U16(dt->year);
    w_.Bytes(rest, 6);
  }

  void U32(uint8_t tag, uint32_t value) {
    if (Head(tag, 4)) w_.U32(value);
  }
  void I16(uint8_t tag, int32_t value) {
    if (Head(tag, 2)) w_.U16(static_cast<uint16_t>(value));
  }
  void U8(uint8_t tag, uint8_t value) {
    if (Head(tag, 1)) w_.U8(value);
  }
  // A 16-bit number followed by its unit code (tags 4, 6 and 7).
  void ValueUnit(uint8_t tag, int32_t value, uint8_t unit) {
    if (Head(tag, 3)) { w_.U16(static_cast<uint16_t>(value)); w_.U8(unit); }
  }
  void Bytes(uint8_t tag, const uint8_t* bytes, uint32_t count) {
    if (Head(tag, count)) w_.Bytes(bytes, count);
  }

  // Tag 10: table, class and drug code (all 0), then the text and its NUL.
  void Drugs(const char* text) {
    if (text == nullptr || text[0] == '\0') return;
    const uint32_t n = static_cast<uint32_t>(strnlen(text, 0xFFFE - 3));
    if (Head(10, n + 4)) { w_.Zeros(3); w_.Bytes(text, n); w_.U8(0); }
  }

  void EndTag() { Head(kEndTag, 0); }

 private:
  // The tag and its length word when the whole field fits; otherwise
  // nothing, and the writer is full from then on.
  bool Head(uint8_t tag, uint32_t length) {
    if (!w_.Reserve(kFieldHeader + size_t{length})) return false;
    w_.U8(tag);
    w_.U16(static_cast<uint16_t>(length));
    return true;
  }

  SectionWriter w_;
};

// ------------------------------------------------------------ tag readers
// A value shorter than the width its tag is read as takes the missing bytes
// from behind it, as the section's own bytes. Where that would run past the
// end of the section data, only the bytes that exist are read and the rest
// count as zero (PastEnd::kZeroFill): nothing is ever read beyond the section.

// Copies a text value that lies within the data into a holding buffer of
// `capacity` bytes; the text kept ends at its first NUL, at the end of the
// copied bytes, or at capacity - 1 characters.
void HoldText(const ByteReader& data, uint32_t offset, uint32_t length, char* hold, uint32_t capacity) {
  const uint32_t n = std::min(length, capacity);
  if (n) std::memcpy(hold, data.bytes().data() + offset, n);
  hold[std::min(n, capacity - 1)] = '\0';
}

// Year, month and day when the value holds at least 4 bytes, then the time
// of a DateTime when it holds 8; otherwise the value stays as it is. Written
// in place, without a change mark.
template <typename D>
void GetTagDate(const ByteReader& data, uint32_t offset, uint32_t length, D* date) {
  if (date == nullptr || length < 4) return;
  date->year = data.U16At(offset);
  date->month = data.U8At(offset + 2);
  date->day = data.U8At(offset + 3);
  if constexpr (std::is_same_v<D, DateTime>) {
    if (length < 8) return;
    date->hour = data.U8At(offset + 4);
    date->minute = data.U8At(offset + 5);
    date->second = data.U8At(offset + 6);
    date->hundredths = data.U8At(offset + 7);
  }
}

// Codes written only when in range, 0 otherwise.
uint8_t InRange(uint32_t value, uint32_t first, uint32_t last) {
  return value >= first && value <= last ? static_cast<uint8_t>(value) : 0;
}

// Procedure types 0 to 6; any other is kept as 7.
uint32_t ProcedureCode(uint32_t value) { return value <= 6 ? value : 7; }

// A value with its unit code, converted as number * scale / divisor
// (rounded); a unit code beyond its table keeps the number as it is.
struct UnitScale {
  int32_t scale;
  int32_t divisor;
};
// Days from none, years, months, weeks, days, hours.
constexpr UnitScale kAgeUnits[] = {{0, 1}, {365, 1}, {30, 1}, {7, 1}, {1, 1}, {0, 1}};
// Hundredths of an inch from none, centimetres, inches, millimetres.
constexpr UnitScale kHeightUnits[] = {{0, 1}, {10000, 254}, {100, 1}, {1000, 254}};
// Hundredths of a pound from none, kilograms, grams, pounds, ounces.
constexpr UnitScale kWeightUnits[] = {{0, 1}, {100000, 453}, {100, 453}, {100, 1}, {100, 16}};

template <size_t N>
int32_t FromUnit(const UnitScale (&units)[N], int32_t number, uint8_t unit) {
  return unit < N ? plat::MulDiv(number, units[unit].scale, units[unit].divisor) : number;
}

// State of one Section 1 read.
struct ReadState {
  char names[4][kNameHold] = {};  // tags 0 to 3
  char text[kTextHold] = {};      // the latest other text tag
  uint32_t pressure = 0;
};

// Text tags read with a plain setter; from tag 181 on, also written from
// the plain getter (a null getter: written from a copy, before tag 181).
struct TextTag {
  uint8_t tag;
  const char* (TestRecord::*get)() const;
  void (TestRecord::*set)(const char*);
};
constexpr TextTag kTextTags[] = {
    {13, nullptr, &TestRecord::SetDiagnosis},  // written from a copy
    {20, &TestRecord::GetReferringPhysician, &TestRecord::SetReferringPhysician},
    {21, &TestRecord::GetConfirmingPhysician, &TestRecord::SetConfirmingPhysician},
    {22, &TestRecord::GetTechnician, &TestRecord::SetTechnician},
    {23, nullptr, &TestRecord::SetRoomText},  // written from a copy
    {182, &TestRecord::GetScrambleKey, &TestRecord::SetScrambleKey},
    {184, &TestRecord::GetAccessionNumber, &TestRecord::SetAccessionNumber},
    {185, &TestRecord::GetTag185Text, &TestRecord::SetTag185Text},
    {186, &TestRecord::GetTag186Text, &TestRecord::SetTag186Text},
    {200, &TestRecord::GetStreet, &TestRecord::SetStreet},
    {201, &TestRecord::GetCity, &TestRecord::SetCity},
    {202, &TestRecord::GetState, &TestRecord::SetState},
    {203, &TestRecord::GetPostalCode, &TestRecord::SetPostalCode},
    {210, &TestRecord::GetOverreadingPhysician, &TestRecord::SetOverreadingPhysician},
    {215, &TestRecord::GetDeviceName, &TestRecord::SetDeviceName},
    {216, &TestRecord::GetDeviceSerial, &TestRecord::SetDeviceSerial},
    {217, &TestRecord::GetDeviceRevision, &TestRecord::SetDeviceRevision},
    {221, &TestRecord::GetTag221Text, &TestRecord::SetTag221Text},
    {222, &TestRecord::GetTag222Text, &TestRecord::SetTag222Text},
    {223, &TestRecord::GetTag223Text, &TestRecord::SetTag223Text},
    {224, &TestRecord::GetTag224Text, &TestRecord::SetTag224Text},
    {225, &TestRecord::GetTag225Text, &TestRecord::SetTag225Text},
    {226, &TestRecord::GetOriginalInterpreter, &TestRecord::SetOriginalInterpreter},
    {227, &TestRecord::GetTag227Text, &TestRecord::SetTag227Text},
    {228, &TestRecord::GetTag228Text, &TestRecord::SetTag228Text},
    {229, &TestRecord::GetTag229Text, &TestRecord::SetTag229Text},
    {231, &TestRecord::GetTag231Text, &TestRecord::SetTag231Text},
    {232, &TestRecord::GetTag232Text, &TestRecord::SetTag232Text},
    {240, &TestRecord::GetTag240Text, &TestRecord::SetTag240Text},
    {253, &TestRecord::GetTag253Text, &TestRecord::SetTag253Text},
    {254, &TestRecord::GetTag254Text, &TestRecord::SetTag254Text},
};

// 32-bit number tags, read and written through plain accessors.
struct NumberTag {
  uint8_t tag;
  uint32_t (TestRecord::*get)() const;
  void (TestRecord::*set)(uint32_t);
};
constexpr NumberTag kNumberTags[] = {
    {181, &TestRecord::GetTag181Value, &TestRecord::SetTag181Value},
    {183, &TestRecord::GetTag183Value, &TestRecord::SetTag183Value},
    {187, &TestRecord::GetTag187Value, &TestRecord::SetTag187Value},
    {188, &TestRecord::GetTag188Value, &TestRecord::SetTag188Value},
    {189, &TestRecord::GetMeasureValueB, &TestRecord::SetMeasureValueB},
    {190, &TestRecord::GetMeasureTimeB, &TestRecord::SetMeasureTimeB},
    {192, &TestRecord::GetMeasureExtraB, &TestRecord::SetMeasureExtraB},
    {193, &TestRecord::GetMeasureValueA, &TestRecord::SetMeasureValueA},
    {194, &TestRecord::GetMeasureTimeA, &TestRecord::SetMeasureTimeA},
    {196, &TestRecord::GetMeasureExtraA, &TestRecord::SetMeasureExtraA},
    {197, &TestRecord::GetTag197Value, &TestRecord::SetTag197Value},
    {198, &TestRecord::GetTag198Value, &TestRecord::SetTag198Value},
    {199, &TestRecord::GetTag199Value, &TestRecord::SetTag199Value},
    {211, &TestRecord::GetTag211Value, &TestRecord::SetTag211Value},
    {218, &TestRecord::GetTag218Value, &TestRecord::SetTag218Value},
    {219, &TestRecord::GetTag219Value, &TestRecord::SetTag219Value},
    {220, &TestRecord::GetTag220Value, &TestRecord::SetTag220Value},
    {235, &TestRecord::GetTag235Value, &TestRecord::SetTag235Value},
    {236, &TestRecord::GetTag236Value, &TestRecord::SetTag236Value},
    {237, &TestRecord::GetTag237Value, &TestRecord::SetTag237Value},
    {238, &TestRecord::GetTag238Value, &TestRecord::SetTag238Value},
    {239, &TestRecord::GetHeartRate, &TestRecord::SetHeartRate},
    {241, &TestRecord::GetPairValue1, &TestRecord::SetPairValue1},
    {242, &TestRecord::GetPairTime1, &TestRecord::SetPairTime1},
    {243, &TestRecord::GetPairValue2, &TestRecord::SetPairValue2},
    {244, &TestRecord::GetPairTime2, &TestRecord::SetPairTime2},
    {245, &TestRecord::GetPairValue3, &TestRecord::SetPairValue3},
    {246, &TestRecord::GetPairTime3, &TestRecord::SetPairTime3},
    {247, &TestRecord::GetPairValue4, &TestRecord::SetPairValue4},
    {248, &TestRecord::GetPairTime4, &TestRecord::SetPairTime4},
    {249, &TestRecord::GetPairValue5, &TestRecord::SetPairValue5},
    {250, &TestRecord::GetPairTime5, &TestRecord::SetPairTime5},
    {251, &TestRecord::GetPairValue6, &TestRecord::SetPairValue6},
    {252, &TestRecord::GetPairTime6, &TestRecord::SetPairTime6},
};

template <typename Row, size_t N>
constexpr const Row* RowOf(const Row (&rows)[N], uint8_t tag) {
  for (const Row& row : rows)
    if (row.tag == tag) return &row;
  return nullptr;
}

// Personal-history codes (tags 204 to 208): the highest valid code and the
// message logged for a code beyond it. Written only when from 1 to last.
struct HistoryCode {
  uint8_t tag;
  uint8_t last;
  Message message;
  uint32_t (TestRecord::*get)() const;
  void (TestRecord::*set)(uint32_t);
};
constexpr HistoryCode kHistoryCodes[] = {
    {204, 2, msg::kAmbulatoryCode, &TestRecord::GetAmbulatory, &TestRecord::SetAmbulatory},
    {205, 3, msg::kSmokingCode, &TestRecord::GetSmoking, &TestRecord::SetSmoking},
    {206, 3, msg::kAlcoholCode, &TestRecord::GetAlcohol, &TestRecord::SetAlcohol},
    {207, 2, msg::kFamilyCode, &TestRecord::GetFamily, &TestRecord::SetFamily},
    {208, 4, msg::kPacemakerCode, &TestRecord::GetPacemaker, &TestRecord::SetPacemaker},
};

// Handles one field whose value lies within the data at [p, p + length).
void HandleField(TestRecord* r, EventLog* log, ReadState& s, const ByteReader& d, uint8_t tag, uint32_t p,
                 uint32_t length) {
  if (tag <= 3) {
    HoldText(d, p, length, s.names[tag], kNameHold);
    return;
  }
  if (const TextTag* text = RowOf(kTextTags, tag)) {
    HoldText(d, p, length, s.text, kTextHold);
    (r->*text->set)(s.text);
    return;
  }
  if (const NumberTag* number = RowOf(kNumberTags, tag)) {
    (r->*number->set)(d.U32At(p));
    return;
  }
  if (const HistoryCode* h = RowOf(kHistoryCodes, tag)) {
    const uint8_t code = d.U8At(p);
    if (code <= h->last)
      (r->*h->set)(code);
    else
      LogOem(log, h->message);
    return;
  }
  switch (tag) {
    case 4:
      r->SetAge(static_cast<uint16_t>(FromUnit(kAgeUnits, d.I16At(p), d.U8At(p + 2))));
      return;
    case 5: {
      // A value too short for a date clears the birth date.
      CalendarDate date{};
      GetTagDate(d, p, length, &date);
      r->SetBirthDate(&date);
      return;
    }
    case 6:
      r->SetHeight(static_cast<uint32_t>(FromUnit(kHeightUnits, d.I16At(p), d.U8At(p + 2))));
      return;
    case 7:
      r->SetWeight(static_cast<uint32_t>(FromUnit(kWeightUnits, d.I16At(p), d.U8At(p + 2))));
      return;
    case 8: {
      const uint8_t code = d.U8At(p);
      if (code <= 2) r->SetSex(code);
      else if (code == 9) r->SetSex(0);
      return;
    }
    case 9: {
      const uint8_t code = d.U8At(p);
      r->SetRace(code <= 3 ? code : code == 10 ? 4 : 0);
      return;
    }
    case 10: {
      // The text follows the table, class and drug code bytes; a value too
      // short to hold them carries no text and sets an empty one.
      HoldText(d, p + 3, length > 3 ? length - 3 : 0, s.text, kTextHold);
      r->SetDrugs(s.text);
      return;
    }
    case 11:
      s.pressure = (s.pressure & 0xFFFFu) | static_cast<uint32_t>(static_cast<uint16_t>(d.I16At(p))) << 16;
      r->SetBloodPressure(s.pressure);
      return;
    case 12:
      s.pressure = (s.pressure & 0xFFFF0000u) | static_cast<uint16_t>(d.I16At(p));
      r->SetBloodPressure(s.pressure);
      return;
    case 25:
      // Acquisition date and time go into the record's object in place.
      if (DateTime* dt = r->GetAcquisitionDateTime()) {
        dt->year = static_cast<uint16_t>(d.I16At(p));
        dt->month = d.U8At(p + 2);
        dt->day = d.U8At(p + 3);
      }
      return;
    case 26:
      if (DateTime* dt = r->GetAcquisitionDateTime()) {
        dt->hour = d.U8At(p);
        dt->minute = d.U8At(p + 1);
        dt->second = d.U8At(p + 2);
      }
      return;
    case 27:
      r->SetHighPassFilter(static_cast<uint32_t>(static_cast<int32_t>(d.I16At(p))));
      return;
    case 28:
      r->SetLowPassFilter(static_cast<uint32_t>(static_cast<int32_t>(d.I16At(p))));
      return;
    case 29:
      r->SetFilterBitmap(d.U8At(p));
      return;
    case 191:
    case 195: {
      const uint32_t lead = d.U32At(p);
      if (lead <= 11) (tag == 191 ? r->SetMeasureLeadB(lead) : r->SetMeasureLeadA(lead));
      return;
    }
    case 209:
      GetTagDate(d, p, length, r->GetTag209Date());
      return;
    case 212:
      r->SetTag212Flag(d.U32At(p) != 0 ? 1 : 0);
      return;
    case 213:
      r->SetProcedureType(ProcedureCode(d.U32At(p)));
      return;
    case 230:
      GetTagDate(d, p, length, r->GetOverreadDateTime());
      return;
    case 233: {
      const uint8_t bits = d.U8At(p);
      r->SetExercise(bits & 0x01u, (bits & 0x80u) ? 1 : 0);
      return;
    }
    case 234:
      r->SetTargetHeartRate(static_cast<uint32_t>(static_cast<int32_t>(d.I16At(p))));
      return;
    default:
      break;
  }
  // Standard tags this system does not keep, stepped over silently.
  if ((tag >= 14 && tag <= 19) || tag == 24 || (tag >= 30 && tag <= 35) || tag == 214) return;
  // Tags 36 to 180: reported with the latest text value, then stepped over.
  LogOem(log, msg::kUnkeptTag, s.text);
}

// The tags from 181 on that no table covers; tag 214 and the gaps are not
// written.
void PutSpecialTag(TagWriter& w, const TestRecord& record, uint8_t tag) {
  switch (tag) {
    case 191: return w.U32(tag, InRange(record.GetMeasureLeadB(), 0, 11));
    case 195: return w.U32(tag, InRange(record.GetMeasureLeadA(), 0, 11));
    case 209: return w.Date(tag, record.GetTag209Date());
    case 212: return w.U32(tag, record.GetTag212Flag() != 0 ? 1 : 0);
    case 213: return w.U32(tag, ProcedureCode(record.GetProcedureType()));
    case 230: return w.DateAndTime(tag, record.GetOverreadDateTime());
    case 233: {
      uint8_t exercise = 0;
      if (record.GetExerciseType() == 1) exercise |= 0x01;
      if (record.GetExerciseFlag() != 0) exercise |= 0x80;
      return w.U8(tag, exercise);
    }
    case 234: return w.I16(tag, static_cast<int32_t>(record.GetTargetHeartRate()));
    default: return;
  }
}

// The one walk over the fields of Section 1 data: field(tag, offset, length)
// for each field whose value lies within the data. A length that runs past
// the end is reported with `tooLong`, and the value's first byte is read as
// the next tag. True when the end tag is reached. With stopAtNegative the
// length reads as signed: one of 32768 or more would send the walk back over
// positions already seen, so it stops there and the data counts as
// unterminated.
template <typename Field>
bool WalkFields(const ByteReader& d, EventLog* log, const Message& tooLong, bool stopAtNegative, Field&& field) {
  const auto size = static_cast<uint32_t>(d.size());
  uint32_t p = 0;
  while (p < size) {
    const uint8_t tag = d.U8At(p);
    if (tag == kEndTag) return true;
    // Without room for a length word the field is cut off by the end.
    if (size - p < kFieldHeader) return false;
    const uint16_t length = d.U16At(p + 1);
    p += kFieldHeader;
    if (stopAtNegative && length >= 0x8000) return false;
    if (static_cast<uint64_t>(p) + length > size) {
      LogOem(log, tooLong);
      continue;
    }
    field(tag, p, length);
    p += length;
  }
  return false;
}

}  // namespace

// ------------------------------------------------------------------- write

void ScpEcg::PutDemographics(TestRecord* record) {
  if (record == nullptr) return;
  TagWriter w(*this);
  if (!w) {
    LogOem(log_, msg::kPutDemographics);
    return;
  }
  char text[kPutBuffer];

  w.Text(0, record->GetLastName(text, sizeof text));
  w.Text(1, record->GetFirstName(text, sizeof text));
  w.Text(2, record->GetStoredPatientId(text, sizeof text));
  w.Text(3, record->GetSecondLastName(text, sizeof text));
  w.ValueUnit(4, record->GetAge(), 4);  // days
  w.Date(5, record->GetBirthDate());
  // Hundredths of an inch to millimetres, hundredths of a pound to ounces.
  w.ValueUnit(6, plat::MulDiv(static_cast<int32_t>(record->GetHeight()), 254, 1000), 3);
  w.ValueUnit(7, plat::MulDiv(static_cast<int32_t>(record->GetWeight()), 16, 100), 4);
  w.U8(8, InRange(record->GetSex(), 1, 2));
  const uint32_t race = record->GetRace();
  if (race <= 4) w.U8(9, race == 4 ? 10 : static_cast<uint8_t>(race));
  w.Drugs(record->GetDrugs(text, sizeof text));
  const uint32_t pressure = record->GetBloodPressure();
  if (pressure != 0) {
    w.I16(11, static_cast<int32_t>(pressure >> 16));
    w.I16(12, static_cast<int32_t>(pressure & 0xFFFFu));
  }
  w.Text(13, record->GetDiagnosis(text, sizeof text));
  w.Bytes(14, kDeviceBlock.data(), static_cast<uint32_t>(kDeviceBlock.size()));
  w.Text(20, record->GetReferringPhysician());
  w.Text(21, record->GetConfirmingPhysician());
  w.Text(22, record->GetTechnician());
  w.Text(23, record->GetRoomText(text, sizeof text));
  if (const DateTime* acquired = record->GetAcquisitionDateTime()) {
    const CalendarDate date = acquired->Date();
    w.Date(25, &date);
    const uint8_t time[3] = {acquired->hour, acquired->minute, acquired->second};
    w.Bytes(26, time, sizeof time);
  }
  w.I16(27, static_cast<int32_t>(record->GetHighPassFilter()));
  w.I16(28, static_cast<int32_t>(record->GetLowPassFilter()));
  w.U8(29, static_cast<uint8_t>(record->GetFilterBitmap()));
  w.Bytes(34, kTimeZoneBlock.data(), static_cast<uint32_t>(kTimeZoneBlock.size()));

  // Tags 181 to 254 in ascending order: the plain ones from their tables,
  // the others as each needs.
  for (int t = 181; t <= 254; ++t) {
    const uint8_t tag = static_cast<uint8_t>(t);
    if (const TextTag* text = RowOf(kTextTags, tag)) {
      w.Text(tag, (record->*text->get)());
    } else if (const NumberTag* number = RowOf(kNumberTags, tag)) {
      w.U32(tag, (record->*number->get)());
    } else if (const HistoryCode* history = RowOf(kHistoryCodes, tag)) {
      w.U8(tag, InRange((record->*history->get)(), 1, history->last));
    } else {
      PutSpecialTag(w, *record, tag);
    }
  }
  w.EndTag();

  // A section that did not fit whole stays absent: its 16 reserved bytes
  // remain, and no pointer entry covers them. It is reported like one
  // without room for its header.
  if (w.full()) {
    LogOem(log_, msg::kPutDemographics);
    return;
  }
  w.End(1);
}

// -------------------------------------------------------------------- read

int ScpEcg::GetDemographics(TestRecord* record) {
  const SectionData d(*this, 1, PastEnd::kZeroFill);
  if (!d) {
    LogSystem(log_, msg::kNoSection1);
    return 0;
  }
  if (record == nullptr) return 0;
  auto state = std::make_unique<ReadState>();
  auto field = [&](uint8_t tag, uint32_t p, uint32_t length) {
    try {
      HandleField(record, log_, *state, d, tag, p, length);
    } catch (...) {
      // The field is skipped; the walk goes on behind it.
    }
  };
  const bool ended = WalkFields(d, log_, msg::kDemographicsLength, false, field);
  if (!ended) {
    LogOem(log_, msg::kDemographicsTermination);
    return 0;
  }
  record->SetStoredPatientId(state->names[2]);
  record->SetPatientName(state->names[1], state->names[3], state->names[0]);
  return 1;
}

int ScpEcg::GetProcedureTypeFromFile() {
  const SectionData d(*this, 1, PastEnd::kZeroFill);
  if (!d) {
    LogMemory(log_, msg::kProcedureTypeMemory);
    return 2;
  }
  uint32_t code = 2;
  // A value shorter than 4 bytes at the very end of the data is read with
  // the missing bytes as zero.
  const bool ended = WalkFields(d, log_, msg::kProcedureTypeLength, true, [&](uint8_t tag, uint32_t p, uint32_t) {
    if (tag == 213) code = ProcedureCode(d.U32At(p));
  });
  if (!ended) {
    code = 7;
    LogOem(log_, msg::kProcedureTypeTermination);
  }
  return static_cast<int>(code);
}
