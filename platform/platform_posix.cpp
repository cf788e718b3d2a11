// POSIX implementation of the platform layer. It answers with Windows'
// error codes and semantics so that the library above behaves the same on
// both platforms.
#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <glob.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "platform/resources.h"

#ifndef SCP_FILE_VERSION_PACKED
#define SCP_FILE_VERSION_PACKED 0x04000008
#endif

namespace plat {
namespace {

thread_local uint32_t tLastError = 0;

// Paths come in Windows form; a backslash is a separator here too.
std::string NativePath(const char* path) {
  std::string p(path);
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ParentExists(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 || IsDirectory(path.substr(0, slash));
}

uint32_t ErrnoToWin(int err, const std::string& path) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT: return ParentExists(path) ? kErrorFileNotFound : kErrorPathNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EEXIST: return kErrorFileExists;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return kErrorAccessDenied;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EINVAL: return kErrorInvalidParameter;
    default: return 31;  // a device attached to the system is not functioning
  }
}

// Windows' share modes, kept for the handles of this process: a file
// opened without sharing writes refuses a second writer, and so on.
struct OpenFile {
  dev_t dev;
  ino_t ino;
  uint32_t access;
  uint32_t share;
};
std::map<int, OpenFile>& OpenFiles() {
  static std::map<int, OpenFile> files;
  return files;
}

bool ShareConflict(const OpenFile& a, uint32_t access, uint32_t share) {
  if ((access & kGenericRead) && !(a.share & kShareRead)) return true;
  if ((access & kGenericWrite) && !(a.share & kShareWrite)) return true;
  if ((a.access & kGenericRead) && !(share & kShareRead)) return true;
  if ((a.access & kGenericWrite) && !(share & kShareWrite)) return true;
  return false;
}

struct MessageText {
  uint32_t code;
  const char* text;
};
// The texts Windows gives for the codes this layer reports.
constexpr MessageText kMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {29, "The system cannot write to the specified device.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {38, "Reached the end of the file.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {131, "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {259, "No more data is available.\r\n"},
};

}  // namespace

uint32_t GetLastError() { return tLastError; }
void SetLastError(uint32_t code) { tLastError = code; }

uint32_t FormatMessage(uint32_t code, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  for (const auto& m : kMessages) {
    if (m.code != code) continue;
    return CopyCut(m.text, std::strlen(m.text), buffer, size);
  }
  buffer[0] = '\0';
  SetLastError(317);  // the message number does not exist
  return 0;
}

// ---------------------------------------------------------- environment

bool SetEnvironmentVariable(const char* name, const char* value) {
  if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr)
    return Fail(kErrorInvalidParameter, false);
  int rc = value && *value ? ::setenv(name, value, 1) : ::unsetenv(name);
  if (rc != 0) SetLastError(ErrnoToWin(errno, ""));
  return rc == 0;
}

// ---------------------------------------------------------------- files

FileHandle CreateFile(const char* path, uint32_t access, uint32_t share, Disposition disposition) {
  if (path == nullptr || *path == '\0') return Fail(kErrorPathNotFound, kInvalidFile);
  std::string native = NativePath(path);
  int flags = O_CLOEXEC;
  if ((access & kGenericRead) && (access & kGenericWrite)) flags |= O_RDWR;
  else if (access & kGenericWrite) flags |= O_WRONLY;
  else flags |= O_RDONLY;
  bool truncate = false;
  switch (disposition) {
    case Disposition::kCreateNew: flags |= O_CREAT | O_EXCL; break;
    case Disposition::kCreateAlways: flags |= O_CREAT; truncate = true; break;
    case Disposition::kOpenExisting: break;
    case Disposition::kOpenAlways: flags |= O_CREAT; break;
    case Disposition::kTruncateExisting: truncate = true; break;
  }
  bool existed = ::access(native.c_str(), F_OK) == 0;
  int fd = ::open(native.c_str(), flags, 0666);
  if (fd < 0) return Fail(ErrnoToWin(errno, native), kInvalidFile);
  // Gives up the descriptor just opened and fails with the code.
  auto fail = [fd](uint32_t code) {
    ::close(fd);
    return Fail(code, kInvalidFile);
  };
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return fail(kErrorAccessDenied);
  for (const auto& [other, f] : OpenFiles()) {
    if (f.dev == st.st_dev && f.ino == st.st_ino && ShareConflict(f, access, share)) return fail(kErrorSharingViolation);
  }
  if (truncate && ::ftruncate(fd, 0) != 0) return fail(ErrnoToWin(errno, native));
  OpenFiles()[fd] = OpenFile{st.st_dev, st.st_ino, access, share};
  // Like Windows: success, and ERROR_ALREADY_EXISTS when an existing file
  // was opened by a creating disposition.
  SetLastError((existed && (disposition == Disposition::kCreateAlways ||
                            disposition == Disposition::kOpenAlways))
                   ? kErrorAlreadyExists
                   : kErrorSuccess);
  return fd;
}

