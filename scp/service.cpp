#include "scp/service.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "lib/fileutil.h"
#include "scp/lead_table.h"
#include "scp/sample_codec.h"
#include "scp/scpecg.h"
#include "scp/scpsrv.h"

namespace {
uint32_t Pack(const plat::FileVersion& v) {
  return ((static_cast<uint32_t>(v.major) * 256 + v.minor) * 256 + v.build) * 256 + v.revision;
}
}  // namespace

// ------------------------------------------------------------- lifecycle

ScpService::ScpService(plat::ModuleHandle module) : module_(module) {
  log_ = new (std::nothrow) EventLog(module_);
  if (log_ == nullptr) return;
  log_->LogServiceStart(StartLine().c_str());
}

ScpService::~ScpService() {
  if (log_ != nullptr) log_->LogServiceStop(StartLine().c_str());
  delete log_;
  log_ = nullptr;
}

std::string ScpService::StartLine() const {
  char description[256] = "";
  plat::GetOwnFileDescription(module_, description, sizeof description);
  plat::FileVersion version{};
  uint32_t packed = plat::GetOwnFileVersion(module_, &version) ? Pack(version) : 0;
  char text[512];
  std::snprintf(text, sizeof text, "%s (%X - %s %s)", description, packed, plat::BuildDate(), plat::BuildTime());
  return text;
}

// ------------------------------------------------------------------ save

CommonObjectInterface::CommonObjectInterface(EventLog* log) : log_(log) {
  long hr = plat::CoInitializeEx();
  if (hr == plat::kSOk) {
    initialized_ = true;
    if (log_) log_->LogServiceStart("CommonObjectInterface");
    return;
  }
  // Already-initialized apartments (S_FALSE) count as failure too: the guard
  // must not leave an apartment it did not enter.
  plat::SetLastError(static_cast<uint32_t>(hr));
  char text[257];
  plat::FormatMessage(static_cast<uint32_t>(hr), text, sizeof text);
  if (log_) log_->LogSystemError(text);
}

CommonObjectInterface::~CommonObjectInterface() {
  if (!initialized_) return;
  plat::CoUninitialize();
  if (log_) log_->LogServiceStop("CommonObjectInterface");
}

