// The platform layer gives the same answers on Linux and on Windows: the
// same results and last-error codes for files, directories, modules,
// resources, registry keys, COM, MulDiv and private heaps. This suite runs
// unchanged on both (on Windows under Wine in CI).
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/resources.h"
#include "support/test_util.h"

#ifdef _WIN32
#include <process.h>
#include "platform/windows_api.h"
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

using plat::Disposition;

// A path built with Windows separators, as the host passes them.
std::string Win(const std::string& dir, const std::string& name) { return dir + "\\" + name; }

class ScopedFile {
 public:
  ScopedFile(const std::string& path, uint32_t access, uint32_t share, Disposition disposition)
      : handle_(plat::CreateFile(path.c_str(), access, share, disposition)), error_(plat::GetLastError()) {}
  ~ScopedFile() {
    if (ok()) plat::CloseFile(handle_);
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  bool ok() const { return handle_ != plat::kInvalidFile; }
  plat::FileHandle get() const { return handle_; }
  uint32_t error() const { return error_; }  // last error right after the open

 private:
  plat::FileHandle handle_;
  uint32_t error_;
};

constexpr uint32_t kRead = plat::kGenericRead;
constexpr uint32_t kWrite = plat::kGenericWrite;
constexpr uint32_t kShareR = plat::kShareRead;
constexpr uint32_t kShareRW = plat::kShareRead | plat::kShareWrite;

// ------------------------------------------------------------ last error

TEST(PlatformLastError, IsPerThread) {
  // Starting and joining a thread may change this thread's last error, so
  // both threads set and read their values while the other one is running.
  uint32_t seen = 1, otherAfterMainSet = 0;
  std::atomic<int> step{0};
  std::thread t([&] {
    seen = plat::GetLastError();
    plat::SetLastError(99);
    step = 1;
    while (step.load() != 2) {
    }
    otherAfterMainSet = plat::GetLastError();
    step = 3;
  });
  while (step.load() != 1) {
  }
  plat::SetLastError(1234);
  step = 2;
  while (step.load() != 3) {
  }
  EXPECT_EQ(plat::GetLastError(), 1234u);
  t.join();
  EXPECT_EQ(seen, 0u);  // a new thread starts clear
  EXPECT_EQ(otherAfterMainSet, 99u);
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

TEST(PlatformFormatMessage, KnownCodesHaveTextUnknownCodesNone) {
  char buf[512];
  for (uint32_t code : {plat::kErrorFileNotFound, plat::kErrorPathNotFound, plat::kErrorAccessDenied,
                        plat::kErrorSharingViolation, plat::kErrorFileExists, plat::kErrorAlreadyExists}) {
    SCOPED_TRACE(code);
    uint32_t n = plat::FormatMessage(code, buf, sizeof buf);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::strlen(buf), n);
    // System texts end with a line break; callers split them into lines.
    EXPECT_EQ(buf[n - 1], '\n');
    const std::string expected = SystemText(code);
    if (!expected.empty()) {
      EXPECT_EQ(std::string(buf), expected);
    }
  }
  std::strcpy(buf, "untouched");
  EXPECT_EQ(plat::FormatMessage(0x2FFFFFFu, buf, sizeof buf), 0u);
  EXPECT_STREQ(buf, "");
  // A text longer than the buffer is cut to it.
  ASSERT_GT(plat::FormatMessage(plat::kErrorFileNotFound, buf, sizeof buf), 6u);
  char small[6];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(plat::FormatMessage(plat::kErrorFileNotFound, small, sizeof small), 5u);
  EXPECT_EQ(std::string(small), std::string(buf, 5));
  EXPECT_EQ(plat::FormatMessage(plat::kErrorFileNotFound, small, 0), 0u);
  EXPECT_EQ(plat::FormatMessage(plat::kErrorFileNotFound, nullptr, 10), 0u);
}

// ----------------------------------------------------------- environment

// The log library reads its file name with the C library's getenv, so a
// change must reach that copy of the environment on both platforms.
TEST(PlatformEnvironment, SetAndRemoveAsGetenvSeesThem) {
  const std::string name = "SCP_PLATFORM_TEST_" + std::to_string(getpid());
  ASSERT_EQ(std::getenv(name.c_str()), nullptr);
  ASSERT_TRUE(plat::SetEnvironmentVariable(name.c_str(), "C:\\logs\\a b.jsonl"));
  ASSERT_NE(std::getenv(name.c_str()), nullptr);
  EXPECT_STREQ(std::getenv(name.c_str()), "C:\\logs\\a b.jsonl");
  ASSERT_TRUE(plat::SetEnvironmentVariable(name.c_str(), "second"));
  EXPECT_STREQ(std::getenv(name.c_str()), "second");
  EXPECT_TRUE(plat::SetEnvironmentVariable(name.c_str(), nullptr));
  EXPECT_EQ(std::getenv(name.c_str()), nullptr);
  ASSERT_TRUE(plat::SetEnvironmentVariable(name.c_str(), "third"));
  EXPECT_TRUE(plat::SetEnvironmentVariable(name.c_str(), ""));
  EXPECT_EQ(std::getenv(name.c_str()), nullptr) << "an empty value removes the variable";
  // Removing what is not there is no failure.
  EXPECT_TRUE(plat::SetEnvironmentVariable(name.c_str(), nullptr));
  // Names without text or with an equals sign are refused.
  for (const char* bad : {static_cast<const char*>(nullptr), "", "A=B"}) {
    EXPECT_FALSE(plat::SetEnvironmentVariable(bad, "x"));
    EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidParameter);
  }
  const char* a = std::getenv("A");
  EXPECT_TRUE(a == nullptr || std::string(a) != "B=x");
}