bool CloseFile(FileHandle handle) {
  auto it = OpenFiles().find(static_cast<int>(handle));
  if (handle < 0 || it == OpenFiles().end()) return Fail(kErrorInvalidHandle, false);
  OpenFiles().erase(it);
  ::close(static_cast<int>(handle));
  return true;
}

static bool KnownHandle(FileHandle handle) {
  return handle >= 0 && OpenFiles().count(static_cast<int>(handle)) != 0;
}

// Reads or writes until count bytes are through, the file ends (a read) or
// a call fails, as the Windows calls do; io(fd, done so far) makes one call.
template <typename Io>
static bool Transfer(FileHandle handle, uint32_t right, uint32_t count, uint32_t* done, Io io) {
  if (done) *done = 0;
  if (!KnownHandle(handle)) return Fail(kErrorInvalidHandle, false);
  if (!(OpenFiles()[static_cast<int>(handle)].access & right)) return Fail(kErrorAccessDenied, false);
  uint32_t total = 0;
  while (total < count) {
    ssize_t n = io(static_cast<int>(handle), total);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(ErrnoToWin(errno, ""));
      if (done) *done = total;
      return false;
    }
    if (n == 0) break;
    total += static_cast<uint32_t>(n);
  }
  if (done) *done = total;
  return true;
}

bool ReadFile(FileHandle handle, void* buffer, uint32_t count, uint32_t* done) {
  auto* p = static_cast<uint8_t*>(buffer);
  return Transfer(handle, kGenericRead, count, done, [&](int fd, uint32_t at) { return ::read(fd, p + at, count - at); });
}

bool WriteFile(FileHandle handle, const void* buffer, uint32_t count, uint32_t* done) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  return Transfer(handle, kGenericWrite, count, done,
                  [&](int fd, uint32_t at) { return ::write(fd, p + at, count - at); });
}

uint32_t SetFilePointer(FileHandle handle, int32_t offset) {
  if (!KnownHandle(handle)) return Fail(kErrorInvalidHandle, kInvalidSetFilePointer);
  if (offset < 0) return Fail(kErrorNegativeSeek, kInvalidSetFilePointer);
  off_t r = ::lseek(static_cast<int>(handle), offset, SEEK_SET);
  if (r < 0) return Fail(ErrnoToWin(errno, ""), kInvalidSetFilePointer);
  return static_cast<uint32_t>(r);
}

uint32_t GetFileSize(FileHandle handle) {
  struct stat st;
  if (!KnownHandle(handle) || ::fstat(static_cast<int>(handle), &st) != 0)
    return Fail(kErrorInvalidHandle, kInvalidSetFilePointer);
  return static_cast<uint32_t>(static_cast<uint64_t>(st.st_size) & 0xFFFFFFFFu);
}

