// The test record that the host and this library share.
//
// Host and library both compile this class and pass pointers to it across
// the library boundary, so its layout is an interface: member order, widths
// and signedness are fixed, every member is naturally aligned and nothing is
// packed. The checks at the end of this file pin that layout for 4-byte
// pointers (the workstation's 32-bit build) and 8-byte pointers alike.
//
// Ownership: the record owns every object its pointer members point to and
// deletes them in its destructor. Attach sub-records with the Set/Add
// accessors below; attaching over an occupied slot deletes the old object.
// The record creates only its dates, the audit trail and the rhythm summary.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/natural_layout.h"
#include "lib/timestmp.h"

class AnnotationList;
class AuditTrail;
class BloodPressureData;
class BloodPressureResults;
class ComplexData;
class DocumentBuffer;
class EcgWaveform;
class EpisodeList;
class HolterConfig;
class PacemakerList;
class RhythmMeasurement;
class SpirometryData;
class SpirometryItem;
class TrendRecord;
struct HostBlock;
struct TripleBufferRecord;

// Text accessors of family "copy with change mark": SetX copies with
// SetTextField, GetX returns the record's own NUL-terminated text.
#define SCP_TEXT_FIELD(Name, member)                                                      \
  void Set##Name(const char* text) { SetTextField(member, text, sizeof(member)); }        \
  const char* Get##Name() const { return member; }

// Numbers that mark the record modified when they change.
#define SCP_MARKING_NUMBER(Name, member, Type) \
  void Set##Name(Type value) { StoreMarked(member, value); } \
  Type Get##Name() const { return member; }

// Numbers stored without touching the modified flag.
#define SCP_PLAIN_NUMBER(Name, member, Type)              \
  void Set##Name(Type value) { member = value; }          \
  Type Get##Name() const { return member; }

