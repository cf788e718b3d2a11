// The platform layer must answer like the Windows API it stands in for.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/platform.h"
#include "platform/resources.h"
#include "test_util.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
// <windows.h> would rename the layer's functions to their -A names.
#undef CreateFile
#undef CreateDirectory
#undef FindFirstFile
#undef FormatMessage
#undef LoadLibrary
#undef LoadString
#undef RegOpenKey
#undef RegCreateKey
#undef RegEnumKey
#undef SetEnvironmentVariable
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

struct MulDivCase {
  int32_t a, b, c, expected;
};

class MulDivTest : public ::testing::TestWithParam<MulDivCase> {};

TEST_P(MulDivTest, RoundsHalvesAwayFromZero) {
  const auto& p = GetParam();
  EXPECT_EQ(plat::MulDiv(p.a, p.b, p.c), p.expected) << p.a << " * " << p.b << " / " << p.c;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MulDivTest,
    ::testing::Values(MulDivCase{7000, 254, 1000, 1778},    // 1778.0
                      MulDivCase{1778, 1000, 254, 7000},    // 6999.99 -> 7000
                      MulDivCase{5, 1, 2, 3},               // 2.5 -> 3
                      MulDivCase{-5, 1, 2, -3},             // -2.5 -> -3
                      MulDivCase{5, -1, 2, -3},
                      MulDivCase{5, 1, -2, -3},
                      MulDivCase{-5, -1, -2, -3},
                      MulDivCase{7, 1, 3, 2},               // 2.33 -> 2
                      MulDivCase{8, 1, 3, 3},               // 2.67 -> 3
                      MulDivCase{70, 100000, 453, 15453},   // 15452.54 -> 15453
                      MulDivCase{100, 1000, 0, -1},         // division by zero
                      MulDivCase{INT32_MAX, 2, 1, -1},      // does not fit
                      MulDivCase{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
                      MulDivCase{0, 12345, 7, 0}));

TEST(PlatformFiles, CreateDispositionsAndLastError) {
  TempDir dir;
  std::string path = dir.File("a.bin");
  plat::FileHandle h = plat::CreateFile(path.c_str(), plat::kGenericRead, plat::kShareRead,
                                        plat::Disposition::kOpenExisting);
  EXPECT_EQ(h, plat::kInvalidFile);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorFileNotFound);

  std::string deep = dir.File("missing/a.bin");
  EXPECT_EQ(plat::CreateFile(deep.c_str(), plat::kGenericWrite, 0, plat::Disposition::kCreateAlways),
            plat::kInvalidFile);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorPathNotFound);

  h = plat::CreateFile(path.c_str(), plat::kGenericWrite, 0, plat::Disposition::kCreateNew);
  ASSERT_NE(h, plat::kInvalidFile);
  uint32_t done = 0;
  ASSERT_TRUE(plat::WriteFile(h, "hello", 5, &done));
  EXPECT_EQ(done, 5u);
  plat::CloseFile(h);

  EXPECT_EQ(plat::CreateFile(path.c_str(), plat::kGenericWrite, 0, plat::Disposition::kCreateNew), plat::kInvalidFile);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorFileExists);

  h = plat::CreateFile(path.c_str(), plat::kGenericWrite, 0, plat::Disposition::kCreateAlways);
  ASSERT_NE(h, plat::kInvalidFile);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorAlreadyExists);
  EXPECT_EQ(plat::GetFileSize(h), 0u) << "create always truncates";
  plat::CloseFile(h);
}

