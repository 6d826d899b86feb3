// The path form the POSIX file layer hands to the OS, and file times in the toolkit's unit.
#pragma once

#include <time.h>

#include <cstdint>
#include <string>

namespace hv {

// UTF-8 with every backslash turned into '/'.
std::string NativePath(const std::u16string& path);

// 100 ns intervals since 1601-01-01 UTC, the unit the Windows layer reports.
uint64_t FileTimeFromTimespec(const timespec& time);

}  // namespace hv