// The record's members in memory order, each with how the tool's JSON form
// shows it and its type: the one list from which the members are declared,
// their layout is checked for 4- and 8-byte pointers and the JSON form's
// plain fields follow. The JSON column: Skip (not a plain field: host-only
// values and sub-records), Plain (as the type says), Max(n) (a number up to
// n, a text of at most n characters), Hundredths (a time stamp with them),
// Own (a form of its own).
#define SCP_TEST_RECORD_FIELDS(X)                                                                               \
  X(testKey, Skip, uint32_t) X(tag186Text, Plain, char[32]) X(acquisitionDateTime, Plain, DateTime*)            \
  X(tag211Value, Plain, uint32_t) X(patientName, Own, char[30]) X(patientId, Skip, char[16])                    \
  X(storedPatientId, Own, char[16]) X(accessionNumber, Plain, char[32]) X(tag185Text, Plain, char[32])          \
  X(street, Plain, char[64]) X(city, Plain, char[32]) X(state, Plain, char[8]) X(postalCode, Plain, char[12])   \
  X(birthDate, Plain, CalendarDate*) X(tag221Text, Plain, char[32]) X(confirmingPhysician, Plain, char[39])     \
  X(sex, Max(2), uint32_t) X(age, Plain, uint16_t) X(weight, Own, uint32_t) X(height, Own, uint32_t)            \
  X(race, Max(4), uint32_t) X(technician, Plain, char[64]) X(diagnosis, Max(255), char[512])                    \
  X(drugs, Max(255), char[512]) X(tag240Text, Plain, char[512]) X(interpretationText, Own, char[4096])          \
  X(interpretationStatus, Max(2), uint32_t) X(overreadingPhysician, Plain, char[64])                            \
  X(originalDateTime, Plain, DateTime*) X(overreadDateTime, Hundredths, DateTime*)                              \
  X(confirmedDateTime, Plain, DateTime*) X(hostText1, Skip, char[512]) X(hostText2, Skip, char[512])            \
  X(tag229Text, Plain, char[64]) X(room, Max(65535), int32_t) X(smoking, Max(3), uint32_t)                      \
  X(alcohol, Max(3), uint32_t) X(family, Max(2), uint32_t) X(pacemaker, Max(4), uint32_t)                       \
  X(ambulatory, Max(2), uint32_t) X(tag209Date, Plain, CalendarDate*) X(tag225Text, Plain, char[12])            \
  X(metricUnits, Skip, uint8_t) X(bloodPressure, Own, uint32_t) X(heartRate, Plain, uint32_t)                   \
  X(tag187Value, Plain, uint32_t) X(tag188Value, Plain, uint32_t) X(referringPhysician, Plain, char[32])        \
  X(tag222Text, Plain, char[32]) X(tag223Text, Plain, char[64]) X(tag224Text, Plain, char[32])                  \
  X(tag231Text, Plain, char[32]) X(deviceName, Plain, char[64]) X(deviceSerial, Plain, char[64])                \
  X(deviceRevision, Plain, char[64]) X(tag220Value, Plain, uint32_t) X(tag218Value, Plain, uint32_t)            \
  X(tag219Value, Plain, uint32_t) X(highPassFilter, Max(32767), uint32_t)                                       \
  X(lowPassFilter, Max(32767), uint32_t) X(filterBitmap, Max(255), uint32_t) X(filePath, Skip, char[512])       \
  X(originalInterpreter, Plain, char[64]) X(tag232Text, Plain, char[32])                                        \
  X(targetHeartRate, Max(32767), uint32_t) X(exerciseType, Max(1), uint32_t) X(exerciseFlag, Max(1), uint8_t)   \
  X(tag253Text, Plain, char[64]) X(tag254Text, Plain, char[64]) X(hostText3, Skip, char[64])                    \
  X(tag235Value, Plain, uint32_t) X(tag236Value, Plain, uint32_t) X(tag237Value, Plain, uint32_t)               \
  X(tag238Value, Plain, uint32_t) X(pairValue1, Plain, uint32_t) X(pairTime1, Plain, uint32_t)                  \
  X(pairValue2, Plain, uint32_t) X(pairTime2, Plain, uint32_t) X(pairValue3, Plain, uint32_t)                   \
  X(pairTime3, Plain, uint32_t) X(pairValue4, Plain, uint32_t) X(pairTime4, Plain, uint32_t)                    \
  X(pairValue5, Plain, uint32_t) X(pairTime5, Plain, uint32_t) X(pairValue6, Plain, uint32_t)                   \
  X(pairTime6, Plain, uint32_t) X(measureValueA, Plain, uint32_t) X(measureTimeA, Plain, uint32_t)              \
  X(measureLeadA, Max(11), uint32_t) X(measureExtraA, Plain, uint32_t) X(measureValueB, Plain, uint32_t)        \
  X(measureTimeB, Plain, uint32_t) X(measureLeadB, Max(11), uint32_t) X(measureExtraB, Plain, uint32_t)         \
  X(tag199Value, Plain, uint32_t) X(tag198Value, Plain, uint32_t) X(tag197Value, Plain, uint32_t)               \
  X(tag227Text, Plain, char[32]) X(tag228Text, Plain, char[32]) X(tag183Value, Plain, uint32_t)                 \
  X(procedureType, Max(7), uint32_t) X(modified, Skip, uint8_t) X(annotationIndex, Skip, uint32_t)              \
  X(tag212Flag, Max(1), uint8_t) X(hostValue, Skip, uint32_t) X(auditDateTime, Skip, DateTime*)                 \
  X(scrambleKey, Plain, char[48]) X(identityReadable, Skip, uint8_t) X(tag181Value, Plain, uint32_t)            \
  X(hostBlock, Skip, HostBlock*) X(waveform, Skip, EcgWaveform*) X(annotations, Skip, AnnotationList*)          \
  X(pAnnotations, Skip, AnnotationList*) X(pacemakerList, Skip, PacemakerList*) X(episodes, Skip, EpisodeList*) \
  X(complexDataCount, Skip, int32_t) X(complexes, Skip, ComplexData*[TestRecord::kComplexSlots])                \
  X(trends, Skip, TrendRecord*[TestRecord::kTrendSlots]) X(extraTrend, Skip, TrendRecord*)                      \
  X(rhythmCount, Skip, int32_t) X(rhythms, Skip, RhythmMeasurement*[TestRecord::kRhythmSlots])                  \
  X(rhythmSummary, Skip, RhythmMeasurement*) X(tripleCount, Skip, int32_t)                                      \
  X(triples, Skip, TripleBufferRecord*[TestRecord::kTripleSlots]) X(singleTriple, Skip, TripleBufferRecord*)    \
  X(spirometryItems, Skip, SpirometryItem*[TestRecord::kSpirometryItemSlots])                                   \
  X(spirometryItemCount, Skip, int32_t) X(bloodPressureDataRecord, Skip, BloodPressureData*)                    \
  X(bloodPressureResultsRecord, Skip, BloodPressureResults*) X(spirometryDataRecord, Skip, SpirometryData*)     \
  X(auditTrailRecord, Skip, AuditTrail*) X(diaryDocument, Skip, DocumentBuffer*)                                \
  X(reportDocument, Skip, DocumentBuffer*) X(holterConfig, Skip, HolterConfig*)                                 \
  X(holterConfigBlock, Skip, DocumentBuffer*)

