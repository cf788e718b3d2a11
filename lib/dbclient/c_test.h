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
  EcgWaveform* GetWaveform() const { return waveform; }
  AnnotationList* GetAnnotations() const { return annotations; }
  AnnotationList* GetPAnnotations() const { return pAnnotations; }
  PacemakerList* GetPacemakerList() const { return pacemakerList; }
  EpisodeList* GetEpisodes() const { return episodes; }
  int32_t GetComplexDataCount() const { return complexDataCount; }
  ComplexData* GetComplexAt(int32_t i) const;          // null unless 0 <= i < count
  TrendRecord* GetTrendAt(int32_t i) const;            // null unless 0 <= i < 32
  int32_t GetRhythmCount() const { return rhythmCount; }
  RhythmMeasurement* GetRhythmAt(int32_t i) const;     // -1: the rhythm summary
  RhythmMeasurement* GetRhythmSummary() const { return rhythmSummary; }
  int32_t GetSpirometryItemCount() const { return spirometryItemCount; }
  SpirometryItem* GetSpirometryItemAt(int32_t i) const;
  BloodPressureData* GetBloodPressureDataRecord() const { return bloodPressureDataRecord; }
  BloodPressureResults* GetBloodPressureResultsRecord() const { return bloodPressureResultsRecord; }
  SpirometryData* GetSpirometryDataRecord() const { return spirometryDataRecord; }
  AuditTrail* GetAuditTrailRecord() const { return auditTrailRecord; }
  DocumentBuffer* GetDiaryDocument() const { return diaryDocument; }
  DocumentBuffer* GetReportDocument() const { return reportDocument; }
  HolterConfig* GetHolterConfig() const { return holterConfig; }
  DocumentBuffer* GetHolterConfigBlock() const { return holterConfigBlock; }
  HostBlock* GetHostBlock() const { return hostBlock; }
  TrendRecord* GetExtraTrend() const { return extraTrend; }
  int32_t GetTripleCount() const { return tripleCount; }
  TripleBufferRecord* GetTripleAt(int32_t i) const;
  TripleBufferRecord* GetSingleTriple() const { return singleTriple; }

  // Attaching: the record takes ownership and deletes whatever the slot held
  // before (unless it is the same object). Null empties the slot.
  void SetWaveform(EcgWaveform* object);
  void SetAnnotations(AnnotationList* object);
  void SetPAnnotations(AnnotationList* object);
  void SetPacemakerList(PacemakerList* object);
  void SetEpisodes(EpisodeList* object);
  void SetBloodPressureDataRecord(BloodPressureData* object);
  void SetBloodPressureResultsRecord(BloodPressureResults* object);
  void SetSpirometryDataRecord(SpirometryData* object);
  void SetAuditTrailRecord(AuditTrail* object);
  void SetDiaryDocument(DocumentBuffer* object);
  void SetReportDocument(DocumentBuffer* object);
  void SetHolterConfig(HolterConfig* object);
  void SetHolterConfigBlock(DocumentBuffer* object);
  void SetHostBlock(HostBlock* object);
  void SetExtraTrend(TrendRecord* object);
  void SetSingleTriple(TripleBufferRecord* object);
  void SetRhythmSummary(RhythmMeasurement* object);
  // Slot i of 0..31.  False for any other index; the caller keeps the object.
  bool SetTrendAt(int32_t i, TrendRecord* object);
  // Counted lists: Add appends behind the used slots and raises the count;
  // it returns false when every slot is used (the caller keeps the object).
  // SetXAt replaces a used slot (0 <= i < count), false otherwise.
  bool AddComplex(ComplexData* object);
  bool SetComplexAt(int32_t i, ComplexData* object);
  bool AddRhythm(RhythmMeasurement* object);
  bool SetRhythmAt(int32_t i, RhythmMeasurement* object);
  bool AddSpirometryItem(SpirometryItem* object);
  bool SetSpirometryItemAt(int32_t i, SpirometryItem* object);
  bool AddTriple(TripleBufferRecord* object);
  bool SetTripleAt(int32_t i, TripleBufferRecord* object);

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
  uint32_t testKey = 0;
  char tag186Text[32] = {};
  DateTime* acquisitionDateTime = nullptr;
  uint32_t tag211Value = 0;
  char patientName[30] = {};
  char patientId[16] = {};
  char storedPatientId[16] = {};
  char accessionNumber[32] = {};
  char tag185Text[32] = {};
  char street[64] = {};
  char city[32] = {};
  char state[8] = {};
  char postalCode[12] = {};
  CalendarDate* birthDate = nullptr;
  char tag221Text[32] = {};
  char confirmingPhysician[39] = {};
  uint32_t sex = 0;
  uint16_t age = 0;
  uint32_t weight = 0;
  uint32_t height = 0;
  uint32_t race = 0;
  char technician[64] = {};
  char diagnosis[512] = {};
  char drugs[512] = {};
  char tag240Text[512] = {};
  char interpretationText[4096] = {};
  uint32_t interpretationStatus = 0;
  char overreadingPhysician[64] = {};
  DateTime* originalDateTime = nullptr;
  DateTime* overreadDateTime = nullptr;
  DateTime* confirmedDateTime = nullptr;
  char hostText1[512] = {};
  char hostText2[512] = {};
  char tag229Text[64] = {};
  int32_t room = 0;
  uint32_t smoking = 0;
  uint32_t alcohol = 0;
  uint32_t family = 0;
  uint32_t pacemaker = 0;
  uint32_t ambulatory = 0;
  CalendarDate* tag209Date = nullptr;
  char tag225Text[12] = {};
  uint8_t metricUnits = 0;
  uint32_t bloodPressure = 0;
  uint32_t heartRate = 0;
  uint32_t tag187Value = 0;
  uint32_t tag188Value = 0;
  char referringPhysician[32] = {};
  char tag222Text[32] = {};
  char tag223Text[64] = {};
  char tag224Text[32] = {};
  char tag231Text[32] = {};
  char deviceName[64] = {};
  char deviceSerial[64] = {};
  char deviceRevision[64] = {};
  uint32_t tag220Value = 0;
  uint32_t tag218Value = 0;
  uint32_t tag219Value = 0;
  uint32_t highPassFilter = 0;
  uint32_t lowPassFilter = 0;
  uint32_t filterBitmap = 0;
  char filePath[512] = {};
  char originalInterpreter[64] = {};
  char tag232Text[32] = {};
  uint32_t targetHeartRate = 0;
  uint32_t exerciseType = 0;
  uint8_t exerciseFlag = 0;
  char tag253Text[64] = {};
  char tag254Text[64] = {};
  char hostText3[64] = {};
  uint32_t tag235Value = 0;
  uint32_t tag236Value = 0;
  uint32_t tag237Value = 0;
  uint32_t tag238Value = 0;
  uint32_t pairValue1 = 0;
  uint32_t pairTime1 = 0;
  uint32_t pairValue2 = 0;
  uint32_t pairTime2 = 0;
  uint32_t pairValue3 = 0;
  uint32_t pairTime3 = 0;
  uint32_t pairValue4 = 0;
  uint32_t pairTime4 = 0;
  uint32_t pairValue5 = 0;
  uint32_t pairTime5 = 0;
  uint32_t pairValue6 = 0;
  uint32_t pairTime6 = 0;
  uint32_t measureValueA = 0;
  uint32_t measureTimeA = 0;
  uint32_t measureLeadA = 0;
  uint32_t measureExtraA = 0;
  uint32_t measureValueB = 0;
  uint32_t measureTimeB = 0;
  uint32_t measureLeadB = 0;
  uint32_t measureExtraB = 0;
  uint32_t tag199Value = 0;
  uint32_t tag198Value = 0;
  uint32_t tag197Value = 0;
  char tag227Text[32] = {};
  char tag228Text[32] = {};
  uint32_t tag183Value = 0;
  uint32_t procedureType = 0;
  uint8_t modified = 0;
  uint32_t annotationIndex = 0;
  uint8_t tag212Flag = 0;
  uint32_t hostValue = 0;
  DateTime* auditDateTime = nullptr;
  char scrambleKey[48] = {};
  uint8_t identityReadable = 0;
  uint32_t tag181Value = 0;
  HostBlock* hostBlock = nullptr;
  EcgWaveform* waveform = nullptr;
  AnnotationList* annotations = nullptr;
  AnnotationList* pAnnotations = nullptr;
  PacemakerList* pacemakerList = nullptr;
  EpisodeList* episodes = nullptr;
  int32_t complexDataCount = 0;
  ComplexData* complexes[kComplexSlots] = {};
  TrendRecord* trends[kTrendSlots] = {};
  TrendRecord* extraTrend = nullptr;
  int32_t rhythmCount = 0;
  RhythmMeasurement* rhythms[kRhythmSlots] = {};
  RhythmMeasurement* rhythmSummary = nullptr;
  int32_t tripleCount = 0;
  TripleBufferRecord* triples[kTripleSlots] = {};
  TripleBufferRecord* singleTriple = nullptr;
  SpirometryItem* spirometryItems[kSpirometryItemSlots] = {};
  int32_t spirometryItemCount = 0;
  BloodPressureData* bloodPressureDataRecord = nullptr;
  BloodPressureResults* bloodPressureResultsRecord = nullptr;
  SpirometryData* spirometryDataRecord = nullptr;
  AuditTrail* auditTrailRecord = nullptr;
  DocumentBuffer* diaryDocument = nullptr;
  DocumentBuffer* reportDocument = nullptr;
  HolterConfig* holterConfig = nullptr;
  DocumentBuffer* holterConfigBlock = nullptr;

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
  void CopyNamePart(char* buffer, uint32_t size, int separatorsToSkip) const;
};