// ----------------------------------------------------------------- files

class PlatformFiles : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return Win(dir_.path(), name); }
  void Make(const std::string& name, const std::string& content) {
    ASSERT_TRUE(WriteFileBytes(dir_.File(name), std::vector<uint8_t>(content.begin(), content.end())));
  }
  std::string Content(const std::string& name) const {
    auto b = ReadFileBytes(dir_.File(name));
    return std::string(b.begin(), b.end());
  }
  TempDir dir_;
};

// Opens that fail, with the error each leaves: a missing file or folder, a
// folder opened as a file, a new file over an existing one.
TEST_F(PlatformFiles, FailedOpens) {
  Make("a.scp", "old");
  ASSERT_TRUE(plat::CreateDirectory(Path("sub").c_str()));
  const struct {
    const char* name;
    uint32_t access;
    Disposition disposition;
    uint32_t error;
  } cases[] = {{"missing.scp", kRead, Disposition::kOpenExisting, plat::kErrorFileNotFound},
               {"nofolder\\missing.scp", kRead, Disposition::kOpenExisting, plat::kErrorPathNotFound},
               {"nofolder\\new.scp", kWrite, Disposition::kCreateAlways, plat::kErrorPathNotFound},
               {"sub", kRead, Disposition::kOpenExisting, plat::kErrorAccessDenied},
               {"a.scp", kWrite, Disposition::kCreateNew, plat::kErrorFileExists}};
  for (const auto& c : cases) {
    ScopedFile f(Path(c.name), c.access, c.access == kRead ? kShareR : kShareRW, c.disposition);
    EXPECT_FALSE(f.ok()) << c.name;
    EXPECT_EQ(f.error(), c.error) << c.name;
  }
  EXPECT_EQ(Content("a.scp"), "old");
}

TEST_F(PlatformFiles, CreateAlwaysTruncatesAndReportsAlreadyExists) {
  Make("a.scp", "a longer old content");
  {
    ScopedFile f(Path("a.scp"), kWrite, kShareRW, Disposition::kCreateAlways);
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(f.error(), plat::kErrorAlreadyExists);
    uint32_t done = 0;
    ASSERT_TRUE(plat::WriteFile(f.get(), "new", 3, &done));
    EXPECT_EQ(done, 3u);
  }
  EXPECT_EQ(Content("a.scp"), "new");
  ScopedFile g(Path("b.scp"), kWrite, kShareRW, Disposition::kCreateAlways);
  ASSERT_TRUE(g.ok());
  EXPECT_EQ(g.error(), plat::kErrorSuccess);
}