// The sub-records held in one owned slot each: accessor name, member, type.
#define SCP_TEST_RECORD_SLOTS(X)                                                                                \
  X(Waveform, waveform, EcgWaveform) X(Annotations, annotations, AnnotationList)                               \
  X(PAnnotations, pAnnotations, AnnotationList) X(PacemakerList, pacemakerList, PacemakerList)                 \
  X(Episodes, episodes, EpisodeList) X(RhythmSummary, rhythmSummary, RhythmMeasurement)                        \
  X(BloodPressureDataRecord, bloodPressureDataRecord, BloodPressureData)                                       \
  X(BloodPressureResultsRecord, bloodPressureResultsRecord, BloodPressureResults)                              \
  X(SpirometryDataRecord, spirometryDataRecord, SpirometryData) X(AuditTrailRecord, auditTrailRecord, AuditTrail) \
  X(DiaryDocument, diaryDocument, DocumentBuffer) X(ReportDocument, reportDocument, DocumentBuffer)             \
  X(HolterConfig, holterConfig, HolterConfig) X(HolterConfigBlock, holterConfigBlock, DocumentBuffer)          \
  X(HostBlock, hostBlock, HostBlock) X(ExtraTrend, extraTrend, TrendRecord)                                    \
  X(SingleTriple, singleTriple, TripleBufferRecord)

// The counted lists: item name, slot array, count accessor name, count, type.
#define SCP_TEST_RECORD_LISTS(X)                                                                      \
  X(Complex, complexes, ComplexDataCount, complexDataCount, ComplexData)                             \
  X(Rhythm, rhythms, RhythmCount, rhythmCount, RhythmMeasurement)                                    \
  X(SpirometryItem, spirometryItems, SpirometryItemCount, spirometryItemCount, SpirometryItem)       \
  X(Triple, triples, TripleCount, tripleCount, TripleBufferRecord)

class TestRecord {
 public:
  static constexpr int32_t kComplexSlots = 256;
  static constexpr int32_t kTrendSlots = 32;
  static constexpr int32_t kRhythmSlots = 256;
  static constexpr int32_t kTripleSlots = 512;
  static constexpr int32_t kSpirometryItemSlots = 256;
  static constexpr uint32_t kInterpretationCapacity = 4096;
  static constexpr uint32_t kLongTextCapacity = 512;
  // Record buffer sizes for a save, by the waveform's samples per lead.
  static constexpr uint32_t kSmallBuffer = 1000000;
  static constexpr uint32_t kLargeBuffer = 128000000;
  static constexpr uint32_t kHugeBuffer = 256000000;

  // Defaults: empty texts, a name of two '^', zero dates, procedure type 1,
  // identity readable, tag 181 value 10, both measurement leads 6 (V1), an
  // empty audit trail and a cleared rhythm summary; the record is unmodified.
  TestRecord();
  ~TestRecord();
  TestRecord(const TestRecord&) = delete;
  TestRecord& operator=(const TestRecord&) = delete;

