#include "lib/dbclient/c_test.h"

#include <charconv>
#include <cstring>
#include <new>

#include "lib/dbclient/audit.h"
#include "lib/dbclient/bloodpressure.h"
#include "lib/dbclient/complex.h"
#include "lib/dbclient/document.h"
#include "lib/dbclient/episodes.h"
#include "lib/dbclient/holtercfg.h"
#include "lib/dbclient/hostblock.h"
#include "lib/dbclient/pacemaker.h"
#include "lib/dbclient/rhythmmeas.h"
#include "lib/dbclient/spirometry.h"
#include "lib/dbclient/trend.h"
#include "lib/dbclient/waveform.h"
#include "lib/system.h"

namespace {

// Replaces an owned object, deleting the old one unless it is the same.
template <typename T>
void Attach(T*& slot, T* object) {
  if (slot == object) return;
  delete slot;
  slot = object;
}

template <typename T>
void Free(T*& slot) {
  delete slot;
  slot = nullptr;
}

template <typename... T>
void FreeAll(T*&... slots) {
  (Free(slots), ...);
}

// Frees every slot unless all of them hold an object.
template <typename... T>
void AllOrNone(T*&... slots) {
  if (!(... && (slots != nullptr))) FreeAll(slots...);
}

// Counted list helpers: used slots are 0..count-1. A count written directly
// by the host is clamped so no index leaves the array.
int32_t UsedSlots(int32_t count, int32_t slots) {
  if (count < 0) return 0;
  return count > slots ? slots : count;
}

template <typename T, int32_t N>
T* SlotAt(T* const (&array)[N], int32_t count, int32_t i) {
  if (i < 0 || i >= UsedSlots(count, N)) return nullptr;
  return array[i];
}

template <typename T, int32_t N>
bool Append(T* (&array)[N], int32_t& count, T* object) {
  const int32_t used = UsedSlots(count, N);
  if (used >= N) return false;
  Attach(array[used], object);
  count = used + 1;
  return true;
}

template <typename T, int32_t N>
bool Replace(T* (&array)[N], int32_t count, int32_t i, T* object) {
  if (i < 0 || i >= UsedSlots(count, N)) return false;
  Attach(array[i], object);
  return true;
}

// Deletes the used slots from the last to the first, counting down.
template <typename T, int32_t N>
void FreeCountedDown(T* (&array)[N], int32_t& count) {
  for (int32_t i = UsedSlots(count, N) - 1; i >= 0; --i) {
    Free(array[i]);
    count = i;
  }
  count = 0;
}

// Copies at most size - 1 bytes of text up to stop (or NUL) and a NUL. Never
// reads more than available bytes, in case the host left a field unterminated.
void CopyUntil(char* buffer, uint32_t size, const char* text, size_t available, char stop) {
  uint32_t n = 0;
  while (n + 1 < size && n < available && text[n] != '\0' && text[n] != stop) {
    buffer[n] = text[n];
    ++n;
  }
  buffer[n] = '\0';
}

// Copies min(size, 512) - 1 bytes of a long text field, whatever they hold,
// then a NUL.
char* CopyLongText(char* buffer, uint32_t size, const char* field) {
  if (buffer == nullptr || size == 0) return buffer;
  const uint32_t n = (size < TestRecord::kLongTextCapacity ? size : TestRecord::kLongTextCapacity) - 1;
  std::memcpy(buffer, field, n);
  buffer[n] = '\0';
  return buffer;
}

// Copies a date over another and tells whether any field changed: the date
// types have no padding (their layouts are pinned), so their bytes are their
// fields.
template <typename D>
bool CopyChanged(D* target, const D& value) {
  const bool changed = std::memcmp(target, &value, sizeof value) != 0;
  *target = value;
  return changed;
}

}  // namespace

