#include "core/fault_point.h"

#include <atomic>
#include <cstdlib>
#include <string>

namespace hv {

[[noreturn]] void KillSelf();  // fault_point_win.cpp, fault_point_posix.cpp

void FaultPoint(const char* name) {
  static const std::string wanted = [] {
    const char* value = std::getenv("HV_FAULT_POINT");
    return std::string(value ? value : "");
  }();
  if (wanted.empty()) return;
  const size_t colon = wanted.rfind(':');
  const std::string point = wanted.substr(0, colon);
  if (point != name) return;
  static std::atomic<long> arrivals{0};
  const long at = colon == std::string::npos ? 1 : std::atol(wanted.c_str() + colon + 1);
  if (++arrivals == at) KillSelf();
}

}  // namespace hv
