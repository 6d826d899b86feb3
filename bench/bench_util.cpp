#include "bench_util.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/file.h"
#include "core/file_util.h"

namespace hv::bench {
namespace fs = std::filesystem;

namespace {

uint64_t StatusField(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == name) {
      uint64_t kib = 0;
      status >> kib;
      return kib * 1024;
    }
  }
  return 0;
}

}  // namespace

std::string ServerFact(const std::string& key) {
  const char* dir = std::getenv("HV_TEST_SERVERS");
  if (!dir) return "";
  std::ifstream facts(fs::path(dir) / "servers.env");
  std::string line;
  while (std::getline(facts, line)) {
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
        line[key.size()] == '=') {
      return line.substr(key.size() + 1);
    }
  }
  return "";
}

ScratchDir::ScratchDir(const std::string& name, bool in_memory) {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
#ifdef _WIN32
  (void)in_memory;  // no such folder there
  const fs::path base = fs::temp_directory_path();
#else
  std::error_code error;
  const fs::path base = in_memory && fs::is_directory("/dev/shm", error)
                            ? fs::path("/dev/shm")
                            : fs::temp_directory_path();
#endif
  const fs::path dir = base / (name + "-" + std::to_string(stamp));
  fs::create_directories(dir);
  path_ = dir.u16string();
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

void WriteBenchFile(const std::u16string& path, const std::string& bytes) {
  EnsureParentDirectory(path);
  File out;
  if (out.Open(path, File::Access::kCreateAlways)) out.Write(bytes.data(), bytes.size());
}

#ifndef _WIN32
std::string SelfPath() {
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}
#endif

uint64_t ResidentBytes() { return StatusField("VmRSS:"); }
uint64_t PeakResidentBytes() { return StatusField("VmHWM:"); }

void ResetPeakResident() {
  // Writing 5 to clear_refs resets the peak resident size (Linux 4.0 and later).
  std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace hv::bench