  // ------------------------------------------------------------ core copy
  // Copies source into field (capacity bytes including the NUL), cutting it
  // to capacity - 1 characters and clearing the rest of the field. Marks the
  // record modified when a byte changes or the source had to be cut. Does
  // nothing for a null source or field or a capacity below 1.
  void SetTextField(char* field, const char* source, int32_t capacity);

  // ------------------------------------------------- texts (family 1)
  SCP_TEXT_FIELD(Tag186Text, tag186Text)
  SCP_TEXT_FIELD(AccessionNumber, accessionNumber)
  SCP_TEXT_FIELD(Tag185Text, tag185Text)
  SCP_TEXT_FIELD(Street, street)
  SCP_TEXT_FIELD(City, city)
  SCP_TEXT_FIELD(State, state)
  SCP_TEXT_FIELD(PostalCode, postalCode)
  SCP_TEXT_FIELD(Tag221Text, tag221Text)
  SCP_TEXT_FIELD(ConfirmingPhysician, confirmingPhysician)
  SCP_TEXT_FIELD(Technician, technician)
  SCP_TEXT_FIELD(Tag240Text, tag240Text)
  SCP_TEXT_FIELD(OverreadingPhysician, overreadingPhysician)
  SCP_TEXT_FIELD(Tag229Text, tag229Text)
  SCP_TEXT_FIELD(Tag225Text, tag225Text)
  SCP_TEXT_FIELD(ReferringPhysician, referringPhysician)
  SCP_TEXT_FIELD(Tag222Text, tag222Text)
  SCP_TEXT_FIELD(Tag223Text, tag223Text)
  SCP_TEXT_FIELD(Tag224Text, tag224Text)
  SCP_TEXT_FIELD(Tag231Text, tag231Text)
  SCP_TEXT_FIELD(DeviceName, deviceName)
  SCP_TEXT_FIELD(DeviceSerial, deviceSerial)
  SCP_TEXT_FIELD(DeviceRevision, deviceRevision)
  SCP_TEXT_FIELD(FilePath, filePath)
  SCP_TEXT_FIELD(OriginalInterpreter, originalInterpreter)
  SCP_TEXT_FIELD(Tag232Text, tag232Text)
  SCP_TEXT_FIELD(Tag253Text, tag253Text)
  SCP_TEXT_FIELD(Tag254Text, tag254Text)
  SCP_TEXT_FIELD(HostText3, hostText3)
  SCP_TEXT_FIELD(Tag227Text, tag227Text)
  SCP_TEXT_FIELD(Tag228Text, tag228Text)
  SCP_TEXT_FIELD(ScrambleKey, scrambleKey)
  // Host texts; the library never touches them after construction.
  SCP_TEXT_FIELD(HostText1, hostText1)
  SCP_TEXT_FIELD(HostText2, hostText2)

  // ----------------------------------------- copy-out texts (family 2)
  void SetDrugs(const char* text) { SetTextField(drugs, text, sizeof drugs); }
  void SetDiagnosis(const char* text) { SetTextField(diagnosis, text, sizeof diagnosis); }
  // Copy min(size, 512) - 1 bytes of the field, whatever they hold, then a
  // NUL. Return buffer (untouched when it is null or size is 0).
  char* GetDrugs(char* buffer, uint32_t size) const;
  char* GetDiagnosis(char* buffer, uint32_t size) const;
  // Copies up to min(size, 4096) - 1 characters and a NUL and returns
  // buffer; returns the field itself when buffer is null or size is 0.
  const char* GetInterpretationText(char* buffer, uint32_t size) const;
  const char* GetDrugs() const { return drugs; }
  const char* GetDiagnosis() const { return diagnosis; }
  const char* GetInterpretationText() const { return interpretationText; }

