#include "tools/scpecg/dicom_writer.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <cstdio>
#include <ctime>

#include "tools/scpecg/convert_leads.h"

namespace scpecg {

namespace {

// The 12-Lead ECG object's limits.
constexpr size_t kTwelveLeadMaxChannels = 13;
constexpr double kTwelveLeadMaxSeconds = 16;
constexpr double kMinRateHz = 200, kMaxRateHz = 1000;

std::string Digits(int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  return buf;
}

std::string DecimalString(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string Uid(const char* root) {
  char uid[100];
  return dcmGenerateUniqueIdentifier(uid, root);
}

void PutCode(DcmItem* item, const char* value, const char* scheme, const char* meaning, const char* version = nullptr) {
  item->putAndInsertString(DCM_CodeValue, value);
  item->putAndInsertString(DCM_CodingSchemeDesignator, scheme);
  if (version != nullptr) item->putAndInsertString(DCM_CodingSchemeVersion, version);
  item->putAndInsertString(DCM_CodeMeaning, meaning);
}

void PutPatient(DcmDataset* ds, const scpreader::Demographics& d, bool identityRemoved) {
  std::string family = d.lastName;
  if (!d.secondLastName.empty()) family += (family.empty() ? "" : " ") + d.secondLastName;
  const std::string name = d.firstName.empty() ? family : family + "^" + d.firstName;
  ds->putAndInsertString(DCM_PatientName, name.c_str());
  ds->putAndInsertString(DCM_PatientID, d.patientId.c_str());
  ds->putAndInsertString(DCM_PatientBirthDate,
                         d.birthYear > 0 && d.birthMonth > 0 && d.birthDay > 0
                             ? (Digits(d.birthYear, 4) + Digits(d.birthMonth, 2) + Digits(d.birthDay, 2)).c_str()
                             : "");
  ds->putAndInsertString(DCM_PatientSex, d.sex == 1 ? "M" : d.sex == 2 ? "F" : d.sex == 9 ? "O" : "");
  if (d.heightCm > 0) ds->putAndInsertString(DCM_PatientSize, DecimalString(d.heightCm / 100.0).c_str());
  if (d.weightKg > 0) ds->putAndInsertString(DCM_PatientWeight, std::to_string(d.weightKg).c_str());
  if (identityRemoved) {
    ds->putAndInsertString(DCM_PatientIdentityRemoved, "YES");
    ds->putAndInsertString(DCM_DeidentificationMethod, "identity not readable on the converting workstation");
  }
}

}  // namespace

bool WriteDicom(const scpreader::Record& record, bool identityRemoved, const std::string& path, std::string* error) {
  const ConvertLeads in = StoredLeads(record);
  if (in.leads.empty() || record.sampleIntervalUs == 0 || record.amplitudeNanovolts == 0) {
    *error = "no decoded ECG leads to convert";
    return false;
  }
  for (const scpreader::Lead* lead : in.leads)
    for (int32_t v : lead->samples)
      if (v < INT16_MIN || v > INT16_MAX) {
        *error = "lead " + lead->name + " has samples beyond 16 bits, which DICOM ECG objects do not hold";
        return false;
      }
  const double rate = record.sampleRateHz();
  const double seconds = static_cast<double>(in.samples) / rate;
  const bool twelveLead = in.leads.size() <= kTwelveLeadMaxChannels && seconds <= kTwelveLeadMaxSeconds &&
                          rate >= kMinRateHz && rate <= kMaxRateHz;

  DcmFileFormat file;
  DcmDataset* ds = file.getDataset();
  const scpreader::Demographics& d = record.demographics;
  const bool dated = d.acqYear > 0 && d.acqMonth > 0 && d.acqDay > 0;
  std::string date = dated ? Digits(d.acqYear, 4) + Digits(d.acqMonth, 2) + Digits(d.acqDay, 2) : "";
  std::string time = dated ? Digits(d.acqHour, 2) + Digits(d.acqMinute, 2) + Digits(d.acqSecond, 2) : "";
  // Content date and acquisition date-time must be given: without an
  // acquisition date the object carries the time of conversion there.
  std::string contentDate = date, contentTime = time;
  if (!dated) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y%m%d", &tm);
    contentDate = buf;
    std::strftime(buf, sizeof buf, "%H%M%S", &tm);
    contentTime = buf;
  }