uint64_t GetFileSize64(FileHandle handle) {
  struct stat st;
  if (!KnownHandle(handle) || ::fstat(static_cast<int>(handle), &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

bool FindFirstFile(const char* path) {
  if (path == nullptr || *path == '\0') return Fail(kErrorPathNotFound, false);
  std::string native = NativePath(path);
  if (native.find_first_of("*?") != std::string::npos) {
    glob_t g{};
    int rc = ::glob(native.c_str(), GLOB_NOSORT, nullptr, &g);
    bool found = rc == 0 && g.gl_pathc > 0;
    ::globfree(&g);
    if (!found) SetLastError(kErrorFileNotFound);
    return found;
  }
  // Windows does not match a name with a trailing separator.
  if (native.size() > 1 && native.back() == '/') return Fail(kErrorFileNotFound, false);
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0) return Fail(ErrnoToWin(errno, native), false);
  return true;
}

bool CreateDirectory(const char* path) {
  if (path == nullptr) return Fail(kErrorPathNotFound, false);
  std::string native = NativePath(path);
  if (::mkdir(native.c_str(), 0777) != 0)
    return Fail(errno == EEXIST ? kErrorAlreadyExists : ErrnoToWin(errno, native), false);
  return true;
}

// ------------------------------------------------------ dynamic modules

static std::string ThisModuleDirectory() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ThisModuleDirectory), &info) == 0 || info.dli_fname == nullptr)
    return {};
  std::string path = info.dli_fname;
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

ModuleHandle LoadLibrary(const char* name) {
  if (name == nullptr || *name == '\0') return Fail(kErrorInvalidParameter, nullptr);
  std::string native = NativePath(name);
  if (native.find('/') != std::string::npos) {
    void* h = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) SetLastError(126);  // the specified module could not be found
    return h;
  }
  // "evtlib03.dll" is "libevtlib03.so" here.
  std::string base = native;
  if (base.size() > 4 && strcasecmp(base.c_str() + base.size() - 4, ".dll") == 0)
    base.resize(base.size() - 4);
  std::string soname = "lib" + base + ".so";
  std::string dir = ThisModuleDirectory();
  if (!dir.empty()) {
    std::string beside = dir + "/" + soname;
    if (::access(beside.c_str(), F_OK) == 0) {
      if (void* h = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    }
  }
  void* h = ::dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) SetLastError(126);
  return h;
}

void* GetProcAddress(ModuleHandle module, const char* symbol) {
  if (module == nullptr || symbol == nullptr) return nullptr;
  void* p = ::dlsym(module, symbol);
  if (!p) SetLastError(127);  // the specified procedure could not be found
  return p;
}

void FreeLibrary(ModuleHandle module) {
  if (module) ::dlclose(module);
}

bool GetModuleFileVersion(ModuleHandle module, FileVersion* version) {
  if (module == nullptr || version == nullptr) return false;
  auto* res = static_cast<const VersionResource*>(::dlsym(module, kVersionSymbol));
  // 1813: the resource type cannot be found.
  if (res == nullptr || res->signature != kVersionSignature) return Fail(1813, false);
  *version = res->fileVersion;
  return true;
}

// -------------------------------------------------- this module's resources

namespace {
constexpr uint32_t kPacked = SCP_FILE_VERSION_PACKED;
const VersionResource kOwnResource = {
    kVersionSignature,
    {static_cast<uint16_t>(kPacked >> 24), static_cast<uint16_t>((kPacked >> 16) & 0xFF),
     static_cast<uint16_t>((kPacked >> 8) & 0xFF), static_cast<uint16_t>(kPacked & 0xFF)},
    kOwnTranslation,
    kOwnFileDescription,
};
const VersionResource* gOwnResource = &kOwnResource;
int gModuleAnchor = 0;
}  // namespace

ModuleHandle ThisModule() { return &gModuleAnchor; }

void SetOwnVersionResourceForTesting(const VersionResource* resource) {
  gOwnResource = resource ? resource : &kOwnResource;
}