TEST_F(PlatformFiles, ReadSeekAndSize) {
  Make("r.bin", "0123456789");
  ScopedFile f(Path("r.bin"), kRead, kShareR, Disposition::kOpenExisting);
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(plat::GetFileSize(f.get()), 10u);
  char buf[16] = {};
  uint32_t done = 99;
  ASSERT_TRUE(plat::ReadFile(f.get(), buf, 4, &done));
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(plat::SetFilePointer(f.get(), 7), 7u);
  ASSERT_TRUE(plat::ReadFile(f.get(), buf, 16, &done));
  EXPECT_EQ(done, 3u);  // short read at the end
  EXPECT_EQ(std::string(buf, 3), "789");
  // At the end: success with nothing read.
  ASSERT_TRUE(plat::ReadFile(f.get(), buf, 16, &done));
  EXPECT_EQ(done, 0u);
  // Past the end is a valid position; reading there gives nothing.
  EXPECT_EQ(plat::SetFilePointer(f.get(), 1000), 1000u);
  ASSERT_TRUE(plat::ReadFile(f.get(), buf, 16, &done));
  EXPECT_EQ(done, 0u);
  // Before the start is refused.
  EXPECT_EQ(plat::SetFilePointer(f.get(), -1), plat::kInvalidSetFilePointer);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorNegativeSeek);
}

TEST_F(PlatformFiles, AccessIsCheckedPerHandle) {
  Make("rw.bin", "abc");
  char buf[4];
  uint32_t done = 7;
  {
    ScopedFile r(Path("rw.bin"), kRead, kShareRW, Disposition::kOpenExisting);
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(plat::WriteFile(r.get(), "x", 1, &done));
    EXPECT_EQ(plat::GetLastError(), plat::kErrorAccessDenied);
    EXPECT_EQ(done, 0u);
  }
  ScopedFile w(Path("rw.bin"), kWrite, kShareRW, Disposition::kOpenExisting);
  ASSERT_TRUE(w.ok());
  EXPECT_FALSE(plat::ReadFile(w.get(), buf, 1, &done));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorAccessDenied);
}

TEST_F(PlatformFiles, InvalidHandleIsRefused) {
  char buf[4];
  uint32_t done = 0;
  EXPECT_FALSE(plat::CloseFile(plat::kInvalidFile));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidHandle);
  EXPECT_FALSE(plat::ReadFile(plat::kInvalidFile, buf, 1, &done));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidHandle);
  EXPECT_FALSE(plat::WriteFile(plat::kInvalidFile, buf, 1, &done));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidHandle);
}

// Share modes between two handles of this process, as Windows applies them.
TEST_F(PlatformFiles, SecondOpenFollowsTheShareModes) {
  Make("s.bin", "shared");
  const struct {
    const char* name;
    uint32_t firstAccess, firstShare, secondAccess, secondShare;
    bool secondOpens;
  } cases[] = {
      // Two readers that both share reading: the codec reading a file twice.
      {"ReaderThenReader", kRead, kShareR, kRead, kShareR, true},
      // A reader that shares only reading keeps writers out.
      {"ReaderThenWriter", kRead, kShareR, kWrite, kShareRW, false},
      // The save's writer shares both ways, but a reader that does not share
      // writing cannot join it.
      {"WriterThenStrictReader", kWrite, kShareRW, kRead, kShareR, false},
      {"WriterThenSharingReader", kWrite, kShareRW, kRead, kShareRW, true},
      // Nothing shared: nobody else gets in.
      {"ExclusiveThenReader", kRead, 0, kRead, kShareRW, false},
      {"WriterThenWriter", kWrite, kShareRW, kWrite, kShareRW, true}};
  for (const auto& c : cases) {
    ScopedFile first(Path("s.bin"), c.firstAccess, c.firstShare, Disposition::kOpenExisting);
    ASSERT_TRUE(first.ok()) << c.name;
    ScopedFile second(Path("s.bin"), c.secondAccess, c.secondShare, Disposition::kOpenExisting);
    EXPECT_EQ(second.ok(), c.secondOpens) << c.name;
    if (!c.secondOpens) {
      EXPECT_EQ(second.error(), plat::kErrorSharingViolation) << c.name;
    }
  }
}

