#include <cmath>
#include <string>

#include "lib/byte_cursor.h"
#include "reader/record_parts.h"

namespace scpreader {

namespace {

// A text up to its first NUL.
std::string Text(std::span<const uint8_t> v) {
  std::string s(v.begin(), v.end());
  const size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  return s;
}

}  // namespace

void ReadDemographics(std::span<const uint8_t> data, Record* record) {
  Demographics& d = record->demographics;
  ByteReader c(data);
  while (c.remaining() >= 3) {
    const uint8_t tag = c.U8();
    const uint16_t len = c.U16();
    if (tag == 255) break;
    if (c.remaining() < len) {
      record->problems.push_back({1, -1, "tag " + std::to_string(tag) + " runs past the end of the section"});
      break;
    }
    std::span<const uint8_t> v = c.Bytes(len);
    ByteReader t(v);
    // Dates: year u16, month u8, day u8.
    auto date = [&t](int* year, int* month, int* day) {
      *year = t.U16();
      *month = t.U8();
      *day = t.U8();
    };
    switch (tag) {
      case 0: d.lastName = Text(v); break;
      case 1: d.firstName = Text(v); break;
      case 2: d.patientId = Text(v); break;
      case 3: d.secondLastName = Text(v); break;
      case 5: date(&d.birthYear, &d.birthMonth, &d.birthDay); break;
      case 6: {
        const uint16_t h = t.U16();
        const uint8_t unit = t.U8();  // 1 cm, 2 inch, 3 mm
        d.heightCm = unit == 2 ? static_cast<int>(std::lround(h * 2.54)) : unit == 3 ? (h + 5) / 10 : h;
        break;
      }
      case 7: {
        const uint16_t w = t.U16();
        const uint8_t unit = t.U8();  // 1 kg, 2 g, 3 pound, 4 ounce
        d.weightKg = unit == 2   ? (w + 500) / 1000
                     : unit == 3 ? static_cast<int>(std::lround(w * 0.45359237))
                     : unit == 4 ? static_cast<int>(std::lround(w * 0.028349523))
                                 : w;
        break;
      }
      case 8: d.sex = t.U8(); break;
      case 14:
        // Acquiring device: byte 14 is the protocol revision it writes.
        if (len > 14 && v[14] != 0) record->protocolVersion = v[14];
        if (len > 35) {
          // Four NUL-ended strings follow the fixed part; the last one
          // (after the analysing program, serial number and software) is
          // the manufacturer's name. Take the model from bytes 8 to 13.
          d.device = Text(v.subspan(8, 6));
        }
        break;
      case 16: d.institution = Text(v); break;
      case 18: d.department = Text(v); break;
      case 20: d.referringPhysician = Text(v); break;
      case 22: d.technician = Text(v); break;
      case 25: date(&d.acqYear, &d.acqMonth, &d.acqDay); break;
      case 26:
        d.acqHour = t.U8();
        d.acqMinute = t.U8();
        d.acqSecond = t.U8();
        break;
      case 27: d.highPassHz = t.U16() / 100.0; break;  // in 0.01 Hz
      case 28: d.lowPassHz = t.U16(); break;
      case 29: d.filterBitmap = t.U8(); break;
      case 30: d.freeText.push_back(Text(v)); break;
      default: break;
    }
  }
}

}  // namespace scpreader