bool GetOwnFileDescription(ModuleHandle module, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return false;
  buffer[0] = '\0';
  const VersionResource* res = module ? gOwnResource : nullptr;
  if (res == nullptr || res->translation == nullptr || res->fileDescription == nullptr) return false;
  CopyCut(res->fileDescription, std::strlen(res->fileDescription), buffer, size);
  return true;
}

bool GetOwnFileVersion(ModuleHandle module, FileVersion* version) {
  if (module == nullptr || version == nullptr || gOwnResource == nullptr) return false;
  *version = gOwnResource->fileVersion;
  return true;
}

int LoadString(ModuleHandle module, uint32_t id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  // 1814: the resource name cannot be found.
  if (module == nullptr || id != kMessageSaveFailed) return Fail(1814, 0);
  return static_cast<int>(CopyCut(kMessageSaveFailedText, sizeof(kMessageSaveFailedText) - 1, buffer,
                                  static_cast<uint32_t>(size)));
}

// -------------------------------------------------------------- registry

namespace {
struct Key {
  std::string dir;
};

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return xdg;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config";
  if (struct passwd* pw = ::getpwuid(::getuid())) return std::string(pw->pw_dir) + "/.config";
  return "/tmp";
}

// "Software\A\B" lives in <config>/A/B.
std::string KeyDirectory(const char* path) {
  std::string p = path ? path : "";
  const std::string prefix = "Software\\";
  if (p.compare(0, prefix.size(), prefix) == 0) p.erase(0, prefix.size());
  std::replace(p.begin(), p.end(), '\\', '/');
  return ConfigHome() + "/" + p;
}

bool MakeDirectories(const std::string& path) {
  if (path.empty() || IsDirectory(path)) return true;
  auto slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}
}  // namespace

long RegOpenKey(const char* path, RegKey* key) {
  if (path == nullptr || key == nullptr) return kErrorInvalidParameter;
  std::string dir = KeyDirectory(path);
  if (!IsDirectory(dir)) return kErrorFileNotFound;
  *key = new (std::nothrow) Key{dir};
  return *key ? kRegOk : static_cast<long>(kErrorNotEnoughMemory);
}

long RegCreateKey(const char* path, const char* /*className*/, RegKey* key) {
  if (path == nullptr || key == nullptr) return kErrorInvalidParameter;
  std::string dir = KeyDirectory(path);
  if (!MakeDirectories(dir)) return kErrorAccessDenied;
  *key = new (std::nothrow) Key{dir};
  return *key ? kRegOk : static_cast<long>(kErrorNotEnoughMemory);
}

long RegEnumKey(RegKey key, uint32_t index, char* name, uint32_t size) {
  if (key == nullptr || name == nullptr) return kErrorInvalidHandle;
  DIR* d = ::opendir(static_cast<Key*>(key)->dir.c_str());
  if (d == nullptr) return kErrorNoMoreItems;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (IsDirectory(static_cast<Key*>(key)->dir + "/" + e->d_name)) names.emplace_back(e->d_name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  if (index >= names.size()) return kErrorNoMoreItems;
  const std::string& n = names[index];
  if (n.size() + 1 > size) return 234;  // more data is available
  std::memcpy(name, n.c_str(), n.size() + 1);
  return kRegOk;
}

void RegCloseKey(RegKey key) { delete static_cast<Key*>(key); }

// ------------------------------------------------------------------- COM

namespace {
thread_local int tApartment = 0;
}

long CoInitializeEx() {
  if (tApartment++ == 0) return kSOk;
  return kSFalse;
}

void CoUninitialize() {
  if (tApartment > 0) --tApartment;
}

long CoCreateGuid(Guid* guid) {
  if (guid == nullptr) return static_cast<long>(0x80070057L);  // invalid argument
  uint8_t bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return static_cast<long>(0x80004005L);  // unspecified failure
    }
    got += static_cast<size_t>(n);
  }
  // A random (version 4, RFC 4122 variant) GUID, as CoCreateGuid makes.
  guid->data1 = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  guid->data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  guid->data3 = static_cast<uint16_t>(((bytes[6] << 8 | bytes[7]) & 0x0FFF) | 0x4000);
  std::memcpy(guid->data4, bytes + 8, 8);
  guid->data4[0] = static_cast<uint8_t>((guid->data4[0] & 0x3F) | 0x80);
  return kSOk;
}

