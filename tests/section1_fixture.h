// Helpers shared by the Section 1, save/fetch and format check suites:
// an SCP-ECG file builder that is independent of the library's writer,
// a Section 1 field builder, and a fully filled test record.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "lib/dbclient/testrecord.h"
#include "support/test_util.h"

namespace s1test {

// CRC-CCITT, bit by bit (polynomial 0x1021, initial 0xFFFF, no final XOR).
inline uint16_t Crc(const uint8_t* p, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : crc << 1;
  }
  return crc;
}

inline void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
inline void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}
inline uint16_t Get16(const std::vector<uint8_t>& v, size_t at) {
  return static_cast<uint16_t>(v[at] | v[at + 1] << 8);
}
inline uint32_t Get32(const std::vector<uint8_t>& v, size_t at) {
  return static_cast<uint32_t>(v[at]) | static_cast<uint32_t>(v[at + 1]) << 8 |
         static_cast<uint32_t>(v[at + 2]) << 16 | static_cast<uint32_t>(v[at + 3]) << 24;
}

struct Section {
  uint16_t id;
  std::vector<uint8_t> data;  // without the 16-byte ID header
};

// One pointer-table entry: the id it names, and the section (index into the
// list handed to BuildRaw) it points at, or -1 for an absent section.
struct Pointer {
  uint16_t id;
  int section = -1;
};

inline constexpr uint16_t kStandardIds[33] = {0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,
                                              11,  129, 130, 131, 133, 134, 135, 136, 137, 138, 139,
                                              140, 142, 143, 144, 145, 146, 147, 148, 149, 150, 151};

// A record with the given pointer table (section 0's own entry included as
// the entry whose id is 0) and the sections back to back behind section 0.
// Sections are not padded, so a test controls the exact data length.
inline std::vector<uint8_t> BuildRaw(const std::vector<Pointer>& table, const std::vector<Section>& sections) {
  const uint32_t s0len = 16 + 10 * static_cast<uint32_t>(table.size());
  std::vector<uint8_t> file(6 + s0len, 0);
  std::vector<uint32_t> index(sections.size(), 0);
  for (size_t i = 0; i < sections.size(); ++i) {
    index[i] = static_cast<uint32_t>(file.size()) + 1;
    const uint32_t len = 16 + static_cast<uint32_t>(sections[i].data.size());
    std::vector<uint8_t> s(16, 0);
    Put16(s, 2, sections[i].id);
    Put32(s, 4, len);
    s[8] = 13;
    s[9] = 13;
    std::memcpy(&s[10], "SCPECG", 6);
    s.insert(s.end(), sections[i].data.begin(), sections[i].data.end());
    Put16(s, 0, Crc(s.data() + 2, s.size() - 2));
    file.insert(file.end(), s.begin(), s.end());
  }
  for (size_t k = 0; k < table.size(); ++k) {
    const size_t at = 22 + 10 * k;
    Put16(file, at, table[k].id);
    if (table[k].id == 0 && table[k].section < 0) {
      Put32(file, at + 2, s0len);
      Put32(file, at + 6, 7);
    } else if (table[k].section >= 0) {
      Put32(file, at + 2, 16 + static_cast<uint32_t>(sections[table[k].section].data.size()));
      Put32(file, at + 6, index[table[k].section]);
    }
  }
  Put16(file, 8, 0);
  Put32(file, 10, s0len);
  file[14] = 13;
  file[15] = 13;
  std::memcpy(&file[16], "SCPECG", 6);
  Put16(file, 6, Crc(file.data() + 8, s0len - 2));
  Put32(file, 2, static_cast<uint32_t>(file.size()));
  Put16(file, 0, Crc(file.data() + 2, file.size() - 2));
  return file;
}