TEST_F(PlatformFiles, CreateAlwaysOverAHeldFileFailsWithoutTruncating) {
  Make("s.bin", "abc");
  ScopedFile held(Path("s.bin"), kRead, kShareR, Disposition::kOpenExisting);
  ASSERT_TRUE(held.ok());
  ScopedFile over(Path("s.bin"), kWrite, kShareRW, Disposition::kCreateAlways);
  EXPECT_FALSE(over.ok());
  EXPECT_EQ(over.error(), plat::kErrorSharingViolation);
  EXPECT_EQ(plat::GetFileSize(held.get()), 3u);
}

TEST_F(PlatformFiles, SharingEndsWithTheHandle) {
  Make("s.bin", "x");
  {
    ScopedFile first(Path("s.bin"), kRead, 0, Disposition::kOpenExisting);
    ASSERT_TRUE(first.ok());
  }
  ScopedFile second(Path("s.bin"), kWrite, kShareRW, Disposition::kOpenExisting);
  EXPECT_TRUE(second.ok());
}

// ------------------------------------------------------------ directories

TEST_F(PlatformFiles, FindFirstFile) {
  Make("found.scp", "x");
  ASSERT_TRUE(plat::CreateDirectory(Path("folder").c_str()));
  EXPECT_TRUE(plat::FindFirstFile(Path("found.scp").c_str()));
  EXPECT_TRUE(plat::FindFirstFile(Path("folder").c_str()));
  EXPECT_TRUE(plat::FindFirstFile(Path("*.scp").c_str()));
  EXPECT_TRUE(plat::FindFirstFile(Path("f?und.scp").c_str()));
  EXPECT_FALSE(plat::FindFirstFile(Path("*.ecg").c_str()));
  EXPECT_FALSE(plat::FindFirstFile(Path("missing.scp").c_str()));
  EXPECT_FALSE(plat::FindFirstFile(Path("nofolder\\found.scp").c_str()));
  EXPECT_FALSE(plat::FindFirstFile(""));
  EXPECT_FALSE(plat::FindFirstFile(nullptr));
}

TEST_F(PlatformFiles, CreateDirectoryMakesOneLevel) {
  EXPECT_TRUE(plat::CreateDirectory(Path("one").c_str()));
  EXPECT_TRUE(plat::FindFirstFile(Path("one").c_str()));
  EXPECT_TRUE(plat::FindFirstFile(dir_.File("one").c_str())) << "either separator";
  EXPECT_FALSE(plat::CreateDirectory(Path("one").c_str()));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorAlreadyExists);
  EXPECT_FALSE(plat::CreateDirectory(Path("two\\levels").c_str()));
  EXPECT_EQ(plat::GetLastError(), plat::kErrorPathNotFound);
  EXPECT_FALSE(plat::FindFirstFile(Path("two").c_str()));
  // A file inside the new folder can be created.
  ScopedFile f(Path("one\\rec.scp"), kWrite, kShareRW, Disposition::kCreateNew);
  EXPECT_TRUE(f.ok());
}

// ------------------------------------------------------ dynamic modules