// ------------------------------------------------------------ local time

void GetLocalTime(SystemTime* t) {
  if (t == nullptr) return;
  struct timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm{};
  ::localtime_r(&ts.tv_sec, &tm);
  t->year = static_cast<uint16_t>(tm.tm_year + 1900);
  t->month = static_cast<uint16_t>(tm.tm_mon + 1);
  t->dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
  t->day = static_cast<uint16_t>(tm.tm_mday);
  t->hour = static_cast<uint16_t>(tm.tm_hour);
  t->minute = static_cast<uint16_t>(tm.tm_min);
  t->second = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
  t->milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
}

// ------------------------------------------------------------- arithmetic

int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  int64_t product = static_cast<int64_t>(a) * b;
  int64_t divisor = c;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  // Round half away from zero.
  int64_t q = product >= 0 ? (product + divisor / 2) / divisor : (product - divisor / 2) / divisor;
  if (q > INT32_MAX || q < -INT32_MAX) return -1;
  return static_cast<int32_t>(q);
}

// ----------------------------------------------------------- private heaps

namespace {
// Every block carries links so that destroying the heap frees what is left.
struct alignas(16) BlockHeader {
  BlockHeader* prev;
  BlockHeader* next;
};
struct Heap {
  BlockHeader head{&head, &head};
};
}  // namespace

HeapHandle HeapCreate() { return new (std::nothrow) Heap; }

namespace {

// Blocks this large are record buffers, written once from the start. Backed
// by 2 MiB pages where the system offers them, the first touch of each
// costs one fault instead of 512, and untouched pages stay unallocated, so
// resident memory grows by at most one such page.
constexpr size_t kLargeBlock = size_t{8} << 20;
constexpr size_t kLargePage = size_t{2} << 20;

void* AllocateLarge(size_t total) {
#if defined(MADV_HUGEPAGE)
  void* p = nullptr;
  if (posix_memalign(&p, kLargePage, total) != 0) return nullptr;
  // Advice only: where it is refused the block works with small pages.
  madvise(p, total & ~(kLargePage - 1), MADV_HUGEPAGE);
  return p;
#else
  return std::malloc(total);
#endif
}

}  // namespace

void AdviseLargeBlock(void* block, size_t bytes) {
#if defined(MADV_HUGEPAGE)
  if (bytes < kLargeBlock) return;
  // Only whole big pages inside the block can be advised.
  const auto begin = (reinterpret_cast<uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
  const auto end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kLargePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

void* HeapAlloc(HeapHandle heap, size_t bytes) {
  if (heap == nullptr || bytes > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
  auto* h = static_cast<Heap*>(heap);
  const size_t total = sizeof(BlockHeader) + bytes;
  auto* b = static_cast<BlockHeader*>(total >= kLargeBlock ? AllocateLarge(total) : std::malloc(total));
  if (b == nullptr) return nullptr;
  b->next = h->head.next;
  b->prev = &h->head;
  h->head.next->prev = b;
  h->head.next = b;
  return b + 1;
}

void HeapFree(HeapHandle heap, void* block) {
  if (heap == nullptr || block == nullptr) return;
  auto* b = static_cast<BlockHeader*>(block) - 1;
  b->prev->next = b->next;
  b->next->prev = b->prev;
  std::free(b);
}

void HeapDestroy(HeapHandle heap) {
  if (heap == nullptr) return;
  auto* h = static_cast<Heap*>(heap);
  BlockHeader* b = h->head.next;
  while (b != &h->head) {
    BlockHeader* next = b->next;
    std::free(b);
    b = next;
  }
  delete h;
}

}  // namespace plat
