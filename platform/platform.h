// The narrow layer between the library and the operating system.
//
// Everything the library needs from Windows (files, directories, the
// thread's last error, dynamic libraries and their version resources, the
// module's own resources, the registry, COM, local time, MulDiv, CPUID,
// private heaps, and for tests and harnesses the process environment) goes
// through these declarations. platform_posix.cpp implements them on Linux;
// platform_win32.cpp maps them onto the real API.
#pragma once

#include <cstddef>
#include <cstdint>

// Calling convention of every export, ours and the log library's.
#if defined(_WIN32) && !defined(_WIN64)
#define SCP_STDCALL __stdcall
#else
#define SCP_STDCALL
#endif

namespace plat {

// ---------------------------------------------------------------- errors
// Windows error codes the layer reports on every platform, so that callers
// and tests see the same numbers everywhere.
enum : uint32_t {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorInvalidData = 13,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorSharingViolation = 32,
  kErrorHandleEof = 38,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorInvalidName = 123,
  kErrorNegativeSeek = 131,
  kErrorAlreadyExists = 183,
  kErrorFilenameTooLong = 206,
  kErrorNoMoreItems = 259,
};

uint32_t GetLastError();
void SetLastError(uint32_t code);

// The system's message text for an error code (language neutral), cut to
// size - 1 characters and NUL-terminated. Returns the characters written,
// 0 when the system has no text for the code.
uint32_t FormatMessage(uint32_t code, char* buffer, uint32_t size);

// ----------------------------------------------------------- environment
// Sets a variable of this process's environment, or removes it when value
// is null or empty (Windows' C runtime cannot hold an empty variable), so
// that both the C library's getenv, which the log library reads, and the
// system see the change. False when the name is refused.
bool SetEnvironmentVariable(const char* name, const char* value);

// ----------------------------------------------------------------- files
using FileHandle = intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

enum : uint32_t {
  kGenericRead = 0x80000000u,
  kGenericWrite = 0x40000000u,
  kShareRead = 0x1u,
  kShareWrite = 0x2u,
  kShareDelete = 0x4u,
};

enum class Disposition : uint32_t {
  kCreateNew = 1,        // fails when the file exists
  kCreateAlways = 2,     // creates, or truncates an existing file
  kOpenExisting = 3,     // fails when the file is missing
  kOpenAlways = 4,
  kTruncateExisting = 5,
};

// Opens like CreateFileA with normal attributes and no template. The share
// flags are honoured against the other handles of this process, as Windows
// does, so a second writer is refused while a reader shares only reading.
FileHandle CreateFile(const char* path, uint32_t access, uint32_t share, Disposition disposition);
bool CloseFile(FileHandle handle);
// ReadFile: true with *done = 0 at the end of the file.
bool ReadFile(FileHandle handle, void* buffer, uint32_t count, uint32_t* done);
bool WriteFile(FileHandle handle, const void* buffer, uint32_t count, uint32_t* done);
inline constexpr uint32_t kInvalidSetFilePointer = 0xFFFFFFFFu;
// SetFilePointer from the start of the file, without a high part. Positions
// past the end are allowed. Returns the new position or kInvalidSetFilePointer.
uint32_t SetFilePointer(FileHandle handle, int32_t offset);
// GetFileSize, low 32 bits; kInvalidSetFilePointer on failure.
uint32_t GetFileSize(FileHandle handle);
// The whole size of an open file, high part included; 0 on failure.
uint64_t GetFileSize64(FileHandle handle);

// FindFirstFileA-like: true when anything matches the path.
bool FindFirstFile(const char* path);
// CreateDirectoryA: one level only.
bool CreateDirectory(const char* path);

// ------------------------------------------------------ dynamic modules
using ModuleHandle = void*;

// LoadLibraryExA(name, flags 0). A Windows name such as "evtlib03.dll" is
// looked for as "libevtlib03.so" beside this library first, then on the
// normal search path.
ModuleHandle LoadLibrary(const char* name);
void* GetProcAddress(ModuleHandle module, const char* symbol);
void FreeLibrary(ModuleHandle module);

// The fixed file version of a loaded module, as its four 16-bit parts.
struct FileVersion {
  uint16_t major, minor, build, revision;
  // One byte a part, the parts added rather than masked, as the log
  // library's version check and the start line expect.
  uint32_t Packed() const { return ((uint32_t{major} * 256 + minor) * 256 + build) * 256 + revision; }
};
bool GetModuleFileVersion(ModuleHandle module, FileVersion* version);

// On POSIX a module carries its version resource as this exported object;
// evtlib03 exports it under kVersionSymbol.
struct VersionResource {
  uint32_t signature;              // kVersionSignature
  FileVersion fileVersion;
  const char* translation;         // "%04x%04x" language and code page, or null
  const char* fileDescription;     // null when absent
};
inline constexpr uint32_t kVersionSignature = 0xFEEF04BDu;
inline constexpr const char* kVersionSymbol = "plat_version_resource";

// -------------------------------------------------- this module's resources
// The handle of the module that holds this layer (the plug-in library).
ModuleHandle ThisModule();
// Version resource queries of this module, as VerQueryValueA answers them.
// FileDescription is looked up through the first translation pair; false
// when either lookup fails.
bool GetOwnFileDescription(ModuleHandle module, char* buffer, uint32_t size);
bool GetOwnFileVersion(ModuleHandle module, FileVersion* version);
// LoadStringA: characters copied (cut to size - 1), 0 when the id is absent.
int LoadString(ModuleHandle module, uint32_t id, char* buffer, int size);

// Test seam for the resource queries above: tests replace this module's
// resource with their own (null restores the built-in one).
void SetOwnVersionResourceForTesting(const VersionResource* resource);

// -------------------------------------------------------------- registry
// The current user's hive. On POSIX a key is a directory under
// $XDG_CONFIG_HOME (default ~/.config) and its subkeys are subdirectories,
// enumerated in byte order of their names.
using RegKey = void*;
inline constexpr long kRegOk = 0;
// RegOpenKeyExA(HKEY_CURRENT_USER, path, full access).
long RegOpenKey(const char* path, RegKey* key);
// RegCreateKeyExA(HKEY_CURRENT_USER, path, class text, default options, full access).
long RegCreateKey(const char* path, const char* className, RegKey* key);
// RegEnumKeyExA: name of subkey index into a buffer of size characters.
long RegEnumKey(RegKey key, uint32_t index, char* name, uint32_t size);
void RegCloseKey(RegKey key);

// ------------------------------------------------------------------- COM
struct Guid {
  uint32_t data1;
  uint16_t data2, data3;
  uint8_t data4[8];
};
inline constexpr long kSOk = 0;
inline constexpr long kSFalse = 1;  // apartment already initialized
long CoInitializeEx();             // multithreaded apartment
void CoUninitialize();
long CoCreateGuid(Guid* guid);     // kSOk on success

// ------------------------------------------------------------ local time
struct SystemTime {
  uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
void GetLocalTime(SystemTime* time);

// ------------------------------------------------------------- arithmetic
// MulDiv: a * b / c with a 64-bit intermediate, rounded to the nearest
// integer with halves away from zero; -1 when c is 0 or the result does not
// fit in 32 bits.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// The library's compile stamp in the compiler's standard forms, as in
// "May  7 2017" and "15:19:22".
const char* BuildDate();
const char* BuildTime();

// CPUID function 1, EDX bit 23 (MMX). False on other processors.
bool HasMmx();

// For the implementations: copies at most size - 1 (size above 0) of the
// length bytes of text and a NUL, as the Windows calls cut their texts;
// returns the bytes copied.
uint32_t CopyCut(const char* text, size_t length, char* buffer, uint32_t size);

// For the implementations: a failing call sets the thread's last error and
// returns its failure value, as the Windows calls do.
template <typename T>
T Fail(uint32_t code, T result) {
  SetLastError(code);
  return result;
}

// ----------------------------------------------------------- private heaps
using HeapHandle = void*;
HeapHandle HeapCreate();                       // growable, no limit
void* HeapAlloc(HeapHandle heap, size_t bytes);  // null on failure
void HeapFree(HeapHandle heap, void* block);
void HeapDestroy(HeapHandle heap);             // frees every block left
// Advice that a block about to be filled from its start is large: where
// the system offers big pages, its first touch then costs a few faults
// instead of one per 4 KiB. Blocks under 8 MiB are left as they are.
void AdviseLargeBlock(void* block, size_t bytes);

}  // namespace plat