#undef SCP_TEXT_FIELD
#undef SCP_MARKING_NUMBER
#undef SCP_PLAIN_NUMBER

// ------------------------------------------------------------ layout checks
// The field list in memory order as (size, alignment), for a pointer width.
// The X-list below is the single source of both the expected offsets and
// the checks against the real class.
#define SCP_TEST_RECORD_FIELDS(X, P)                                                         \
  X(testKey, U32()) X(tag186Text, Text(32)) X(acquisitionDateTime, Ptr(P))                  \
  X(tag211Value, U32()) X(patientName, Text(30)) X(patientId, Text(16))                     \
  X(storedPatientId, Text(16)) X(accessionNumber, Text(32)) X(tag185Text, Text(32))         \
  X(street, Text(64)) X(city, Text(32)) X(state, Text(8)) X(postalCode, Text(12))          \
  X(birthDate, Ptr(P)) X(tag221Text, Text(32)) X(confirmingPhysician, Text(39))             \
  X(sex, U32()) X(age, U16()) X(weight, U32()) X(height, U32()) X(race, U32())             \
  X(technician, Text(64)) X(diagnosis, Text(512)) X(drugs, Text(512))                       \
  X(tag240Text, Text(512)) X(interpretationText, Text(4096)) X(interpretationStatus, U32()) \
  X(overreadingPhysician, Text(64)) X(originalDateTime, Ptr(P)) X(overreadDateTime, Ptr(P)) \
  X(confirmedDateTime, Ptr(P)) X(hostText1, Text(512)) X(hostText2, Text(512))              \
  X(tag229Text, Text(64)) X(room, U32()) X(smoking, U32()) X(alcohol, U32())               \
  X(family, U32()) X(pacemaker, U32()) X(ambulatory, U32()) X(tag209Date, Ptr(P))          \
  X(tag225Text, Text(12)) X(metricUnits, U8()) X(bloodPressure, U32()) X(heartRate, U32()) \
  X(tag187Value, U32()) X(tag188Value, U32()) X(referringPhysician, Text(32))               \
  X(tag222Text, Text(32)) X(tag223Text, Text(64)) X(tag224Text, Text(32))                   \
  X(tag231Text, Text(32)) X(deviceName, Text(64)) X(deviceSerial, Text(64))                 \
  X(deviceRevision, Text(64)) X(tag220Value, U32()) X(tag218Value, U32())                   \
  X(tag219Value, U32()) X(highPassFilter, U32()) X(lowPassFilter, U32())                    \
  X(filterBitmap, U32()) X(filePath, Text(512)) X(originalInterpreter, Text(64))            \
  X(tag232Text, Text(32)) X(targetHeartRate, U32()) X(exerciseType, U32())                  \
  X(exerciseFlag, U8()) X(tag253Text, Text(64)) X(tag254Text, Text(64))                     \
  X(hostText3, Text(64)) X(tag235Value, U32()) X(tag236Value, U32())                        \
  X(tag237Value, U32()) X(tag238Value, U32()) X(pairValue1, U32()) X(pairTime1, U32())     \
  X(pairValue2, U32()) X(pairTime2, U32()) X(pairValue3, U32()) X(pairTime3, U32())        \
  X(pairValue4, U32()) X(pairTime4, U32()) X(pairValue5, U32()) X(pairTime5, U32())        \
  X(pairValue6, U32()) X(pairTime6, U32()) X(measureValueA, U32())                          \
  X(measureTimeA, U32()) X(measureLeadA, U32()) X(measureExtraA, U32())                     \
  X(measureValueB, U32()) X(measureTimeB, U32()) X(measureLeadB, U32())                     \
  X(measureExtraB, U32()) X(tag199Value, U32()) X(tag198Value, U32())                       \
  X(tag197Value, U32()) X(tag227Text, Text(32)) X(tag228Text, Text(32))                     \
  X(tag183Value, U32()) X(procedureType, U32()) X(modified, U8())                           \
  X(annotationIndex, U32()) X(tag212Flag, U8()) X(hostValue, U32())                         \
  X(auditDateTime, Ptr(P)) X(scrambleKey, Text(48)) X(identityReadable, U8())               \
  X(tag181Value, U32()) X(hostBlock, Ptr(P)) X(waveform, Ptr(P)) X(annotations, Ptr(P))     \
  X(pAnnotations, Ptr(P)) X(pacemakerList, Ptr(P)) X(episodes, Ptr(P))                     \
  X(complexDataCount, U32()) X(complexes, Array(Ptr(P), 256))                               \
  X(trends, Array(Ptr(P), 32)) X(extraTrend, Ptr(P)) X(rhythmCount, U32())                 \
  X(rhythms, Array(Ptr(P), 256)) X(rhythmSummary, Ptr(P)) X(tripleCount, U32())            \
  X(triples, Array(Ptr(P), 512)) X(singleTriple, Ptr(P))                                    \
  X(spirometryItems, Array(Ptr(P), 256)) X(spirometryItemCount, U32())                      \
  X(bloodPressureDataRecord, Ptr(P)) X(bloodPressureResultsRecord, Ptr(P))                  \
  X(spirometryDataRecord, Ptr(P)) X(auditTrailRecord, Ptr(P)) X(diaryDocument, Ptr(P))      \
  X(reportDocument, Ptr(P)) X(holterConfig, Ptr(P)) X(holterConfigBlock, Ptr(P))