// ------------------------------------------------------------------ life
TestRecord::TestRecord() {
  // Every member starts zeroed (the field list declares it so); only the
  // defaults that are not zero are set here.
  acquisitionDateTime = new (std::nothrow) DateTime(0, 0, 0);
  birthDate = new (std::nothrow) CalendarDate();
  tag209Date = new (std::nothrow) CalendarDate();
  originalDateTime = new (std::nothrow) DateTime(0, 0, 0);
  overreadDateTime = new (std::nothrow) DateTime(0, 0, 0);
  confirmedDateTime = new (std::nothrow) DateTime(0, 0, 0);
  auditDateTime = new (std::nothrow) DateTime(0, 0, 0);
  auditTrailRecord = new (std::nothrow) AuditTrail();
  // Dates and the audit trail: all or none, so accessors see a consistent
  // record after an allocation failure.
  AllOrNone(acquisitionDateTime, birthDate, tag209Date, originalDateTime, overreadDateTime, confirmedDateTime,
            auditDateTime, auditTrailRecord);
  rhythmSummary = new (std::nothrow) RhythmMeasurement();

  SetPatientName("", "", "");
  measureLeadA = 6;  // V1
  measureLeadB = 6;
  procedureType = 1;
  identityReadable = 1;
  tag181Value = 10;
  // Last, so that a new record reads as unmodified.
  modified = 0;
}

TestRecord::~TestRecord() {
  FreeAll(hostBlock, tag209Date, acquisitionDateTime, birthDate, originalDateTime, overreadDateTime,
          confirmedDateTime, auditDateTime, auditTrailRecord, spirometryDataRecord, bloodPressureResultsRecord,
          bloodPressureDataRecord);
  // Every slot, whatever the count says.
  for (auto& item : spirometryItems) Free(item);
  Free(singleTriple);
  FreeCountedDown(triples, tripleCount);
  Free(rhythmSummary);
  FreeCountedDown(rhythms, rhythmCount);
  Free(extraTrend);
  for (auto& trend : trends) Free(trend);
  FreeCountedDown(complexes, complexDataCount);
  FreeAll(episodes, pacemakerList, annotations, pAnnotations, waveform, diaryDocument, reportDocument, holterConfig,
          holterConfigBlock);
}

// ------------------------------------------------------------------ texts
void TestRecord::SetTextField(char* field, const char* source, int32_t capacity) {
  if (source == nullptr || field == nullptr || capacity < 1) return;
  int32_t i = 0;
  for (; i < capacity - 1 && source[i] != '\0'; ++i) {
    if (field[i] != source[i]) {
      field[i] = source[i];
      modified = 1;
    }
  }
  // The old text was longer, or the source did not fit.
  if (field[i] != source[i]) modified = 1;
  for (; i < capacity; ++i) field[i] = '\0';
}

char* TestRecord::GetDrugs(char* buffer, uint32_t size) const { return CopyLongText(buffer, size, drugs); }
char* TestRecord::GetDiagnosis(char* buffer, uint32_t size) const { return CopyLongText(buffer, size, diagnosis); }

const char* TestRecord::GetInterpretationText(char* buffer, uint32_t size) const {
  if (buffer == nullptr || size == 0) return interpretationText;
  CopyUntil(buffer, size < kInterpretationCapacity ? size : kInterpretationCapacity,
            interpretationText, sizeof interpretationText, '\0');
  return buffer;
}

// ---------------------------------------------------------------- numbers
void TestRecord::SetExercise(uint32_t type, uint8_t flag) {
  if (exerciseType != type || exerciseFlag != flag) {
    exerciseType = type;
    exerciseFlag = flag;
    modified = 1;
  }
}

// ------------------------------------------------------------------ dates
void TestRecord::CopyDate(CalendarDate* target, const CalendarDate* source) {
  if (target == nullptr) return;
  if (CopyChanged(target, source != nullptr ? *source : CalendarDate{}) || source == nullptr) modified = 1;
}

void TestRecord::CopyDateTime(DateTime* target, const DateTime* source) {
  if (target == nullptr) return;
  if (CopyChanged(target, source != nullptr ? *source : DateTime(0, 0, 0)) || source == nullptr) modified = 1;
}

int TestRecord::HasAcquisitionDate() const {
  return acquisitionDateTime != nullptr && acquisitionDateTime->year > 1800 ? 1 : 0;
}

int TestRecord::HasBirthDate() const {
  return birthDate != nullptr && birthDate->year > 1800 ? 1 : 0;
}

void TestRecord::SetBirthDate(const CalendarDate* date) {
  CopyDate(birthDate, date);
  if (!HasAcquisitionDate() || !HasBirthDate()) return;
  DateTime birth(0, 0, 0);
  birth.SetDate(*birthDate);
  // The record's own acquisition date takes part, as the host expects: a
  // month of 0 in it is raised to 1 by the count.
  const int32_t days = -birth.DayDifference(*acquisitionDateTime);
  // Not a change of the host's data: the age follows from the two dates.
  // The difference goes into the 16-bit field as it is, wrapping past
  // 65535 days as the host's own records do.
  age = days < 0 ? static_cast<uint16_t>(0) : static_cast<uint16_t>(days);
}

