#include "scp/service.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "lib/dbclient/testrecord.h"
#include "lib/eventlog.h"
#include "lib/fileutil.h"
#include "scp/lead_table.h"
#include "scp/messages.h"
#include "scp/sample_codec.h"
#include "scp/scpecg.h"
#include "scp/section_table.h"
#include "scp/scpsrv.h"

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
  uint32_t packed = plat::GetOwnFileVersion(module_, &version) ? version.Packed() : 0;
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
      LogOem(log_, msg::kNameNull);
      return 0;
    }
    if (strnlen(path, 512) >= 512) {
      LogOem(log_, msg::kNameTooLong);
      return 0;
    }
    test->SetFilePath(path);
    if (test->GetAccessionNumber()[0] == '\0') AddAccessionNumber(test);
    {
      ScpEcg codec(this, log_);
      try {
        if (!codec.FormatRecordHeader(test->EstimateRecordBufferSize())) {
          LogOem(log_, msg::kFormatRecordHeader);
        } else {
          for (const SectionOps& section : SectionTable())
            if (section.put != nullptr) section.put(codec, test);
          uint32_t length = 0;
          const uint8_t* buffer = codec.FinalizeRecordHeader(&length);
          if (buffer == nullptr) {
            LogOem(log_, msg::kFinalizeRecordHeader);
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
        LogMemory(log_, msg::kSaveMemory);
      }
    }
  } catch (...) {
    LogMemory(log_, msg::kSaveOuterMemory);
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
      LogOem(log_, msg::kScpRead);
      return 0;
    }
    uint32_t testKey = test->GetTestKey();
    for (const SectionOps& section : SectionTable())
      if (section.get != nullptr) section.get(codec, test);
    test->SetTestKey(testKey);
    try {
      test->SetIdentityReadable(IdentityReadable(test->GetScrambleKey()) ? 1 : 0);
    } catch (...) {
      LogMemory(log_, msg::kFetchMemory);
      test->SetIdentityReadable(0);
    }
    test->ClearModified();
    return 1;
  } catch (...) {
    LogMemory(log_, msg::kFetchOuterMemory);
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
        for (const SectionOps& section : SectionTable())
          if (section.probe != nullptr) info->*section.probeField = section.probe(codec);
      }
    } else if (log_) {
      std::string text = std::string("IsValidFormat: [") + (path ? path : "null") + "]";
      LogOem(log_, msg::kFormatCheck, text.c_str());
    }
    return result;
  } catch (...) {
    LogMemory(log_, msg::kFormatCheckMemory);
    return 0;
  }
}

int32_t ScpService::GetProcedureType(const char* path) {
  try {
    ScpEcg codec(this, log_);
    if (!codec.OpenRecord(path)) {
      LogOem(log_, msg::kGetProcedureType);
      return 7;
    }
    return codec.GetProcedureTypeFromFile();
  } catch (...) {
    LogMemory(log_, msg::kProcedureTypeOuterMemory);
    return 7;
  }
}