namespace test_record_layout {
using namespace natural_layout;
constexpr Field Text(std::size_t n) { return Array(U8(), n); }

#define SCP_FIELD_INDEX(name, field) k_##name,
enum FieldIndex : std::size_t { SCP_TEST_RECORD_FIELDS(SCP_FIELD_INDEX, 0) kFieldCount };
#undef SCP_FIELD_INDEX

#define SCP_FIELD_ENTRY(name, field) field,
constexpr std::array<std::size_t, kFieldCount + 1> ForPointerSize(std::size_t P) {
  return Offsets(std::array<Field, kFieldCount>{SCP_TEST_RECORD_FIELDS(SCP_FIELD_ENTRY, P)});
}
#undef SCP_FIELD_ENTRY

constexpr auto k32 = ForPointerSize(4);
constexpr auto k64 = ForPointerSize(8);
constexpr auto kNative = ForPointerSize(sizeof(void*));

// Pinned totals: a change to the field list must be deliberate.
static_assert(kFieldCount == 135);
static_assert(k32[kFieldCount] == 14116);
static_assert(k64[kFieldCount] == 19480);
}  // namespace test_record_layout

#define SCP_CHECK_FIELD(name, field)                                            \
  static_assert(offsetof(TestRecord, name) == test_record_layout::kNative[test_record_layout::k_##name], \
                "TestRecord::" #name " moved");
SCP_TEST_RECORD_FIELDS(SCP_CHECK_FIELD, sizeof(void*))
#undef SCP_CHECK_FIELD
static_assert(sizeof(TestRecord) == test_record_layout::kNative[test_record_layout::kFieldCount]);
static_assert(sizeof(TestRecord) == (sizeof(void*) == 4 ? test_record_layout::k32 : test_record_layout::k64)
                                        [test_record_layout::kFieldCount]);