  // ------------------------------------------ marking numbers (family 3)
  SCP_MARKING_NUMBER(Sex, sex, uint32_t)
  SCP_MARKING_NUMBER(Weight, weight, uint32_t)
  SCP_MARKING_NUMBER(Height, height, uint32_t)
  SCP_MARKING_NUMBER(Race, race, uint32_t)
  SCP_MARKING_NUMBER(Smoking, smoking, uint32_t)
  SCP_MARKING_NUMBER(Alcohol, alcohol, uint32_t)
  SCP_MARKING_NUMBER(Family, family, uint32_t)
  SCP_MARKING_NUMBER(Pacemaker, pacemaker, uint32_t)
  SCP_MARKING_NUMBER(Ambulatory, ambulatory, uint32_t)
  SCP_MARKING_NUMBER(Tag211Value, tag211Value, uint32_t)
  SCP_MARKING_NUMBER(BloodPressure, bloodPressure, uint32_t)
  SCP_MARKING_NUMBER(HeartRate, heartRate, uint32_t)
  SCP_MARKING_NUMBER(Tag187Value, tag187Value, uint32_t)
  SCP_MARKING_NUMBER(Tag188Value, tag188Value, uint32_t)
  SCP_MARKING_NUMBER(Tag212Flag, tag212Flag, uint8_t)
  SCP_MARKING_NUMBER(TargetHeartRate, targetHeartRate, uint32_t)
  SCP_MARKING_NUMBER(Tag235Value, tag235Value, uint32_t)
  SCP_MARKING_NUMBER(Tag236Value, tag236Value, uint32_t)
  SCP_MARKING_NUMBER(Tag237Value, tag237Value, uint32_t)
  SCP_MARKING_NUMBER(Tag238Value, tag238Value, uint32_t)
  // Both together, one change mark when either differs.
  void SetExercise(uint32_t type, uint8_t flag);
  uint32_t GetExerciseType() const { return exerciseType; }
  uint8_t GetExerciseFlag() const { return exerciseFlag; }

  // ------------------------------------ non-marking numbers (family 4)
  SCP_PLAIN_NUMBER(TestKey, testKey, uint32_t)
  SCP_PLAIN_NUMBER(ProcedureType, procedureType, uint32_t)
  SCP_PLAIN_NUMBER(IdentityReadable, identityReadable, uint8_t)
  SCP_PLAIN_NUMBER(Tag181Value, tag181Value, uint32_t)
  SCP_PLAIN_NUMBER(Tag183Value, tag183Value, uint32_t)
  SCP_PLAIN_NUMBER(Tag218Value, tag218Value, uint32_t)
  SCP_PLAIN_NUMBER(Tag219Value, tag219Value, uint32_t)
  SCP_PLAIN_NUMBER(Tag220Value, tag220Value, uint32_t)
  SCP_PLAIN_NUMBER(HighPassFilter, highPassFilter, uint32_t)
  SCP_PLAIN_NUMBER(LowPassFilter, lowPassFilter, uint32_t)
  SCP_PLAIN_NUMBER(FilterBitmap, filterBitmap, uint32_t)
  SCP_PLAIN_NUMBER(PairValue1, pairValue1, uint32_t)
  SCP_PLAIN_NUMBER(PairTime1, pairTime1, uint32_t)
  SCP_PLAIN_NUMBER(PairValue2, pairValue2, uint32_t)
  SCP_PLAIN_NUMBER(PairTime2, pairTime2, uint32_t)
  SCP_PLAIN_NUMBER(PairValue3, pairValue3, uint32_t)
  SCP_PLAIN_NUMBER(PairTime3, pairTime3, uint32_t)
  SCP_PLAIN_NUMBER(PairValue4, pairValue4, uint32_t)
  SCP_PLAIN_NUMBER(PairTime4, pairTime4, uint32_t)
  SCP_PLAIN_NUMBER(PairValue5, pairValue5, uint32_t)
  SCP_PLAIN_NUMBER(PairTime5, pairTime5, uint32_t)
  SCP_PLAIN_NUMBER(PairValue6, pairValue6, uint32_t)
  SCP_PLAIN_NUMBER(PairTime6, pairTime6, uint32_t)
  SCP_PLAIN_NUMBER(MeasureValueA, measureValueA, uint32_t)
  SCP_PLAIN_NUMBER(MeasureTimeA, measureTimeA, uint32_t)
  SCP_PLAIN_NUMBER(MeasureLeadA, measureLeadA, uint32_t)
  SCP_PLAIN_NUMBER(MeasureExtraA, measureExtraA, uint32_t)
  SCP_PLAIN_NUMBER(MeasureValueB, measureValueB, uint32_t)
  SCP_PLAIN_NUMBER(MeasureTimeB, measureTimeB, uint32_t)
  SCP_PLAIN_NUMBER(MeasureLeadB, measureLeadB, uint32_t)
  SCP_PLAIN_NUMBER(MeasureExtraB, measureExtraB, uint32_t)
  SCP_PLAIN_NUMBER(Tag197Value, tag197Value, uint32_t)
  SCP_PLAIN_NUMBER(Tag198Value, tag198Value, uint32_t)
  SCP_PLAIN_NUMBER(Tag199Value, tag199Value, uint32_t)
  // Host-only values: stored and returned, nothing more.
  SCP_PLAIN_NUMBER(MetricUnits, metricUnits, uint8_t)
  SCP_PLAIN_NUMBER(AnnotationIndex, annotationIndex, uint32_t)
  SCP_PLAIN_NUMBER(HostValue, hostValue, uint32_t)

