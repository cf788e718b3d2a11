// A read record as EDF+ (BDF+ when a lead needs more than 16 bits), written
// with EDFlib: one signal per stored lead, labelled "ECG " + lead name, in
// microvolts, with digital and physical ranges chosen so that every sample
// is exactly its digital value times the record's resolution.
#pragma once

#include <string>

#include "reader/scpreader.h"

namespace scpecg {

// The demographics go into the EDF+ patient and recording fields as they
// are; the caller empties what must not be shown. Annotations become EDF+
// annotations. False with *error set when the record cannot be written.
bool WriteEdf(const scpreader::Record& record, const std::string& path, std::string* error);

// ".bdf" when a stored lead needs more than 16 bits, else ".edf".
std::string EdfExtension(const scpreader::Record& record);

// The EDF+ label of a lead and back ("ECG V1" and "V1" both give "V1").
std::string EdfLabel(const std::string& leadName);
std::string LeadOfEdfLabel(const std::string& label);

}  // namespace scpecg
