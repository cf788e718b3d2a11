#include "lib/fileutil.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "lib/eventlog.h"

FileUtil::~FileUtil() {
  Close();
  delete[] name_;
}

bool FileUtil::SetFileName(const char* path) {
  Close();
  delete[] name_;
  name_ = nullptr;
  if (path == nullptr) return false;
  name_ = new (std::nothrow) char[kNameCapacity];
  if (name_ == nullptr) return false;
  // Callers keep paths below 512 characters; the copy is bounded anyway.
  std::strncpy(name_, path, kNameCapacity - 1);
  name_[kNameCapacity - 1] = '\0';
  return true;
}

const char* FileUtil::GetFileName(int index) const { return index == 0 ? name_ : nullptr; }

bool FileUtil::OpenForRead(EventLog* log) {
  Close();
  if (name_ == nullptr) {
    LogOem(log, msg::kFilenameNull);
    return false;
  }
  handle_ = plat::CreateFile(name_, plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting);
  if (handle_ != plat::kInvalidFile) {
    size_ = plat::GetFileSize(handle_);
    fullSize_ = plat::GetFileSize64(handle_);
    return true;
  }
  LogSystem(log, msg::kCouldNotOpen);
  LogOem(log, msg::kOpenFailed, name_);
  return false;
}

bool FileUtil::OpenForWrite(bool replace, EventLog* log) {
  if (name_ == nullptr) return false;
  Close();
  handle_ = plat::CreateFile(name_, plat::kGenericWrite, plat::kShareRead | plat::kShareWrite,
                             replace ? plat::Disposition::kCreateAlways : plat::Disposition::kCreateNew);
  if (handle_ != plat::kInvalidFile) return true;

  char system[513];
  plat::FormatMessage(plat::GetLastError(), system, sizeof system);
  if (log) {
    // One log line per line of the system's text.
    std::string text(system);
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find_first_of("\r\n", start);
      if (end == std::string::npos) end = text.size();
      if (end > start) log->LogSystemError(text.substr(start, end - start).c_str());
      start = end + 1;
    }
  }
  std::string message = std::string("Could not open ") + name_;
  if (log) log->LogSystemError(message.c_str());
  return false;
}

uint32_t FileUtil::Read(uint32_t count, void* buffer, EventLog* log) {
  uint32_t done = 0;
  if (!plat::ReadFile(handle_, buffer, count, &done)) {
    LogSystem(log, msg::kCouldNotRead);
    LogOem(log, msg::kReadFailed, name_ ? name_ : "");
    return 0;
  }
  return done;
}

bool FileUtil::Seek(uint32_t offset, EventLog* log) {
  // Without a high part the offset is a signed 32-bit distance, as on Windows.
  uint32_t position = plat::SetFilePointer(handle_, static_cast<int32_t>(offset));
  if (position == offset) return true;
  LogOem(log, position == plat::kInvalidSetFilePointer ? msg::kInvalidPosition : msg::kPositionError);
  return false;
}

bool FileUtil::Write(const void* buffer, uint32_t count) {
  if (handle_ == plat::kInvalidFile) {
    plat::SetLastError(plat::kErrorInvalidData);
    return false;
  }
  uint32_t done = 0;
  return plat::WriteFile(handle_, buffer, count, &done);
}

void FileUtil::Close() {
  if (handle_ != plat::kInvalidFile) plat::CloseFile(handle_);
  handle_ = plat::kInvalidFile;
  size_ = 0;
  fullSize_ = 0;
}

bool FileUtil::Exists(const char* path) { return path != nullptr && plat::FindFirstFile(path); }

void FileUtil::CreateDirectory(const char* path) { plat::CreateDirectory(path); }
