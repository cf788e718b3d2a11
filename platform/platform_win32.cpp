// Win32 implementation of the platform layer: each call maps onto the
// Windows API function it is named after, so the library behaves here
// exactly as the host expects from a native plug-in.
#include "platform/platform.h"

#include "platform/windows_api.h"

#include <objbase.h>
#include <winver.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace plat {

// Both are copied whole into the layer's own types.
static_assert(sizeof(Guid) == sizeof(GUID) && offsetof(Guid, data3) == offsetof(GUID, Data3) &&
                  offsetof(Guid, data4) == offsetof(GUID, Data4),
              "Guid must match the COM GUID layout");
static_assert(sizeof(SystemTime) == sizeof(SYSTEMTIME) && offsetof(SystemTime, day) == offsetof(SYSTEMTIME, wDay) &&
                  offsetof(SystemTime, milliseconds) == offsetof(SYSTEMTIME, wMilliseconds),
              "SystemTime must match SYSTEMTIME");
static_assert(kInvalidSetFilePointer == INVALID_SET_FILE_POINTER, "SetFilePointer failure value");

namespace {

HANDLE ToHandle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

// ---------------------------------------------------------------- errors

uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }

uint32_t FormatMessage(uint32_t code, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = '\0';
  // FormatMessageA refuses a buffer that is too small; let it allocate and
  // cut the text to the caller's size instead.
  char* text = nullptr;
  DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
      code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (n == 0 || text == nullptr) return 0;
  const uint32_t copied = CopyCut(text, n, buffer, size);
  ::LocalFree(text);
  return copied;
}

// ----------------------------------------------------------- environment

bool SetEnvironmentVariable(const char* name, const char* value) {
  if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr)
    return Fail(kErrorInvalidParameter, false);
  // SetEnvironmentVariableA alone would leave the C runtime's copy, which
  // getenv reads, unchanged; _putenv updates both (copying the text), and
  // "NAME=" removes the variable. _putenv_s would add an import that older
  // msvcrt.dll versions lack.
  const std::string entry = std::string(name) + "=" + (value ? value : "");
  return ::_putenv(entry.c_str()) == 0;
}

// ----------------------------------------------------------------- files

FileHandle CreateFile(const char* path, uint32_t access, uint32_t share, Disposition disposition) {
  HANDLE h = ::CreateFileA(path, access, share, nullptr, static_cast<DWORD>(disposition), FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  return reinterpret_cast<FileHandle>(h);
}

bool CloseFile(FileHandle handle) {
  if (handle == kInvalidFile) return Fail(kErrorInvalidHandle, false);
  return ::CloseHandle(ToHandle(handle)) != 0;
}

bool ReadFile(FileHandle handle, void* buffer, uint32_t count, uint32_t* done) {
  DWORD n = 0;
  BOOL ok = ::ReadFile(ToHandle(handle), buffer, count, &n, nullptr);
  if (done) *done = n;
  return ok != 0;
}

bool WriteFile(FileHandle handle, const void* buffer, uint32_t count, uint32_t* done) {
  DWORD n = 0;
  BOOL ok = ::WriteFile(ToHandle(handle), buffer, count, &n, nullptr);
  if (done) *done = n;
  return ok != 0;
}

uint32_t SetFilePointer(FileHandle handle, int32_t offset) {
  return ::SetFilePointer(ToHandle(handle), offset, nullptr, FILE_BEGIN);
}

uint32_t GetFileSize(FileHandle handle) { return ::GetFileSize(ToHandle(handle), nullptr); }

uint64_t GetFileSize64(FileHandle handle) {
  LARGE_INTEGER size;
  return ::GetFileSizeEx(ToHandle(handle), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

bool FindFirstFile(const char* path) {
  if (path == nullptr) return Fail(kErrorPathNotFound, false);
  WIN32_FIND_DATAA data;
  HANDLE h = ::FindFirstFileA(path, &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::FindClose(h);
  return true;
}

bool CreateDirectory(const char* path) {
  if (path == nullptr) return Fail(kErrorPathNotFound, false);
  return ::CreateDirectoryA(path, nullptr) != 0;
}

// ------------------------------------------------------ dynamic modules

ModuleHandle LoadLibrary(const char* name) {
  if (name == nullptr || *name == '\0') return Fail(kErrorInvalidParameter, nullptr);
  return reinterpret_cast<ModuleHandle>(::LoadLibraryExA(name, nullptr, 0));
}

void* GetProcAddress(ModuleHandle module, const char* symbol) {
  if (module == nullptr || symbol == nullptr) return nullptr;
  FARPROC p = ::GetProcAddress(static_cast<HMODULE>(module), symbol);
  // A function address travels as a plain pointer; both are one word here.
  void* out = nullptr;
  static_assert(sizeof out == sizeof p);
  std::memcpy(&out, &p, sizeof out);
  return out;
}

void FreeLibrary(ModuleHandle module) {
  if (module) ::FreeLibrary(static_cast<HMODULE>(module));
}

namespace {

// The version resource of a loaded module, read from its file as
// GetFileVersionInfoA does. Empty when the module has none.
std::vector<char> ModuleVersionInfo(HMODULE module) {
  std::vector<char> path(32768);
  DWORD len = ::GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
  if (len == 0 || len >= path.size()) return {};
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeA(path.data(), &ignored);
  if (size == 0) return {};
  std::vector<char> data(size);
  if (!::GetFileVersionInfoA(path.data(), 0, size, data.data())) return {};
  return data;
}

bool FixedFileVersion(const std::vector<char>& info, FileVersion* version) {
  if (info.empty()) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (!::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &len) || fixed == nullptr ||
      len < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != kVersionSignature)
    return false;
  version->major = HIWORD(fixed->dwFileVersionMS);
  version->minor = LOWORD(fixed->dwFileVersionMS);
  version->build = HIWORD(fixed->dwFileVersionLS);
  version->revision = LOWORD(fixed->dwFileVersionLS);
  return true;
}

}  // namespace

bool GetModuleFileVersion(ModuleHandle module, FileVersion* version) {
  if (module == nullptr || version == nullptr) return false;
  return FixedFileVersion(ModuleVersionInfo(static_cast<HMODULE>(module)), version);
}

// -------------------------------------------------- this module's resources

namespace {
const VersionResource* gOwnOverride = nullptr;
}  // namespace

ModuleHandle ThisModule() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&ThisModule), &module))
    return nullptr;
  return module;
}