TEST(PlatformFiles, ShareModesAreEnforcedWithinTheProcess) {
  TempDir dir;
  std::string path = dir.File("shared.bin");
  ASSERT_TRUE(WriteFileBytes(path, {1, 2, 3}));
  plat::FileHandle writer =
      plat::CreateFile(path.c_str(), plat::kGenericWrite, plat::kShareRead | plat::kShareWrite,
                       plat::Disposition::kOpenExisting);
  ASSERT_NE(writer, plat::kInvalidFile);
  // A reader that shares only reading cannot join an open writer.
  EXPECT_EQ(plat::CreateFile(path.c_str(), plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting),
            plat::kInvalidFile);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorSharingViolation);
  // One that shares writing too can.
  plat::FileHandle reader = plat::CreateFile(path.c_str(), plat::kGenericRead, plat::kShareRead | plat::kShareWrite,
                                             plat::Disposition::kOpenExisting);
  EXPECT_NE(reader, plat::kInvalidFile);
  plat::CloseFile(reader);
  plat::CloseFile(writer);

  plat::FileHandle exclusive = plat::CreateFile(path.c_str(), plat::kGenericRead, plat::kShareRead,
                                                plat::Disposition::kOpenExisting);
  ASSERT_NE(exclusive, plat::kInvalidFile);
  // Creating over a file held without write sharing fails and must not truncate it.
  EXPECT_EQ(plat::CreateFile(path.c_str(), plat::kGenericWrite, plat::kShareRead | plat::kShareWrite,
                             plat::Disposition::kCreateAlways),
            plat::kInvalidFile);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorSharingViolation);
  EXPECT_EQ(plat::GetFileSize(exclusive), 3u);
  plat::CloseFile(exclusive);
}

TEST(PlatformFiles, SeekPastTheEndAndReadAtTheEnd) {
  TempDir dir;
  std::string path = dir.File("s.bin");
  ASSERT_TRUE(WriteFileBytes(path, {9, 8, 7, 6}));
  plat::FileHandle h = plat::CreateFile(path.c_str(), plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting);
  ASSERT_NE(h, plat::kInvalidFile);
  EXPECT_EQ(plat::SetFilePointer(h, 1000), 1000u);
  uint8_t b[4];
  uint32_t done = 99;
  EXPECT_TRUE(plat::ReadFile(h, b, 4, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(plat::SetFilePointer(h, -1), plat::kInvalidSetFilePointer);
  EXPECT_EQ(plat::SetFilePointer(h, 2), 2u);
  EXPECT_TRUE(plat::ReadFile(h, b, 4, &done));
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(b[0], 7);
  plat::CloseFile(h);
  EXPECT_FALSE(plat::ReadFile(h, b, 4, &done));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidHandle);
}

TEST(PlatformFiles, BackslashesSeparateAndDirectoriesAreOneLevel) {
  TempDir dir;
  std::string sub = dir.path() + "\\sub";
  EXPECT_FALSE(plat::FindFirstFile(sub.c_str()));
  EXPECT_TRUE(plat::CreateDirectory(sub.c_str()));
  EXPECT_TRUE(plat::FindFirstFile((dir.path() + "/sub").c_str()));
  EXPECT_FALSE(plat::CreateDirectory(sub.c_str()));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorAlreadyExists);
  EXPECT_FALSE(plat::CreateDirectory((dir.path() + "\\a\\b").c_str()));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorPathNotFound);
  ASSERT_TRUE(WriteFileBytes(dir.File("sub/x.scp"), {1}));
  EXPECT_TRUE(plat::FindFirstFile((dir.path() + "\\sub\\*.scp").c_str()));
  EXPECT_FALSE(plat::FindFirstFile((dir.path() + "\\sub\\*.dat").c_str()));
}

// The text the system itself has for a code: on Windows what FormatMessageA
// answers (Wine's texts differ from Microsoft's in places), on POSIX the
// Windows texts the layer carries.
std::string SystemText(uint32_t code) {
#ifdef _WIN32
  char* text = nullptr;
  DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string out(text ? text : "", n);
  ::LocalFree(text);
  return out;
#else
  switch (code) {
    case plat::kErrorFileExists: return "The file exists.\r\n";
    case plat::kErrorPathNotFound: return "The system cannot find the path specified.\r\n";
    default: return "";
  }
#endif
}

TEST(PlatformMessages, SystemTextsAreWindowsTextsCutToTheBuffer) {
  char text[512];
  for (uint32_t code : {plat::kErrorFileExists, plat::kErrorPathNotFound}) {
    SCOPED_TRACE(code);
    const std::string expected = SystemText(code);
    ASSERT_GT(expected.size(), 7u);
    EXPECT_EQ(plat::FormatMessage(code, text, sizeof text), expected.size());
    EXPECT_EQ(std::string(text), expected);
    char small[8];
    EXPECT_EQ(plat::FormatMessage(code, small, sizeof small), 7u);
    EXPECT_EQ(std::string(small), expected.substr(0, 7));
  }
  EXPECT_EQ(plat::FormatMessage(0xDEADu, text, sizeof text), 0u);
  plat::SetLastError(1234);
  EXPECT_EQ(plat::GetLastError(), 1234u);
}

