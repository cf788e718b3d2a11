// Small helpers shared by the test suites.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A path inside this process's scratch folder (made on first use).
std::string TempPath(const std::string& name);

// A fresh folder, removed with everything in it at the end of its scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A module this build makes, in the build's bin folder: "lib<name>.so" on
// POSIX, "<name>.dll" on Windows.
std::string BuiltModulePath(const std::string& name);

void SetEnv(const char* name, const char* value);
void UnsetEnv(const char* name);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