// The log library's variants load with their version and exports.
TEST(PlatformModules, LogLibraryVariantsLoadWithVersionAndExports) {
  const struct {
    const char* name;  // as the binding asks for it
    plat::FileVersion version;
    bool hasLogOemMessage, hasLibStart;
  } cases[] = {{"evtlib03.dll", {0, 4, 0, 8}, true, true},
               {"evtlib03_old.dll", {0, 4, 0, 7}, true, true},
               {"evtlib03_noemmsg.dll", {0, 4, 0, 8}, false, true},
               {"evtlib03_nolibstart.dll", {0, 4, 0, 8}, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    plat::ModuleHandle lib = plat::LoadLibrary(c.name);
    ASSERT_NE(lib, nullptr);
    plat::FileVersion v{};
    ASSERT_TRUE(plat::GetModuleFileVersion(lib, &v));
    EXPECT_EQ(v.major, c.version.major);
    EXPECT_EQ(v.minor, c.version.minor);
    EXPECT_EQ(v.build, c.version.build);
    EXPECT_EQ(v.revision, c.version.revision);
    EXPECT_NE(plat::GetProcAddress(lib, "LOGOEMERROR"), nullptr);
    EXPECT_NE(plat::GetProcAddress(lib, "LIBSTOP"), nullptr);
    EXPECT_EQ(plat::GetProcAddress(lib, "LOGOEMMESSAGE") != nullptr, c.hasLogOemMessage);
    EXPECT_EQ(plat::GetProcAddress(lib, "LIBSTART") != nullptr, c.hasLibStart);
    // Exports are undecorated on every target.
    EXPECT_EQ(plat::GetProcAddress(lib, "_LOGOEMERROR@12"), nullptr);
    EXPECT_EQ(plat::GetProcAddress(lib, "NOSUCHEXPORT"), nullptr);
    plat::FreeLibrary(lib);
  }
}

TEST(PlatformModules, MissingLibraryAndNullArguments) {
  EXPECT_EQ(plat::LoadLibrary("no_such_log_library.dll"), nullptr);
  EXPECT_EQ(plat::LoadLibrary(""), nullptr);
  EXPECT_EQ(plat::LoadLibrary(nullptr), nullptr);
  plat::FileVersion v{};
  EXPECT_FALSE(plat::GetModuleFileVersion(nullptr, &v));
  EXPECT_EQ(plat::GetProcAddress(nullptr, "LIBSTART"), nullptr);
  plat::FreeLibrary(nullptr);  // harmless
}

// -------------------------------------------------- this module's resources

TEST(PlatformOwnResources, MessageSaveFailed) {
  plat::ModuleHandle self = plat::ThisModule();
  ASSERT_NE(self, nullptr);
  char buf[256];
  int n = plat::LoadString(self, plat::kMessageSaveFailed, buf, sizeof buf);
  EXPECT_EQ(n, static_cast<int>(sizeof(plat::kMessageSaveFailedText) - 1));
  EXPECT_EQ(std::string(buf), plat::kMessageSaveFailedText);
  EXPECT_STREQ(buf, "QMXDB: Fallimento nello scrivere il documento del test .  Vedere il registro per i dettagli");
  char small[11];
  EXPECT_EQ(plat::LoadString(self, plat::kMessageSaveFailed, small, sizeof small), 10);
  EXPECT_EQ(std::string(small), std::string(plat::kMessageSaveFailedText, 10));
  EXPECT_EQ(plat::LoadString(self, plat::kMessageSaveFailed + 1, buf, sizeof buf), 0);
  EXPECT_EQ(plat::LoadString(self, plat::kMessageSaveFailed, buf, 0), 0);
}

TEST(PlatformOwnResources, VersionResource) {
  plat::ModuleHandle self = plat::ThisModule();
  char desc[64];
  ASSERT_TRUE(plat::GetOwnFileDescription(self, desc, sizeof desc));
  EXPECT_STREQ(desc, plat::kOwnFileDescription);
  char cut[5];
  ASSERT_TRUE(plat::GetOwnFileDescription(self, cut, sizeof cut));
  EXPECT_EQ(std::string(cut), std::string(plat::kOwnFileDescription, 4));
  plat::FileVersion v{};
  ASSERT_TRUE(plat::GetOwnFileVersion(self, &v));
  uint32_t packed = ((uint32_t{v.major} * 256 + v.minor) * 256 + v.build) * 256 + v.revision;
  EXPECT_EQ(packed, static_cast<uint32_t>(SCP_FILE_VERSION_PACKED));
  EXPECT_FALSE(plat::GetOwnFileDescription(nullptr, desc, sizeof desc));
  EXPECT_FALSE(plat::GetOwnFileVersion(nullptr, &v));
}

TEST(PlatformOwnResources, TestOverrideAndRestore) {
  plat::ModuleHandle self = plat::ThisModule();
  const plat::VersionResource custom{plat::kVersionSignature, {1, 2, 3, 4}, "040904e4", "Custom"};
  const plat::VersionResource noTranslation{plat::kVersionSignature, {0, 4, 0, 8}, nullptr, "Ignored"};
  char desc[64];
  plat::FileVersion v{};

  plat::SetOwnVersionResourceForTesting(&custom);
  ASSERT_TRUE(plat::GetOwnFileDescription(self, desc, sizeof desc));
  EXPECT_STREQ(desc, "Custom");
  ASSERT_TRUE(plat::GetOwnFileVersion(self, &v));
  EXPECT_EQ(v.major, 1);
  EXPECT_EQ(v.revision, 4);

  plat::SetOwnVersionResourceForTesting(&noTranslation);
  EXPECT_FALSE(plat::GetOwnFileDescription(self, desc, sizeof desc));
  EXPECT_STREQ(desc, "");
  ASSERT_TRUE(plat::GetOwnFileVersion(self, &v));
  EXPECT_EQ(v.minor, 4);

  plat::SetOwnVersionResourceForTesting(nullptr);
  ASSERT_TRUE(plat::GetOwnFileDescription(self, desc, sizeof desc));
  EXPECT_STREQ(desc, plat::kOwnFileDescription);
}

// -------------------------------------------------------------- registry

// Keys go to a folder of their own on POSIX and to a key of their own on
// Windows, removed afterwards.
class PlatformRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnv("XDG_CONFIG_HOME", dir_.path().c_str());
    base_ = "Software\\ScpPlatformTest" + std::to_string(getpid());
    phi_ = base_ + "\\Miravel 4\\PHI";
  }
  void TearDown() override {
#ifdef _WIN32
    ::RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, base_.c_str());
