// The platform layer must answer like the Windows API it stands in for.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/platform.h"
#include "platform/resources.h"
#include "test_util.h"

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

TEST(PlatformMessages, SystemTextsAreWindowsTextsCutToTheBuffer) {
  char text[512];
  ASSERT_GT(plat::FormatMessage(plat::kErrorFileExists, text, sizeof text), 0u);
  EXPECT_STREQ(text, "The file exists.\r\n");
  ASSERT_GT(plat::FormatMessage(plat::kErrorPathNotFound, text, sizeof text), 0u);
  EXPECT_STREQ(text, "The system cannot find the path specified.\r\n");
  char small[8];
  EXPECT_EQ(plat::FormatMessage(plat::kErrorFileExists, small, sizeof small), 7u);
  EXPECT_STREQ(small, "The fil");
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

TEST(PlatformRegistry, KeysAreFoldersAndSubkeysEnumerateInByteOrder) {
  TempDir home;
  SetEnv("XDG_CONFIG_HOME", home.path().c_str());
  const char* path = "Software\\Veltrona\\Miravel 4\\PHI";
  plat::RegKey key = nullptr;
  EXPECT_NE(plat::RegOpenKey(path, &key), plat::kRegOk);
  ASSERT_EQ(plat::RegCreateKey(path, "CLASS", &key), plat::kRegOk);
  char name[256];
  EXPECT_EQ(plat::RegEnumKey(key, 0, name, sizeof name), static_cast<long>(plat::kErrorNoMoreItems));
  plat::RegCloseKey(key);
  for (const char* sub : {"b", "B", "a"})
    ASSERT_TRUE(plat::CreateDirectory((home.path() + "/Veltrona/Miravel 4/PHI/" + sub).c_str()));
  ASSERT_EQ(plat::RegOpenKey(path, &key), plat::kRegOk);
  std::string order;
  for (uint32_t i = 0; plat::RegEnumKey(key, i, name, sizeof name) == plat::kRegOk; ++i) order += name;
  EXPECT_EQ(order, "Bab");
  char tiny[1];
  EXPECT_NE(plat::RegEnumKey(key, 0, tiny, sizeof tiny), plat::kRegOk);
  plat::RegCloseKey(key);
  UnsetEnv("XDG_CONFIG_HOME");
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
