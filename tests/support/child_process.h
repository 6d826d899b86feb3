// A program started by a test and stopped (killed) when the test ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hv::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Start(const std::u16string& program, const std::vector<std::u16string>& arguments);
  uint32_t pid() const { return pid_; }
  void Stop();

 private:
  uint32_t pid_ = 0;
  void* process_ = nullptr;  // the process handle on Windows
};

// Copies a program file, keeping it runnable.
bool CopyProgram(const std::u16string& from, const std::u16string& to);

}  // namespace hv::test