#endif
    UnsetEnv("XDG_CONFIG_HOME");
  }
  void AddSubkey(const std::string& name) {
    plat::RegKey k = nullptr;
    ASSERT_EQ(plat::RegCreateKey((phi_ + "\\" + name).c_str(), "CLASS", &k), plat::kRegOk);
    plat::RegCloseKey(k);
  }
  std::vector<std::string> Enumerate(plat::RegKey key) {
    std::vector<std::string> names;
    char name[256];
    for (uint32_t i = 0; plat::RegEnumKey(key, i, name, sizeof name) == plat::kRegOk; ++i) names.push_back(name);
    return names;
  }
  TempDir dir_;
  std::string base_, phi_;
};

TEST_F(PlatformRegistry, OpenMissingThenCreate) {
  plat::RegKey key = nullptr;
  EXPECT_EQ(plat::RegOpenKey(phi_.c_str(), &key), static_cast<long>(plat::kErrorFileNotFound));
  ASSERT_EQ(plat::RegCreateKey(phi_.c_str(), "CLASS", &key), plat::kRegOk);
  ASSERT_NE(key, nullptr);
  char name[256];
  EXPECT_EQ(plat::RegEnumKey(key, 0, name, sizeof name), static_cast<long>(plat::kErrorNoMoreItems));
  plat::RegCloseKey(key);
  key = nullptr;
  ASSERT_EQ(plat::RegOpenKey(phi_.c_str(), &key), plat::kRegOk);
  plat::RegCloseKey(key);
  // Creating an existing key opens it.
  ASSERT_EQ(plat::RegCreateKey(phi_.c_str(), "CLASS", &key), plat::kRegOk);
  plat::RegCloseKey(key);
}

