// Small helpers for the benchmark programs that time whole scenarios rather than functions.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace hv::bench {

// The best (smallest) wall time in seconds of `runs` calls: the least disturbed measurement.
inline double BestSeconds(int runs, const std::function<void()>& body) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  return best;
}

// A unique scratch folder under the system's temporary folder (or, when in_memory and the system
// has one, under /dev/shm), removed at destruction.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name, bool in_memory = false);
  ~ScratchDir();
  const std::u16string& path() const { return path_; }

 private:
  std::u16string path_;
};

// Writes a file without syncing it: the benchmarks want the page cache warm.
void WriteBenchFile(const std::u16string& path, const std::string& bytes);

// The facts of the local servers started by tests/servers/servers.py into the folder named by
// $HV_TEST_SERVERS (servers.env): empty when unavailable.
std::string ServerFact(const std::string& key);

#ifndef _WIN32
// The path of the running program, for benchmarks that measure a scenario in a fresh process.
std::string SelfPath();
#endif

// Resident memory of this process now, and its peak since the last ResetPeakResident(), in
// bytes. Linux only; 0 elsewhere.
uint64_t ResidentBytes();
uint64_t PeakResidentBytes();
void ResetPeakResident();

}  // namespace hv::bench