  // ---------------------------------------------------- dates (family 5)
  // The record's own date objects (null only after an allocation failure);
  // callers read and write their bytes in place.
  DateTime* GetAcquisitionDateTime() const { return acquisitionDateTime; }
  CalendarDate* GetBirthDate() const { return birthDate; }
  CalendarDate* GetTag209Date() const { return tag209Date; }
  DateTime* GetOriginalDateTime() const { return originalDateTime; }
  DateTime* GetOverreadDateTime() const { return overreadDateTime; }
  DateTime* GetConfirmedDateTime() const { return confirmedDateTime; }
  // Date copies with change marks; a null source clears (and marks).
  void SetAcquisitionDateTime(const DateTime* value) { CopyDateTime(acquisitionDateTime, value); }
  void SetTag209Date(const CalendarDate* value) { CopyDate(tag209Date, value); }
  // Copies the date and, when both it and the acquisition date are valid,
  // sets the age in days from them without a change mark.
  void SetBirthDate(const CalendarDate* date);
  // 1 when the date exists and its year is above 1800.
  int HasAcquisitionDate() const;
  int HasBirthDate() const;

  // ------------------------------------------- patient identity (family 6)
  // Stores "last^first^secondLast" (a '^' inside a component becomes '_';
  // null components give no characters but keep their separator).
  void SetPatientName(const char* first, const char* secondLast, const char* last);
  // Components of patientName; each copies at most size - 1 characters and
  // a NUL and returns buffer (untouched when null or size is 0).
  char* GetLastName(char* buffer, uint32_t size) const;
  char* GetFirstName(char* buffer, uint32_t size) const;
  char* GetSecondLastName(char* buffer, uint32_t size) const;
  const char* GetPatientName() const { return patientName; }
  // Stores id as the file's (scrambled) identifier and derives the plain
  // one with UnscrambleText. A null id changes nothing.
  void SetStoredPatientId(const char* id);
  char* GetStoredPatientId(char* buffer, uint32_t size) const;
  const char* GetStoredPatientId() const { return storedPatientId; }
  const char* GetPatientId() const { return patientId; }
  // Undoes the host's scrambling in place on length bytes, shifting digits
  // back by the first key byte and upper- and lower-case letters back by the
  // second and third (signed bytes; an empty key shifts by 0).
  void UnscrambleText(char* text, uint32_t length) const;

  // -------------------------------------------------- age and room (family 7)
  // Ignored while a valid birth date is present.
  void SetAge(uint16_t days);
  uint16_t GetAge() const { return age; }
  // 0..65535 is stored; anything else stores 0.
  void SetRoom(int32_t number);
  // Leading blanks and tabs, then decimal digits up to the first other byte.
  void SetRoomText(const char* text);
  // Decimal text of room, cut to size - 1 digits; returns buffer.
  char* GetRoomText(char* buffer, uint32_t size) const;
  int32_t GetRoom() const { return room; }

  // --------------------------------------------- interpretation (family 8)
  void SetOriginalInterpretation(const DateTime* dateTime, const char* text);
  // Leaves the overread time stamp alone when dateTime is null.
  void SetOverreadInterpretation(const DateTime* dateTime, const char* text);
  void SetConfirmedInterpretation(const DateTime* dateTime, const char* text);
  int IsOriginalInterpretation() const { return interpretationStatus == 0 ? 1 : 0; }
  int IsConfirmedInterpretation() const { return interpretationStatus == 2 ? 1 : 0; }
  uint32_t GetInterpretationStatus() const { return interpretationStatus; }