TEST(PlatformResources, MessageStringAndOwnVersion) {
  char text[256];
  int n = plat::LoadString(plat::ThisModule(), 7100, text, sizeof text);
  EXPECT_EQ(n, static_cast<int>(std::strlen(plat::kMessageSaveFailedText)));
  EXPECT_STREQ(text, "QMXDB: Fallimento nello scrivere il documento del test .  Vedere il registro per i dettagli");
  char small[6];
  EXPECT_EQ(plat::LoadString(plat::ThisModule(), 7100, small, sizeof small), 5);
  EXPECT_STREQ(small, "QMXDB");
  EXPECT_EQ(plat::LoadString(plat::ThisModule(), 7101, text, sizeof text), 0);

  char description[128];
  EXPECT_TRUE(plat::GetOwnFileDescription(plat::ThisModule(), description, sizeof description));
  EXPECT_GT(std::strlen(description), 0u);
  plat::VersionResource bare{plat::kVersionSignature, {0, 4, 0, 8}, nullptr, "ignored"};
  plat::SetOwnVersionResourceForTesting(&bare);
  EXPECT_FALSE(plat::GetOwnFileDescription(plat::ThisModule(), description, sizeof description));
  EXPECT_STREQ(description, "");
  plat::FileVersion v{};
  EXPECT_TRUE(plat::GetOwnFileVersion(plat::ThisModule(), &v));
  EXPECT_EQ(v.minor, 4);
  EXPECT_EQ(v.revision, 8);
  plat::SetOwnVersionResourceForTesting(nullptr);
}

TEST(PlatformModules, LoadsTheLogLibraryBesideThisModuleAndReadsItsVersion) {
  plat::ModuleHandle m = plat::LoadLibrary("evtlib03.dll");
  ASSERT_NE(m, nullptr);
  plat::FileVersion v{};
  ASSERT_TRUE(plat::GetModuleFileVersion(m, &v));
  EXPECT_EQ(((v.major * 256u + v.minor) * 256u + v.build) * 256u + v.revision, 0x40008u);
  EXPECT_NE(plat::GetProcAddress(m, "LOGOEMERROR"), nullptr);
  EXPECT_EQ(plat::GetProcAddress(m, "NOSUCHEXPORT"), nullptr);
  plat::FreeLibrary(m);
  EXPECT_EQ(plat::LoadLibrary("nosuchlibrary.dll"), nullptr);
}

// On POSIX a key is a folder under XDG_CONFIG_HOME, made here by hand as an
// administrator would; on Windows it is a key of the current user's hive.
// Either way the test works under a key of its own, removed afterwards.
class PlatformRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnv("XDG_CONFIG_HOME", home_.path().c_str());
    vendor_ = "ScpRegistryTest" + std::to_string(getpid());
    path_ = "Software\\" + vendor_ + "\\Miravel 4\\PHI";
  }
  void TearDown() override {
#ifdef _WIN32
    ::RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\" + vendor_).c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\" + vendor_).c_str());
#endif
    UnsetEnv("XDG_CONFIG_HOME");
  }
  // Registers a subkey the way an administrator does on this platform.
  bool AddSubkey(const std::string& name) {
#ifdef _WIN32
    plat::RegKey k = nullptr;
    if (plat::RegCreateKey((path_ + "\\" + name).c_str(), "CLASS", &k) != plat::kRegOk) return false;
    plat::RegCloseKey(k);
    return true;
#else
    return plat::CreateDirectory((home_.path() + "/" + vendor_ + "/Miravel 4/PHI/" + name).c_str());
#endif
  }
  std::string Enumerate(plat::RegKey key) {
    std::string order;
    char name[256];
    for (uint32_t i = 0; plat::RegEnumKey(key, i, name, sizeof name) == plat::kRegOk; ++i) order += name;
    return order;
  }
  TempDir home_;
  std::string vendor_, path_;
};