  ds->putAndInsertString(DCM_SOPClassUID, twelveLead ? UID_TwelveLeadECGWaveformStorage : UID_GeneralECGWaveformStorage);
  ds->putAndInsertString(DCM_SOPInstanceUID, Uid(SITE_INSTANCE_UID_ROOT).c_str());
  ds->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 100");
  PutPatient(ds, d, identityRemoved);
  ds->putAndInsertString(DCM_StudyInstanceUID, Uid(SITE_STUDY_UID_ROOT).c_str());
  ds->putAndInsertString(DCM_StudyDate, date.c_str());
  ds->putAndInsertString(DCM_StudyTime, time.c_str());
  ds->putAndInsertString(DCM_ReferringPhysicianName, d.referringPhysician.c_str());
  ds->putAndInsertString(DCM_StudyID, "");
  ds->putAndInsertString(DCM_AccessionNumber, "");
  ds->putAndInsertString(DCM_Modality, "ECG");
  ds->putAndInsertString(DCM_SeriesInstanceUID, Uid(SITE_SERIES_UID_ROOT).c_str());
  ds->putAndInsertString(DCM_SeriesNumber, "1");
  ds->putAndInsertString(DCM_Manufacturer, "");
  if (!d.device.empty()) ds->putAndInsertString(DCM_ManufacturerModelName, d.device.c_str());
  if (!d.institution.empty()) ds->putAndInsertString(DCM_InstitutionName, d.institution.c_str());
  if (!d.department.empty()) ds->putAndInsertString(DCM_InstitutionalDepartmentName, d.department.c_str());
  ds->putAndInsertString(DCM_InstanceNumber, "1");
  ds->putAndInsertString(DCM_ContentDate, contentDate.c_str());
  ds->putAndInsertString(DCM_ContentTime, contentTime.c_str());
  ds->putAndInsertString(DCM_AcquisitionDateTime, (contentDate + contentTime).c_str());
  ds->insertEmptyElement(DCM_AcquisitionContextSequence);

  DcmItem* group = nullptr;
  ds->findOrCreateSequenceItem(DCM_WaveformSequence, group, -2);
  group->putAndInsertString(DCM_WaveformOriginality, "ORIGINAL");
  group->putAndInsertUint16(DCM_NumberOfWaveformChannels, static_cast<Uint16>(in.leads.size()));
  group->putAndInsertUint32(DCM_NumberOfWaveformSamples, static_cast<Uint32>(in.samples));
  group->putAndInsertString(DCM_SamplingFrequency, DecimalString(rate).c_str());
  group->putAndInsertString(DCM_MultiplexGroupLabel, "RHYTHM");
  const std::string sensitivity = MicrovoltDecimal(record.amplitudeNanovolts);
  for (const scpreader::Lead* lead : in.leads) {
    DcmItem* channel = nullptr;
    group->findOrCreateSequenceItem(DCM_ChannelDefinitionSequence, channel, -2);
    channel->putAndInsertString(DCM_ChannelLabel, lead->name.c_str());
    DcmItem* source = nullptr;
    channel->findOrCreateSequenceItem(DCM_ChannelSourceSequence, source, 0);
    PutCode(source, ("5.6.3-9-" + std::to_string(lead->id)).c_str(), "SCPECG", ("Lead " + lead->name).c_str(), "1.3");
    channel->putAndInsertString(DCM_ChannelSensitivity, sensitivity.c_str());
    DcmItem* units = nullptr;
    channel->findOrCreateSequenceItem(DCM_ChannelSensitivityUnitsSequence, units, 0);
    PutCode(units, "uV", "UCUM", "microvolt");
    channel->putAndInsertString(DCM_ChannelSensitivityCorrectionFactor, "1");
    channel->putAndInsertString(DCM_ChannelBaseline, "0");
    channel->putAndInsertString(DCM_ChannelTimeSkew, "0");
    channel->putAndInsertUint16(DCM_WaveformBitsStored, 16);
  }
  group->putAndInsertUint16(DCM_WaveformBitsAllocated, 16);
  group->putAndInsertString(DCM_WaveformSampleInterpretation, "SS");
  // Channels interleaved, sample by sample.
  std::vector<Uint16> data(in.samples * in.leads.size());
  for (size_t i = 0; i < in.samples; ++i)
    for (size_t l = 0; l < in.leads.size(); ++l)
      data[i * in.leads.size() + l] = static_cast<Uint16>(static_cast<int16_t>(in.Sample(l, i)));
  auto* samples = new DcmOtherByteOtherWord(DcmTag(DCM_WaveformData, EVR_OW));
  samples->putUint16Array(data.data(), static_cast<unsigned long>(data.size()));
  group->insert(samples);

  const OFCondition saved = file.saveFile(path.c_str(), EXS_LittleEndianExplicit);
  if (saved.bad()) {
    *error = std::string("cannot be written: ") + saved.text();
    return false;
  }
  return true;
}

}  // namespace scpecg
