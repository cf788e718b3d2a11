#include "test_util.h"

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/platform.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {
// The scratch folder lives as long as the process and goes with it.
struct Scratch {
  std::string root;
  Scratch() {
    std::random_device rd;
    fs::path p = fs::temp_directory_path() /
                 ("scptest-" + std::to_string(getpid()) + "-" + std::to_string(rd() % 100000));
    fs::create_directories(p);
    root = p.generic_string();
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

const std::string& ScratchRoot() {
  static Scratch scratch;
  return scratch.root;
}
}  // namespace

std::string TempPath(const std::string& name) { return ScratchRoot() + "/" + name; }

TempDir::TempDir() {
  static int serial = 0;
  path_ = ScratchRoot() + "/d" + std::to_string(++serial);
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string BuiltModulePath(const std::string& name) {
#ifdef _WIN32
  return std::string(SCP_TEST_BIN_DIR) + "/" + name + ".dll";
#else
  return std::string(SCP_TEST_BIN_DIR) + "/lib" + name + ".so";
#endif
}

void SetEnv(const char* name, const char* value) { plat::SetEnvironmentVariable(name, value); }

void UnsetEnv(const char* name) { plat::SetEnvironmentVariable(name, nullptr); }

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}
