// One named file at a time over the platform's file API, with the log
// messages every caller relies on.
#pragma once

#include <cstdint>

#include "platform/platform.h"

class EventLog;

class FileUtil {
 public:
  FileUtil() = default;
  ~FileUtil();
  FileUtil(const FileUtil&) = delete;
  FileUtil& operator=(const FileUtil&) = delete;

  static constexpr uint32_t kNameCapacity = 32768;

  bool SetFileName(const char* path);
  const char* GetFileName(int index) const;
  bool OpenForRead(EventLog* log);
  bool OpenForWrite(bool replace, EventLog* log);
  uint32_t Read(uint32_t count, void* buffer, EventLog* log);
  bool Seek(uint32_t offset, EventLog* log);
  bool Write(const void* buffer, uint32_t count);
  void Close();
  uint32_t GetSize() const { return size_; }
  // The whole size, for bounds of our own: GetSize keeps only the low 32 bits,
  // which would make sound sections of a file over 4 GiB look cut short.
  uint64_t GetFullSize() const { return fullSize_; }

  static bool Exists(const char* path);
  static void CreateDirectory(const char* path);

 private:
  char* name_ = nullptr;
  plat::FileHandle handle_ = plat::kInvalidFile;
  uint32_t size_ = 0;
  uint64_t fullSize_ = 0;
};