// The standard 33-entry table, each id pointing at the section with that id.
inline std::vector<uint8_t> Build(const std::vector<Section>& sections) {
  std::vector<Pointer> table;
  for (uint16_t id : kStandardIds) {
    Pointer p{id, -1};
    for (size_t i = 0; i < sections.size(); ++i)
      if (sections[i].id == id && id != 0) p.section = static_cast<int>(i);
    table.push_back(p);
  }
  return BuildRaw(table, sections);
}

// The sections listed in a file's pointer table, in table order, each with
// its data (the ID header removed).
inline std::vector<Section> Extract(const std::vector<uint8_t>& file) {
  std::vector<Section> out;
  const uint32_t s0len = Get32(file, 10);
  for (uint32_t at = 22; at + 10 <= 6 + s0len; at += 10) {
    const uint16_t id = Get16(file, at);
    const uint32_t len = Get32(file, at + 2);
    const uint32_t index = Get32(file, at + 6);
    if (id == 0 || len < 16 || index == 0 || index - 1 + len > file.size()) continue;
    out.push_back(Section{id, std::vector<uint8_t>(file.begin() + index - 1 + 16, file.begin() + index - 1 + len)});
  }
  return out;
}

// The data of section id in a file, or an empty vector.
inline std::vector<uint8_t> SectionData(const std::vector<uint8_t>& file, uint16_t id) {
  for (auto& s : Extract(file))
    if (s.id == id) return s.data;
  return {};
}

// Section 1 content built field by field.
struct Fields {
  std::vector<uint8_t> v;
  Fields& raw(std::initializer_list<uint8_t> bytes) {
    v.insert(v.end(), bytes);
    return *this;
  }
  Fields& bytes(uint8_t tag, const std::vector<uint8_t>& value) {
    v.push_back(tag);
    v.push_back(static_cast<uint8_t>(value.size()));
    v.push_back(static_cast<uint8_t>(value.size() >> 8));
    v.insert(v.end(), value.begin(), value.end());
    return *this;
  }
  Fields& text(uint8_t tag, const std::string& s) {  // with its NUL
    std::vector<uint8_t> b(s.begin(), s.end());
    b.push_back(0);
    return bytes(tag, b);
  }
  Fields& u8(uint8_t tag, uint8_t x) { return bytes(tag, {x}); }
  Fields& i16(uint8_t tag, int16_t x) {
    return bytes(tag, {static_cast<uint8_t>(x), static_cast<uint8_t>(static_cast<uint16_t>(x) >> 8)});
  }
  Fields& u32(uint8_t tag, uint32_t x) {
    return bytes(tag, {static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x >> 16),
                       static_cast<uint8_t>(x >> 24)});
  }
  Fields& unit(uint8_t tag, int16_t x, uint8_t u) {
    return bytes(tag, {static_cast<uint8_t>(x), static_cast<uint8_t>(static_cast<uint16_t>(x) >> 8), u});
  }
  Fields& date(uint8_t tag, uint16_t y, uint8_t m, uint8_t d) {
    return bytes(tag, {static_cast<uint8_t>(y), static_cast<uint8_t>(y >> 8), m, d});
  }
  Fields& end() { return raw({255, 0, 0}); }
};

// A file holding only section 1 with the given data.
inline std::vector<uint8_t> Section1File(const std::vector<uint8_t>& data) { return Build({{1, data}}); }