void SetOwnVersionResourceForTesting(const VersionResource* resource) { gOwnOverride = resource; }

bool GetOwnFileDescription(ModuleHandle module, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return false;
  buffer[0] = '\0';
  if (module == nullptr) return false;
  const char* text = nullptr;
  std::vector<char> info;
  if (gOwnOverride != nullptr) {
    if (gOwnOverride->translation == nullptr || gOwnOverride->fileDescription == nullptr) return false;
    text = gOwnOverride->fileDescription;
  } else {
    info = ModuleVersionInfo(static_cast<HMODULE>(module));
    if (info.empty()) return false;
    // The first language and code page pair names the string block.
    WORD* pairs = nullptr;
    UINT len = 0;
    if (!::VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pairs), &len) ||
        pairs == nullptr || len < 2 * sizeof(WORD))
      return false;
    char query[64];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\FileDescription", pairs[0], pairs[1]);
    char* value = nullptr;
    if (!::VerQueryValueA(info.data(), query, reinterpret_cast<void**>(&value), &len) || value == nullptr)
      return false;
    text = value;
  }
  CopyCut(text, std::strlen(text), buffer, size);
  return true;
}

bool GetOwnFileVersion(ModuleHandle module, FileVersion* version) {
  if (module == nullptr || version == nullptr) return false;
  if (gOwnOverride != nullptr) {
    *version = gOwnOverride->fileVersion;
    return true;
  }
  return FixedFileVersion(ModuleVersionInfo(static_cast<HMODULE>(module)), version);
}

int LoadString(ModuleHandle module, uint32_t id, char* buffer, int size) {
  // LoadStringA with size 0 would hand out a pointer into the resource.
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  if (module == nullptr) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, 0);
  return ::LoadStringA(static_cast<HINSTANCE>(module), id, buffer, size);
}

// -------------------------------------------------------------- registry

long RegOpenKey(const char* path, RegKey* key) {
  if (path == nullptr || key == nullptr) return ERROR_INVALID_PARAMETER;
  HKEY h = nullptr;
  LONG rc = ::RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &h);
  if (rc == ERROR_SUCCESS) *key = h;
  return rc;
}

long RegCreateKey(const char* path, const char* className, RegKey* key) {
  if (path == nullptr || key == nullptr) return ERROR_INVALID_PARAMETER;
  HKEY h = nullptr;
  LONG rc = ::RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, const_cast<char*>(className), REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &h, nullptr);
  if (rc == ERROR_SUCCESS) *key = h;
  return rc;
}

long RegEnumKey(RegKey key, uint32_t index, char* name, uint32_t size) {
  if (key == nullptr || name == nullptr) return ERROR_INVALID_HANDLE;
  DWORD len = size;
  return ::RegEnumKeyExA(static_cast<HKEY>(key), index, name, &len, nullptr, nullptr, nullptr, nullptr);
}

void RegCloseKey(RegKey key) {
  if (key) ::RegCloseKey(static_cast<HKEY>(key));
}

// ------------------------------------------------------------------- COM

long CoInitializeEx() { return ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

void CoUninitialize() { ::CoUninitialize(); }

long CoCreateGuid(Guid* guid) {
  if (guid == nullptr) return E_INVALIDARG;
  GUID g;
  HRESULT hr = ::CoCreateGuid(&g);
  if (SUCCEEDED(hr)) std::memcpy(guid, &g, sizeof g);
  return hr;
}

// ------------------------------------------------------------ local time

void GetLocalTime(SystemTime* time) {
  if (time == nullptr) return;
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  std::memcpy(time, &st, sizeof st);
}

// ------------------------------------------------------------- arithmetic

int32_t MulDiv(int32_t a, int32_t b, int32_t c) { return ::MulDiv(a, b, c); }

// ----------------------------------------------------------- private heaps

HeapHandle HeapCreate() { return ::HeapCreate(0, 0, 0); }

void* HeapAlloc(HeapHandle heap, size_t bytes) {
  if (heap == nullptr) return nullptr;
  return ::HeapAlloc(static_cast<HANDLE>(heap), 0, bytes);
}

void HeapFree(HeapHandle heap, void* block) {
  if (heap == nullptr || block == nullptr) return;
  ::HeapFree(static_cast<HANDLE>(heap), 0, block);
}

void HeapDestroy(HeapHandle heap) {
  if (heap) ::HeapDestroy(static_cast<HANDLE>(heap));
}

// Large pages need a privilege hosts do not hold: nothing to advise.
void AdviseLargeBlock(void*, size_t) {}

}  // namespace plat