// --------------------------------------------------------------- identity
void TestRecord::SetPatientName(const char* first, const char* secondLast, const char* last) {
  char text[256];
  uint32_t pos = 0;
  // Room for 255 characters and the closing NUL; anything beyond is dropped.
  auto put = [&](char c) {
    if (pos < sizeof text - 1) text[pos++] = c;
  };
  auto component = [&](const char* s) {
    if (s == nullptr) return;
    for (; *s != '\0'; ++s) put(*s == '^' ? '_' : *s);
  };
  component(last);
  put('^');
  component(first);
  put('^');
  component(secondLast);
  text[pos] = '\0';
  SetTextField(patientName, text, sizeof patientName);
}

char* TestRecord::CopyNamePart(char* buffer, uint32_t size, int separatorsToSkip) const {
  if (buffer == nullptr || size == 0) return buffer;
  const char* p = patientName;
  const char* end = patientName + sizeof patientName;
  for (int k = 0; k < separatorsToSkip; ++k) {
    while (p < end && *p != '\0' && *p != '^') ++p;
    if (p < end && *p == '^') ++p;
  }
  CopyUntil(buffer, size, p, static_cast<size_t>(end - p), '^');
  return buffer;
}

char* TestRecord::GetLastName(char* buffer, uint32_t size) const { return CopyNamePart(buffer, size, 0); }
char* TestRecord::GetFirstName(char* buffer, uint32_t size) const { return CopyNamePart(buffer, size, 1); }
char* TestRecord::GetSecondLastName(char* buffer, uint32_t size) const { return CopyNamePart(buffer, size, 2); }

void TestRecord::SetStoredPatientId(const char* id) {
  // Unscrambling again without a fresh copy would shift the plain text twice.
  if (id == nullptr) return;
  SetTextField(patientId, id, sizeof patientId);
  SetTextField(storedPatientId, id, sizeof storedPatientId);
  UnscrambleText(patientId, sizeof patientId);
}

char* TestRecord::GetStoredPatientId(char* buffer, uint32_t size) const {
  if (buffer == nullptr || size == 0) return buffer;
  CopyUntil(buffer, size, storedPatientId, sizeof storedPatientId, '\0');
  return buffer;
}

void TestRecord::UnscrambleText(char* text, uint32_t length) const {
  if (text == nullptr) return;
  int32_t k0 = 0, k1 = 0, k2 = 0;
  if (scrambleKey[0] != '\0') {
    k0 = static_cast<int8_t>(scrambleKey[0]);
    k1 = static_cast<int8_t>(scrambleKey[1]);
    k2 = static_cast<int8_t>(scrambleKey[2]);
  }
  for (uint32_t i = 0; i < length; ++i) {
    const int32_t c = static_cast<uint8_t>(text[i]);
    if (c >= '0' && c <= '9') {
      text[i] = static_cast<char>('0' + ((c - '0') + 200 - k0) % 10);
    } else if (c >= 'A' && c <= 'Z') {
      text[i] = static_cast<char>('A' + ((c - 'A') + 260 - k1) % 26);
    } else if (c >= 'a' && c <= 'z') {
      text[i] = static_cast<char>('a' + ((c - 'a') + 260 - k2) % 26);
    }
  }
}

// ------------------------------------------------------------ age and room
void TestRecord::SetAge(uint16_t days) {
  if (HasBirthDate()) return;
  StoreMarked(age, days);
}

void TestRecord::SetRoom(int32_t number) {
  StoreMarked(room, number >= 0 && number <= 65535 ? number : 0);
}

void TestRecord::SetRoomText(const char* text) {
  if (text == nullptr) {
    SetRoom(0);
    return;
  }
  while (*text == ' ' || *text == '\t') ++text;
  // Any value past 65535 is out of range anyway; stop growing there so a long
  // run of digits cannot overflow.
  int32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value <= 65535) value = value * 10 + (*text - '0');
  }
  SetRoom(value);
}