// Every Section 1 field of a record set to a typical, non-default value.
inline void FillTypical(TestRecord& r) {
  r.SetPatientName("John", "Doe", "Smith");
  r.SetScrambleKey("K7x");
  r.SetStoredPatientId("ID-0042xZ");
  CalendarDate birth{1970, 17, 5};
  r.SetBirthDate(&birth);
  r.SetHeight(7000);
  r.SetWeight(15453);
  r.SetSex(2);
  r.SetRace(4);
  r.SetDrugs("Aspirin 100mg");
  r.SetBloodPressure((120u << 16) | 80u);
  r.SetDiagnosis("Chest pain on exertion");
  r.SetReferringPhysician("Dr. Referrer");
  r.SetConfirmingPhysician("Dr. Confirmer");
  r.SetTechnician("Tech Anna");
  r.SetRoom(42);
  *r.GetAcquisitionDateTime() = DateTime(2023, 6, 15, 14, 30, 45, 0);
  r.SetHighPassFilter(5);
  r.SetLowPassFilter(150);
  r.SetFilterBitmap(0x0B);
  r.SetTag181Value(0x11223344);
  r.SetTag183Value(183);
  r.SetAccessionNumber("ACC-2023-0001");
  r.SetTag185Text("t185");
  r.SetTag186Text("t186");
  r.SetTag187Value(187);
  r.SetTag188Value(188);
  r.SetMeasureValueB(1890);
  r.SetMeasureTimeB(1900);
  r.SetMeasureLeadB(3);
  r.SetMeasureExtraB(1920);
  r.SetMeasureValueA(1930);
  r.SetMeasureTimeA(1940);
  r.SetMeasureLeadA(9);
  r.SetMeasureExtraA(1960);
  r.SetTag197Value(197);
  r.SetTag198Value(198);
  r.SetTag199Value(199);
  r.SetStreet("1 Main Street");
  r.SetCity("Springfield");
  r.SetState("IL");
  r.SetPostalCode("62701");
  r.SetAmbulatory(1);
  r.SetSmoking(2);
  r.SetAlcohol(3);
  r.SetFamily(2);
  r.SetPacemaker(4);
  CalendarDate d209{2020, 2, 1};
  r.SetTag209Date(&d209);
  r.SetOverreadingPhysician("Dr. Over");
  r.SetTag211Value(65000);
  r.SetTag212Flag(1);
  r.SetProcedureType(4);
  r.SetDeviceName("QMX40 cart");
  r.SetDeviceSerial("SN-12345");
  r.SetDeviceRevision("rev C");
  r.SetTag218Value(218);
  r.SetTag219Value(219);
  r.SetTag220Value(220);
  r.SetTag221Text("t221");
  r.SetTag222Text("t222");
  r.SetTag223Text("t223");
  r.SetTag224Text("t224");
  r.SetTag225Text("t225");
  r.SetOriginalInterpreter("Interp");
  r.SetTag227Text("t227");
  r.SetTag228Text("t228");
  r.SetTag229Text("t229");
  *r.GetOverreadDateTime() = DateTime(2023, 6, 16, 9, 5, 7, 33);
  r.SetTag231Text("t231");
  r.SetTag232Text("t232");
  r.SetExercise(1, 1);
  r.SetTargetHeartRate(150);
  r.SetTag235Value(235000);
  r.SetTag236Value(236000);
  r.SetTag237Value(237000);
  r.SetTag238Value(238000);
  r.SetHeartRate(72);
  r.SetTag240Text("t240 long text");
  r.SetPairValue1(1);
  r.SetPairTime1(2);
  r.SetPairValue2(3);
  r.SetPairTime2(4);
  r.SetPairValue3(5);
  r.SetPairTime3(6);
  r.SetPairValue4(7);
  r.SetPairTime4(8);
  r.SetPairValue5(9);
  r.SetPairTime5(10);
  r.SetPairValue6(0xFFFFFFFFu);
  r.SetPairTime6(12);
  r.SetTag253Text("t253");
  r.SetTag254Text("t254");
}

// Scoped XDG_CONFIG_HOME, so that the registry stand-in lives in a scratch
// folder rather than the user's configuration.
class ScopedConfigHome {
 public:
  ScopedConfigHome() {
    SetEnv("XDG_CONFIG_HOME", dir_.path().c_str());
  }
  ~ScopedConfigHome() { UnsetEnv("XDG_CONFIG_HOME"); }
  // The folder that stands for the registered-key registry key.
  std::string KeyFolder() const { return dir_.path() + "/Veltrona/Miravel 4/PHI"; }

 private:
  TempDir dir_;
};

}  // namespace s1test