int ScpService::MakeGuidText(char* text) {
  plat::Guid g{};
  long hr = plat::CoCreateGuid(&g);
  std::snprintf(text, 37, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.data1, g.data2, g.data3,
                g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return hr == plat::kSOk ? 1 : 0;
}

void ScpService::AddAccessionNumber(TestRecord* test) {
  try {
    CommonObjectInterface guard(log_);
    char text[37];
    MakeGuidText(text);  // the text is used whatever the result
    test->SetAccessionNumber(text);
  } catch (...) {
    if (log_) log_->LogException("AddAccessionNumber");
  }
}

void ScpService::MakeDirectory(const char* path) {
  std::string dir(path);
  // Backslash is the only separator looked at, and position 0 is not.
  for (size_t i = dir.size(); i-- > 1;) {
    if (dir[i] != '\\') continue;
    dir.resize(i);
    if (!FileUtil::Exists(dir.c_str())) FileUtil::CreateDirectory(dir.c_str());
    return;
  }
}

int32_t ScpService::SaveTestRecord(TestRecord* test, const char* path) {
  int32_t result = 0;
  try {
    FileUtil out;
    if (test == nullptr || path == nullptr) {
      if (log_) log_->LogOemError(kSrcScpsrv, 137, "Test or File Name NULL");
      return 0;
    }
    if (strnlen(path, 512) >= 512) {
      if (log_) log_->LogOemError(kSrcScpsrv, 136, "File Name larger than 512 characters");
      return 0;
    }
    test->SetFilePath(path);
    if (test->GetAccessionNumber()[0] == '\0') AddAccessionNumber(test);
    {
      ScpEcg codec(this, log_);
      try {
        if (!codec.FormatRecordHeader(test->EstimateRecordBufferSize())) {
          if (log_) log_->LogOemError(kSrcScpsrv, 130, "FormatRecordHeader");
        } else {
          codec.PutDemographics(test);
          codec.PutHuffmanTables();
          if (test->GetWaveform() != nullptr) {
            if (EcgWaveform* wave = codec.PutLeadDefinition(test))
              codec.PutRhythmData(wave);
            else if (log_)
              log_->LogOemError(kSrcScpsrv, 90, "PutLeadDefinition");
          }
          codec.PutInterpretation(test);
          codec.PutTrendData(test);
          codec.PutAnnotationData(test);
          codec.PutEpisodeData(test);
          codec.PutComplexData(test);
          codec.PutRhythmMeasData(test);
          codec.PutPacemakerData(test);
          codec.PutBloodPressureData(test);
          codec.PutBloodPressureResults(test);
          codec.PutSpirometryData(test);
          codec.PutPAnnotationData(test);
          codec.PutAuditTrail(test);
          codec.PutDiaryPDF(test);
          codec.PutReportPDF(test);
          codec.PutHolterCfgData(test);
          codec.PutHolterCfgBlock(test);
          uint32_t length = 0;
          const uint8_t* buffer = codec.FinalizeRecordHeader(&length);
          if (buffer == nullptr) {
            if (log_) log_->LogOemError(kSrcScpsrv, 129, "FinalizeRecordHeader");
          } else {
            MakeDirectory(path);
            if (out.SetFileName(path) && out.OpenForWrite(true, log_) && out.Write(buffer, length)) {
              test->ClearModified();
              if (log_) log_->LogInformation((std::string("SCP Save Test Record [") + path + "]").c_str());
              result = 1;
            } else if (log_) {
              log_->LogMessage7100();
            }
          }
        }
      } catch (...) {
        if (log_) log_->LogMemoryError(kSrcScpsrv, 134);
      }
    }
  } catch (...) {
    if (log_) log_->LogMemoryError(kSrcScpsrv, 142);
    return 0;
  }
  return result;
}

// ----------------------------------------------------------------- fetch

RegisteredKeyList::~RegisteredKeyList() {
  for (auto* n : names_) delete[] n;
}

const char* RegisteredKeyList::Entry(uint32_t i) {
  if (used_ >= kCapacity) return nullptr;
  plat::RegKey key = nullptr;
  if (plat::RegOpenKey(ScpService::kRegisteredKeysPath, &key) != plat::kRegOk &&
      plat::RegCreateKey(ScpService::kRegisteredKeysPath, "CLASS", &key) != plat::kRegOk)
    key = nullptr;
  char name[kNameSize];
  if (key == nullptr || plat::RegEnumKey(key, i, name, kNameSize) != plat::kRegOk) {
    if (key) plat::RegCloseKey(key);
    return nullptr;
  }
  plat::RegCloseKey(key);
  size_t n = strnlen(name, kNameSize - 1);
  char* stored = new char[n + 1];
  std::memcpy(stored, name, n);
  stored[n] = '\0';
  names_[used_++] = stored;
  return stored;
}

bool ScpService::IdentityReadable(const char* scrambleKey) {
  if (scrambleKey == nullptr || scrambleKey[0] == '\0') return true;
  RegisteredKeyList keys;
  for (uint32_t i = 0; i < 2000; ++i) {
    const char* name = keys.Entry(i);
    if (name == nullptr) return false;
    if (std::strcmp(name, scrambleKey) == 0) return true;
  }
  return false;
}

int32_t ScpService::FetchTest(TestRecord* test) {
  try {
    ScpEcg codec(this, log_);
    if (test == nullptr || !codec.OpenRecord(test->GetFilePath())) {
      if (log_) log_->LogOemError(kSrcScpsrv, 237, "SCP read");
      return 0;
    }
    uint32_t testKey = test->GetTestKey();
    codec.GetDemographics(test);
    if (EcgWaveform* wave = test->GetWaveform()) {
      std::unique_ptr<HuffmanMode> mode = codec.GetHuffmanTables();
      std::unique_ptr<LeadTable> leads = codec.GetLeadDefinition();
      if (leads) codec.GetRhythmData(wave, leads.get(), mode.get());
      leads.reset();
      mode.reset();
    }
    codec.GetInterpretation(test);
    codec.GetTrendData(test);
    codec.GetAnnotationData(test);
    codec.GetEpisodeData(test);
    codec.GetComplexData(test);
    codec.GetRhythmMeasData(test);
    codec.GetPacemakerData(test);
    codec.GetBloodPressureData(test);
    codec.GetBloodPressureResults(test);
    codec.GetSpirometryData(test);
    codec.GetSpirometryItems(test);
    codec.GetPAnnotationData(test);
    codec.GetAuditTrail(test);
    codec.GetDiaryPDF(test);
    codec.GetReportPDF(test);
    codec.GetHolterCfgData(test);
    codec.GetHolterCfgBlock(test);
    test->SetTestKey(testKey);
    try {
      test->SetIdentityReadable(IdentityReadable(test->GetScrambleKey()) ? 1 : 0);
    } catch (...) {
      if (log_) log_->LogMemoryError(kSrcScpsrv, 232);
      test->SetIdentityReadable(0);
    }
    test->ClearModified();
    return 1;
  } catch (...) {
    if (log_) log_->LogMemoryError(kSrcScpsrv, 242);
    return 0;
  }
}

// ----------------------------------------------------------------- check

int32_t ScpService::IsValidFormat(const char* path, ValidFormatInfo* info) {
  try {
    int32_t result = 0;
    std::unique_ptr<TestRecord> scratch(new TestRecord());
    ScpEcg codec(this, log_);
    if (path != nullptr && codec.OpenRecord(path)) {
      scratch->SetProcedureType(7);
      codec.GetDemographics(scratch.get());
      result = 1;
      if (info != nullptr) {
        std::unique_ptr<LeadTable> leads = codec.GetLeadDefinition();
        codec.GetRhythmSummary(leads.get(), info);
        leads.reset();
        info->complexCount = codec.GetComplexCount();
        info->rhythmMeasCount = codec.GetRhythmMeasCount();
        info->diaryPdfSize = codec.GetDiaryPDFSize();
        info->reportPdfSize = codec.GetReportPDFSize();
        info->holterCfgSize = codec.GetHolterCfgSize();
        info->holterCfgBlockSize = codec.GetHolterCfgBlockSize();
      }
    } else if (log_) {
      std::string text = std::string("IsValidFormat: [") + (path ? path : "null") + "]";
      log_->LogOemError(kSrcScpsrv, 287, text.c_str());
    }
    return result;
  } catch (...) {
    if (log_) log_->LogMemoryError(kSrcScpsrv, 295);
    return 0;
  }
}

int32_t ScpService::GetProcedureType(const char* path) {
  try {
    ScpEcg codec(this, log_);
    if (!codec.OpenRecord(path)) {
      if (log_) log_->LogOemError(kSrcScpsrv, 310, "GetProcedureType");
      return 7;
    }
    return codec.GetProcedureTypeFromFile();
  } catch (...) {
    if (log_) log_->LogMemoryError(kSrcScpsrv, 315);
    return 7;
  }
}