  // ------------------------------------------------- sub-records (family 9)
  // GetX returns the slot's object. SetX attaches: the record takes
  // ownership and deletes whatever the slot held before (unless it is the
  // same object). Null empties the slot.
#define SCP_SLOT_ACCESSORS(Name, member, Type)     \
  Type* Get##Name() const { return member; } \
  void Set##Name(Type* object);
  SCP_TEST_RECORD_SLOTS(SCP_SLOT_ACCESSORS)
#undef SCP_SLOT_ACCESSORS

  TrendRecord* GetTrendAt(int32_t i) const;  // null unless 0 <= i < 32
  // Slot i of 0..31.  False for any other index; the caller keeps the object.
  bool SetTrendAt(int32_t i, TrendRecord* object);

  // Counted lists: GetXAt gives a used slot (null unless 0 <= i < count).
  // AddX appends behind the used slots and raises the count; it returns
  // false when every slot is used (the caller keeps the object). SetXAt
  // replaces a used slot (0 <= i < count), false otherwise.
#define SCP_LIST_ACCESSORS(Name, array, CountName, count, Type) \
  int32_t Get##CountName() const { return count; }              \
  bool Add##Name(Type* object);                                 \
  bool Set##Name##At(int32_t i, Type* object);
  SCP_TEST_RECORD_LISTS(SCP_LIST_ACCESSORS)
#undef SCP_LIST_ACCESSORS
  ComplexData* GetComplexAt(int32_t i) const;
  RhythmMeasurement* GetRhythmAt(int32_t i) const;  // -1: the rhythm summary
  SpirometryItem* GetSpirometryItemAt(int32_t i) const;
  TripleBufferRecord* GetTripleAt(int32_t i) const;

  // ---------------------------------------------------- state (family 10)
  bool IsModified() const { return modified != 0; }
  void ClearModified() { modified = 0; }
  // Bytes of the record buffer a save needs, by the waveform's samples per
  // lead: 256e6 above 32e6 samples, 128e6 above 16e6, with no waveform or
  // at 50,000 samples or more; 1e6 below 50,000.
  uint32_t EstimateRecordBufferSize() const;
  // Fills auditDateTime once from the last audit entry (while its year is
  // still 0) and returns it.
  DateTime* GetAuditDateTime();
  // auditDateTime as it is, without filling it.
  DateTime* GetStoredAuditDateTime() const { return auditDateTime; }

  // ---------------------------------------------------- the shared layout
  // Declared from the field list below, in its order; every member starts
  // zeroed.
#define SCP_DECLARE_FIELD(name, json, ...) SCP_DECLARE_MEMBER(name, __VA_ARGS__)
  SCP_TEST_RECORD_FIELDS(SCP_DECLARE_FIELD)
#undef SCP_DECLARE_FIELD

 private:
  template <typename T>
  void StoreMarked(T& member, T value) {
    if (member != value) {
      member = value;
      modified = 1;
    }
  }
  // Date copies with change marks: each of year, month, day (and hour,
  // minute, second, hundredths) that differs is written and marks; a null
  // source zeroes the half and always marks. A null destination is skipped.
  void CopyDate(CalendarDate* target, const CalendarDate* source);
  void CopyDateTime(DateTime* target, const DateTime* source);
  // Component separatorsToSkip of patientName, as the name getters return it.
  char* CopyNamePart(char* buffer, uint32_t size, int separatorsToSkip) const;
};

#undef SCP_TEXT_FIELD
#undef SCP_MARKING_NUMBER
#undef SCP_PLAIN_NUMBER

// ------------------------------------------------------------ layout checks
SCP_CHECK_LAYOUT(TestRecord, SCP_TEST_RECORD_FIELDS, 14116, 19480)
// Pinned: a change to the field list must be deliberate.
static_assert(TestRecord_layout::kCount == 135);