TEST_F(PlatformRegistry, EnumeratesSubkeysInNameOrder) {
  for (const char* n : {"k3", "k1", "k20", "k2"}) AddSubkey(n);
  plat::RegKey key = nullptr;
  ASSERT_EQ(plat::RegOpenKey(phi_.c_str(), &key), plat::kRegOk);
  EXPECT_EQ(Enumerate(key), (std::vector<std::string>{"k1", "k2", "k20", "k3"}));
  char name[256];
  EXPECT_EQ(plat::RegEnumKey(key, 4, name, sizeof name), static_cast<long>(plat::kErrorNoMoreItems));
  // A name longer than the buffer is not cut: more data is available.
  char tiny[3];
  EXPECT_EQ(plat::RegEnumKey(key, 2, tiny, sizeof tiny), 234L);
  plat::RegCloseKey(key);
}

TEST_F(PlatformRegistry, CaseInNamesFollowsTheSystem) {
  for (const char* n : {"b", "C", "a", "k7x", "K7X"}) AddSubkey(n);
  plat::RegKey key = nullptr;
  ASSERT_EQ(plat::RegOpenKey(phi_.c_str(), &key), plat::kRegOk);
#ifdef _WIN32
  // Registry names are case-insensitive, in both order and identity.
  EXPECT_EQ(Enumerate(key), (std::vector<std::string>{"a", "b", "C", "k7x"}));
#else
  // Folder names: byte order, capitals first, and case-sensitive.
  EXPECT_EQ(Enumerate(key), (std::vector<std::string>{"C", "K7X", "a", "b", "k7x"}));
#endif
  plat::RegCloseKey(key);
}