TEST_F(PlatformRegistry, SubkeysEnumerateInTheSystemsNameOrder) {
  plat::RegKey key = nullptr;
  EXPECT_NE(plat::RegOpenKey(path_.c_str(), &key), plat::kRegOk);
  ASSERT_EQ(plat::RegCreateKey(path_.c_str(), "CLASS", &key), plat::kRegOk);
  char name[256];
  EXPECT_EQ(plat::RegEnumKey(key, 0, name, sizeof name), static_cast<long>(plat::kErrorNoMoreItems));
  plat::RegCloseKey(key);
  for (const char* sub : {"b", "C", "a"}) ASSERT_TRUE(AddSubkey(sub)) << sub;
  ASSERT_EQ(plat::RegOpenKey(path_.c_str(), &key), plat::kRegOk);
#ifdef _WIN32
  // The registry orders names without regard to case.
  EXPECT_EQ(Enumerate(key), "abC");
#else
  // Folder names in byte order: capitals first.
  EXPECT_EQ(Enumerate(key), "Cab");
#endif
  char tiny[1];
  EXPECT_NE(plat::RegEnumKey(key, 0, tiny, sizeof tiny), plat::kRegOk);
  plat::RegCloseKey(key);
}

TEST_F(PlatformRegistry, NamesDifferingOnlyInCase) {
  plat::RegKey key = nullptr;
  ASSERT_EQ(plat::RegCreateKey(path_.c_str(), "CLASS", &key), plat::kRegOk);
  ASSERT_TRUE(AddSubkey("k7x"));
  ASSERT_TRUE(AddSubkey("K7X"));
#ifdef _WIN32
  // Registry key names are case-insensitive: the second one is the first.
  EXPECT_EQ(Enumerate(key), "k7x");
#else
  // Folder names are case-sensitive: two keys.
  EXPECT_EQ(Enumerate(key), "K7Xk7x");
#endif
  plat::RegCloseKey(key);
}

TEST(PlatformCom, ApartmentAnswersLikeCoInitializeEx) {
  EXPECT_EQ(plat::CoInitializeEx(), plat::kSOk);
  EXPECT_EQ(plat::CoInitializeEx(), plat::kSFalse);
  plat::CoUninitialize();
  plat::CoUninitialize();
  EXPECT_EQ(plat::CoInitializeEx(), plat::kSOk);
  plat::CoUninitialize();
}

TEST(PlatformCom, GuidsAreRandomVersion4) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    plat::Guid g{};
    ASSERT_EQ(plat::CoCreateGuid(&g), plat::kSOk);
    EXPECT_EQ(g.data3 >> 12, 4);
    EXPECT_EQ(g.data4[0] & 0xC0, 0x80);
    seen.insert(std::string(reinterpret_cast<const char*>(&g), sizeof g));
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(PlatformHeap, BlocksLeftAtDestructionAreFreed) {
  plat::HeapHandle heap = plat::HeapCreate();
  ASSERT_NE(heap, nullptr);
  void* a = plat::HeapAlloc(heap, 100);
  void* b = plat::HeapAlloc(heap, 1 << 20);
  void* c = plat::HeapAlloc(heap, 0);
  ASSERT_TRUE(a && b && c);
  std::memset(b, 0xAB, 1 << 20);
  plat::HeapFree(heap, a);
  EXPECT_EQ(plat::HeapAlloc(nullptr, 10), nullptr);
  plat::HeapDestroy(heap);  // b and c go with the heap; LeakSanitizer checks it
}

TEST(PlatformTime, LocalTimeIsPlausible) {
  plat::SystemTime t{};
  plat::GetLocalTime(&t);
  EXPECT_GE(t.year, 2024);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_LE(t.hour, 23);
  EXPECT_LE(t.milliseconds, 999);
  EXPECT_EQ(std::strlen(plat::BuildDate()), 11u);
  EXPECT_EQ(std::strlen(plat::BuildTime()), 8u);
}

}  // namespace
