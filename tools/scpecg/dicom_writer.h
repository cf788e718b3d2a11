// A read record as a DICOM ECG waveform object, written with DCMTK: the
// 12-Lead ECG object when the recording fits it (at most 13 channels, 16 s,
// 200 to 1000 Hz), the General ECG object otherwise. One multiplex group,
// one channel per stored lead, coded with the SCP-ECG lead codes, samples
// as signed 16-bit values with the record's resolution as sensitivity.
#pragma once

#include <string>

#include "reader/scpreader.h"

namespace scpecg {

// identityRemoved: the caller emptied the patient's identity because it may
// not be shown here; the object then says so (Patient Identity Removed).
bool WriteDicom(const scpreader::Record& record, bool identityRemoved, const std::string& path, std::string* error);

}  // namespace scpecg
