#include "tools/scpecg/edf_writer.h"

#include <edflib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "tools/scpecg/convert_leads.h"

namespace scpecg {

namespace {

constexpr int kEdfDigitalMax = 32767;
constexpr int kBdfDigitalMax = 8388607;
// A header number field holds 8 characters.
constexpr size_t kHeaderNumber = 8;
// EDFlib keeps datarecords between 1 ms and 60 s, in steps of 10 us.
constexpr int64_t kMaxRecordUs = 60'000'000;

// The digital extreme D of a lead and its physical value in microvolts, as
// the 8-character header field shows it. The range is -D..D and -P..P, so
// the gain is P / D. Exact where possible: D is the smallest value at or
// above the lead's largest magnitude for which P = D * resolution fits the
// field with its sign. Otherwise (4.88 uV and a full 16-bit lead, say) D is
// the largest magnitude and P is rounded to fit; the gain is then off by
// less than a millionth, far below one quantum at any sample.
struct Extreme {
  int digital = 0;  // 0: no physical value fits the field
  std::string physical;
};

Extreme DigitalExtreme(int64_t largest, int64_t resolutionNv, int limit) {
  const int64_t first = std::max<int64_t>(largest, 1);
  for (int64_t d = first; d <= limit; ++d)
    if (MicrovoltDecimal(-d * resolutionNv).size() <= kHeaderNumber)
      return {static_cast<int>(d), MicrovoltDecimal(d * resolutionNv)};
  if (first > limit) return {};
  for (int decimals = 3; decimals >= 0; --decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, -static_cast<double>(first * resolutionNv) / 1000);
    if (std::strlen(text) <= kHeaderNumber) return {static_cast<int>(first), text + 1};
  }
  return {};
}

// Samples per datarecord: its duration must be a whole number of 10 us, at
// most 60 s. A count that divides the recording leaves no padding; among
// those the one nearest one second wins. 0 when none divides.
int64_t RecordSamples(int64_t samples, int64_t intervalUs) {
  const int64_t step = 10 / std::gcd<int64_t>(intervalUs, 10);
  const int64_t perSecond = std::max<int64_t>(1, 1'000'000 / intervalUs);
  int64_t best = 0;
  for (int64_t n = step; n <= samples && n * intervalUs <= kMaxRecordUs; n += step)
    if (samples % n == 0 && (best == 0 || std::abs(n - perSecond) < std::abs(best - perSecond))) best = n;
  return best;
}

// EDFlib prints the datarecord duration by cutting the double's digits:
// 1.2 s becomes "1.199999", and readers then take 500 Hz for 500.0004 Hz.
// The field is rewritten with the exact decimal (whole 10 us, at most 60 s:
// it always fits its 8 characters).
bool FixRecordDuration(const std::string& path, int64_t microseconds) {
  constexpr long kDurationField = 244;
  std::string text = std::to_string(microseconds / 1'000'000);
  if (const int64_t frac = microseconds % 1'000'000; frac != 0) {
    std::string digits = std::to_string(1'000'000 + frac).substr(1);
    while (digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  text.resize(kHeaderNumber, ' ');
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (f == nullptr) return false;
  const bool ok = std::fseek(f, kDurationField, SEEK_SET) == 0 && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

void SetDate(int handle, const scpreader::Demographics& d) {
  // EDF dates start in 1985; an unknown acquisition date is written as its
  // first day rather than as the day of conversion.
  if (d.acqYear >= 1985 && d.acqMonth >= 1 && d.acqDay >= 1)
    edf_set_startdatetime(handle, d.acqYear, d.acqMonth, d.acqDay, d.acqHour, d.acqMinute, d.acqSecond);
  else
    edf_set_startdatetime(handle, 1985, 1, 1, 0, 0, 0);
}

void SetIdentity(int handle, const scpreader::Demographics& d) {
  if (!d.patientId.empty()) edf_set_patientcode(handle, d.patientId.c_str());
  std::string name = d.lastName;
  if (!d.secondLastName.empty()) name += (name.empty() ? "" : " ") + d.secondLastName;
  if (!d.firstName.empty()) name += (name.empty() ? "" : ", ") + d.firstName;
  if (!name.empty()) edf_set_patientname(handle, name.c_str());
  if (d.sex == 1 || d.sex == 2) edf_set_gender(handle, d.sex == 1 ? 1 : 0);
  if (d.birthYear > 1800 && d.birthMonth >= 1 && d.birthDay >= 1)
    edf_set_birthdate(handle, d.birthYear, d.birthMonth, d.birthDay);
  if (!d.institution.empty()) edf_set_admincode(handle, d.institution.c_str());
  if (!d.technician.empty()) edf_set_technician(handle, d.technician.c_str());
  if (!d.device.empty()) edf_set_equipment(handle, d.device.c_str());
}

}  // namespace

std::string EdfExtension(const scpreader::Record& record) {
  for (const scpreader::Lead* lead : StoredLeads(record).leads)
    for (int32_t v : lead->samples)
      if (v > kEdfDigitalMax || v < -kEdfDigitalMax) return ".bdf";
  return ".edf";
}

std::string EdfLabel(const std::string& leadName) { return "ECG " + leadName; }

std::string LeadOfEdfLabel(const std::string& label) {
  std::string s = label;
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (s.rfind("ECG ", 0) == 0) s = s.substr(4);
  return s;
}

bool WriteEdf(const scpreader::Record& record, const std::string& path, std::string* error) {
  const ConvertLeads in = StoredLeads(record);
  if (in.leads.empty() || record.sampleIntervalUs == 0 || record.amplitudeNanovolts == 0) {
    *error = "no decoded ECG leads to convert";
    return false;
  }
  const int64_t resolution = record.amplitudeNanovolts;
  std::vector<int64_t> largest(in.leads.size(), 0);
  for (size_t l = 0; l < in.leads.size(); ++l)
    for (int32_t v : in.leads[l]->samples) largest[l] = std::max<int64_t>(largest[l], std::abs(int64_t{v}));
  const bool wide = EdfExtension(record) == ".bdf";
  std::vector<Extreme> extreme(in.leads.size());
  for (size_t l = 0; l < in.leads.size(); ++l) {
    extreme[l] = DigitalExtreme(largest[l], resolution, wide ? kBdfDigitalMax : kEdfDigitalMax);
    if (extreme[l].digital == 0) {
      *error = "lead " + in.leads[l]->name + ": its range does not fit the EDF header at " +
               MicrovoltDecimal(resolution) + " uV per unit";
      return false;
    }
  }
  const int64_t interval = record.sampleIntervalUs;
  int64_t perRecord = RecordSamples(static_cast<int64_t>(in.samples), interval);
  if (perRecord == 0) {
    // No whole division: about one second per datarecord, and the last one
    // padded with zeros (EDF has only whole datarecords).
    const int64_t step = 10 / std::gcd<int64_t>(interval, 10);
    perRecord = std::max<int64_t>(step, (1'000'000 / interval) / step * step);
  }
  const int64_t records = (static_cast<int64_t>(in.samples) + perRecord - 1) / perRecord;

  const int signals = static_cast<int>(in.leads.size());
  const int handle = edfopen_file_writeonly(path.c_str(), wide ? EDFLIB_FILETYPE_BDFPLUS : EDFLIB_FILETYPE_EDFPLUS,
                                            signals);
  if (handle < 0) {
    *error = "cannot be written (EDFlib error " + std::to_string(handle) + ")";
    return false;
  }
  bool ok = edf_set_datarecord_duration(handle, static_cast<int>(perRecord * interval / 10)) == 0;
  for (int s = 0; s < signals && ok; ++s) {
    const scpreader::Lead& lead = *in.leads[static_cast<size_t>(s)];
    const int d = extreme[static_cast<size_t>(s)].digital;
    // EDFlib cuts the decimal digits of the double instead of rounding them:
    // 3276.7 lies just below itself in binary and would read "3276.699".
    // A nudge far below the last digit makes the cut land on the decimal.
    const double p = std::strtod(extreme[static_cast<size_t>(s)].physical.c_str(), nullptr) * (1 + 1e-12);
    ok = edf_set_samplefrequency(handle, s, static_cast<int>(perRecord)) == 0 &&
         edf_set_label(handle, s, EdfLabel(lead.name).c_str()) == 0 &&
         edf_set_physical_dimension(handle, s, "uV") == 0 && edf_set_digital_maximum(handle, s, d) == 0 &&
         edf_set_digital_minimum(handle, s, -d) == 0 &&
         edf_set_physical_maximum(handle, s, p) == 0 && edf_set_physical_minimum(handle, s, -p) == 0;
  }
  if (ok) {
    SetDate(handle, record.demographics);
    SetIdentity(handle, record.demographics);
    // Room for every annotation: each datarecord's annotation signal holds a
    // few; more signals when the annotations outnumber the datarecords.
    const int64_t per = (static_cast<int64_t>(record.annotations.size()) + records - 1) / std::max<int64_t>(records, 1);
    edf_set_number_of_annotation_signals(handle, static_cast<int>(std::clamp<int64_t>(per, 1, 64)));
  }
  std::vector<int> block(static_cast<size_t>(perRecord * signals));
  for (int64_t r = 0; r < records && ok; ++r) {
    for (int s = 0; s < signals; ++s)
      for (int64_t i = 0; i < perRecord; ++i)
        block[static_cast<size_t>(s * perRecord + i)] =
            in.Sample(static_cast<size_t>(s), static_cast<size_t>(r * perRecord + i));
    ok = edf_blockwrite_digital_samples(handle, block.data()) == 0;
  }
  for (const scpreader::Annotation& a : record.annotations) {
    if (!ok) break;
    const long long onset = std::llround(a.onsetSeconds * 10000);
    const long long duration = a.durationSeconds > 0 ? std::llround(a.durationSeconds * 10000) : -1;
    ok = edfwrite_annotation_latin1(handle, onset, duration, a.text.c_str()) == 0;
  }
  if (edfclose_file(handle) != 0) ok = false;
  if (ok) ok = FixRecordDuration(path, perRecord * interval);
  if (!ok) *error = "EDFlib refused the recording";
  return ok;
}

}  // namespace scpecg
