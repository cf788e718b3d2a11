// The record service: one object between the first LIBSTART and the last
// LIBSTOP. Each operation makes and destroys its own codec and file object.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

class EventLog;
class TestRecord;
struct ValidFormatInfo;

class ScpService {
 public:
  explicit ScpService(plat::ModuleHandle module);
  ~ScpService();
  ScpService(const ScpService&) = delete;
  ScpService& operator=(const ScpService&) = delete;

  int32_t SaveTestRecord(TestRecord* test, const char* path);
  int32_t FetchTest(TestRecord* test);
  int32_t IsValidFormat(const char* path, ValidFormatInfo* info);
  int32_t GetProcedureType(const char* path);

  // Gives the record a GUID accession number.
  void AddAccessionNumber(TestRecord* test);
  // "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X" of a new GUID into
  // text (37 bytes); 1 when the GUID was created.
  static int MakeGuidText(char* text);
  // "%s (%X - %s %s)": file description, packed file version, build stamp.
  std::string StartLine() const;

  EventLog* log() const { return log_; }
  plat::ModuleHandle module() const { return module_; }

  // Registry key whose subkeys are the scramble keys registered here.
  static constexpr const char* kRegisteredKeysPath = "Software\\Veltrona\\Miravel 4\\PHI";

 private:
  void MakeDirectory(const char* path);
  bool IdentityReadable(const char* scrambleKey);

  plat::ModuleHandle module_ = nullptr;
  EventLog* log_ = nullptr;
};

// Holds a COM apartment for its lifetime, only to make a GUID.
class CommonObjectInterface {
 public:
  explicit CommonObjectInterface(EventLog* log);
  ~CommonObjectInterface();
  CommonObjectInterface(const CommonObjectInterface&) = delete;
  CommonObjectInterface& operator=(const CommonObjectInterface&) = delete;
  bool initialized() const { return initialized_; }

 private:
  EventLog* log_;
  bool initialized_ = false;
};

// The names of the registered scramble keys, read one at a time; the key is
// opened (and created when missing) for every entry, as the registry is
// shared with the workstation's other programs.
class RegisteredKeyList {
 public:
  static constexpr int kCapacity = 256;
  static constexpr uint32_t kNameSize = 256;
  RegisteredKeyList() = default;
  ~RegisteredKeyList();
  RegisteredKeyList(const RegisteredKeyList&) = delete;
  RegisteredKeyList& operator=(const RegisteredKeyList&) = delete;
  // The i-th subkey name, or null.
  const char* Entry(uint32_t i);

 private:
  char* names_[kCapacity] = {};
  int used_ = 0;
};