TEST_F(PlatformRegistry, LongestNamesFitTheLookupBuffer) {
  // The registered-key lookup reads names into 256 characters; a key name
  // may be 255 characters long.
  std::string longest(255, 'k');
  plat::RegKey key = nullptr;
  ASSERT_EQ(plat::RegCreateKey(phi_.c_str(), "CLASS", &key), plat::kRegOk);
#ifdef _WIN32
  // Made relative to the open key: Wine's ANSI registry calls refuse a full
  // path beyond 260 characters.
  HKEY sub = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(static_cast<HKEY>(key), longest.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub,
                              nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(sub);
#else
  AddSubkey(longest);
#endif
  EXPECT_EQ(Enumerate(key), std::vector<std::string>{longest});
  plat::RegCloseKey(key);
}

// ------------------------------------------------------------------- COM

TEST(PlatformCom, ApartmentIsCountedPerThread) {
  ASSERT_EQ(plat::CoInitializeEx(), plat::kSOk);
  EXPECT_EQ(plat::CoInitializeEx(), plat::kSFalse);
  long other = -1;
  std::thread t([&] {
    other = plat::CoInitializeEx();
    if (other >= 0) plat::CoUninitialize();
  });
  t.join();
  EXPECT_EQ(other, plat::kSOk);
  plat::CoUninitialize();
  plat::CoUninitialize();
  // Fully left: the next entry is a first one again.
  EXPECT_EQ(plat::CoInitializeEx(), plat::kSOk);
  plat::CoUninitialize();
}

TEST(PlatformCom, GuidsAreRandomVersion4AndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    plat::Guid g{};
    ASSERT_EQ(plat::CoCreateGuid(&g), plat::kSOk);
    EXPECT_EQ(g.data3 >> 12, 4) << "version nibble";
    EXPECT_EQ(g.data4[0] & 0xC0, 0x80) << "variant bits";
    seen.insert(std::string(reinterpret_cast<const char*>(&g), sizeof g));
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_NE(plat::CoCreateGuid(nullptr), plat::kSOk);
}

// ------------------------------------------------------------ local time

TEST(PlatformLocalTime, AgreesWithTheCLibrary) {
  plat::SystemTime st{};
  std::time_t before = std::time(nullptr);
  plat::GetLocalTime(&st);
  std::time_t after = std::time(nullptr);
  // Fields out of range would move the time mktime makes of them.
  EXPECT_GE(st.year, 2020);
  EXPECT_LE(st.second, 59);
  EXPECT_LE(st.milliseconds, 999);
  std::tm tm{};
  tm.tm_year = st.year - 1900;
  tm.tm_mon = st.month - 1;
  tm.tm_mday = st.day;
  tm.tm_hour = st.hour;
  tm.tm_min = st.minute;
  tm.tm_sec = st.second;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  EXPECT_GE(t, before - 1);
  EXPECT_LE(t, after + 1);
  EXPECT_EQ(tm.tm_wday, st.dayOfWeek);
}

// ------------------------------------------------------------- arithmetic

TEST(PlatformArithmetic, MulDivMatchesWindows) {
  const int32_t cases[][4] = {  // a, b, c, a * b / c
      {0, 5, 3, 0}, {1, 1, 3, 0}, {2, 1, 3, 1}, {-2, 1, 3, -1},
      // Halves go away from zero whatever the signs.
      {10, 3, 4, 8}, {-10, 3, 4, -8}, {10, -3, 4, -8}, {-10, -3, 4, 8}, {10, 3, -4, -8}, {-10, 3, -4, 8},
      {7, 1, 2, 4}, {-5, 1, 2, -3},
      // The 64-bit intermediate keeps large products exact.
      {INT_MAX, INT_MAX, INT_MAX, INT_MAX}, {100000, 100000, 1000, 10000000}, {-INT_MAX, 1, 1, -INT_MAX},
      // Division by zero and results beyond 32 bits give -1.
      {1, 1, 0, -1}, {0, 0, 0, -1}, {65536, 32768, 1, -1}, {-65536, 32768, 1, -1}, {INT_MIN, 1, 1, -1},
      {INT_MAX, 2, 1, -1},
      // Unit conversions the codec does.
      {7000, 254, 1000, 1778}, {1778, 1000, 254, 7000}, {70, 100000, 453, 15453}, {8, 1, 3, 3}};
  for (const auto& m : cases) EXPECT_EQ(plat::MulDiv(m[0], m[1], m[2]), m[3]) << m[0] << " * " << m[1] << " / " << m[2];
}

TEST(PlatformCpu, MmxOnEveryX86AndTheBuildStamp) {
#if defined(__i386__) || defined(__x86_64__)
  // Every 64-bit x86 and every processor this system supports has MMX.
  EXPECT_TRUE(plat::HasMmx());
#else
  EXPECT_FALSE(plat::HasMmx());
#endif
  // The build stamp in the compiler's forms.
  std::string date = plat::BuildDate(), time = plat::BuildTime();
  ASSERT_EQ(date.size(), 11u);  // "May  7 2017"
  EXPECT_EQ(date[3], ' ');
  EXPECT_EQ(date[6], ' ');
  ASSERT_EQ(time.size(), 8u);   // "15:19:22"
  EXPECT_EQ(time[2], ':');
  EXPECT_EQ(time[5], ':');
}

// ----------------------------------------------------------- private heaps

TEST(PlatformHeap, BlocksAreUsableAndFreedWithTheHeap) {
  plat::HeapHandle heap = plat::HeapCreate();
  ASSERT_NE(heap, nullptr);
  std::vector<uint8_t*> blocks;
  // The last two are record-buffer sized, which the heap places apart.
  for (size_t size : {size_t{1}, size_t{16}, size_t{4096}, size_t{1} << 20, size_t{9} << 20, size_t{12} << 20}) {
    auto* p = static_cast<uint8_t*>(plat::HeapAlloc(heap, size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(uint64_t), 0u);
    std::memset(p, static_cast<int>(size & 0xFF), size);
    blocks.push_back(p);
  }
  // No block overlaps another.
  EXPECT_EQ(blocks[0][0], 1);
  EXPECT_EQ(blocks[1][15], 16);
  EXPECT_EQ(blocks[4][(size_t{9} << 20) - 1], 0);
  plat::HeapFree(heap, blocks[1]);
  plat::HeapFree(heap, blocks[4]);
  plat::HeapFree(heap, nullptr);  // harmless
  EXPECT_NE(plat::HeapAlloc(heap, 0), nullptr);
  // The rest go with the heap; without a heap there is no block.
  plat::HeapDestroy(heap);
  EXPECT_EQ(plat::HeapAlloc(nullptr, 16), nullptr);
  plat::HeapFree(nullptr, nullptr);
  plat::HeapDestroy(nullptr);
}

}  // namespace