char* TestRecord::GetRoomText(char* buffer, uint32_t size) const {
  if (buffer == nullptr || size == 0) return buffer;
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof digits, room);
  uint32_t n = static_cast<uint32_t>(result.ptr - digits);
  if (n > size - 1) n = size - 1;
  std::memcpy(buffer, digits, n);
  buffer[n] = '\0';
  return buffer;
}

// --------------------------------------------------------- interpretation
void TestRecord::SetOriginalInterpretation(const DateTime* dateTime, const char* text) {
  StoreMarked(interpretationStatus, 0u);
  CopyDateTime(originalDateTime, dateTime);
  SetTextField(interpretationText, text, sizeof interpretationText);
}

void TestRecord::SetOverreadInterpretation(const DateTime* dateTime, const char* text) {
  StoreMarked(interpretationStatus, 1u);
  if (dateTime != nullptr) CopyDateTime(overreadDateTime, dateTime);
  SetTextField(interpretationText, text, sizeof interpretationText);
}

void TestRecord::SetConfirmedInterpretation(const DateTime* dateTime, const char* text) {
  StoreMarked(interpretationStatus, 2u);
  CopyDateTime(confirmedDateTime, dateTime);
  SetTextField(interpretationText, text, sizeof interpretationText);
}

// ------------------------------------------------------------ sub-records
ComplexData* TestRecord::GetComplexAt(int32_t i) const {
  return SlotAt(complexes, complexDataCount, i);
}

TrendRecord* TestRecord::GetTrendAt(int32_t i) const {
  return i >= 0 && i < kTrendSlots ? trends[i] : nullptr;
}

RhythmMeasurement* TestRecord::GetRhythmAt(int32_t i) const {
  if (i == -1) return rhythmSummary;
  return SlotAt(rhythms, rhythmCount, i);
}

SpirometryItem* TestRecord::GetSpirometryItemAt(int32_t i) const {
  return SlotAt(spirometryItems, spirometryItemCount, i);
}

TripleBufferRecord* TestRecord::GetTripleAt(int32_t i) const {
  return SlotAt(triples, tripleCount, i);
}

#define SCP_SLOT_ATTACH(Name, member, Type) \
  void TestRecord::Set##Name(Type* object) { Attach(member, object); }
SCP_TEST_RECORD_SLOTS(SCP_SLOT_ATTACH)
#undef SCP_SLOT_ATTACH

bool TestRecord::SetTrendAt(int32_t i, TrendRecord* object) {
  if (i < 0 || i >= kTrendSlots) return false;
  Attach(trends[i], object);
  return true;
}

#define SCP_LIST_ATTACH(Name, array, CountName, count, Type)                                  \
  bool TestRecord::Add##Name(Type* object) { return Append(array, count, object); }           \
  bool TestRecord::Set##Name##At(int32_t i, Type* object) { return Replace(array, count, i, object); }
SCP_TEST_RECORD_LISTS(SCP_LIST_ATTACH)
#undef SCP_LIST_ATTACH

// ------------------------------------------------------------------ state
uint32_t TestRecord::EstimateRecordBufferSize() const {
  if (waveform == nullptr) return kLargeBuffer;
  const uint32_t samples = waveform->SamplesPerLead();
  if (samples > 32000000) return kHugeBuffer;
  if (samples > 16000000) return kLargeBuffer;
  if (samples >= 50000) return kLargeBuffer;
  return kSmallBuffer;
}

DateTime* TestRecord::GetAuditDateTime() {
  if (auditDateTime == nullptr || auditDateTime->year != 0 || auditTrailRecord == nullptr)
    return auditDateTime;
  const AuditEntry* last = auditTrailRecord->GetLastEntry();
  if (last == nullptr) return auditDateTime;
  auditDateTime->year = static_cast<uint16_t>(last->year);
  auditDateTime->month = static_cast<uint8_t>(last->month);
  auditDateTime->day = static_cast<uint8_t>(last->day);
  auditDateTime->hour = static_cast<uint8_t>(last->hour);
  auditDateTime->minute = static_cast<uint8_t>(last->minute);
  // The entry keeps seconds and milliseconds as one count within the
  // minute; split it so both fields stay in their ranges (0..59, 0..99).
  const int32_t ms = last->milliseconds;
  auditDateTime->second = static_cast<uint8_t>(ms / 1000);
  auditDateTime->hundredths = static_cast<uint8_t>((ms % 1000) / 10);
  return auditDateTime;
}
