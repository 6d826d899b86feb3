// The path form the POSIX file layer hands to the OS, and file times in the toolkit's unit.
#pragma once

#include <time.h>

#include <cstdint>
#include <string>

namespace hv {

// UTF-8 with every backslash turned into '/'.
std::string NativePath(const std::u16string& path);

// Absolute and lexically normal, with '/' separators: empty and "." components dropped, ".."
// taking back the component before it; a relative path starts from the current folder. The disk
// is not consulted, so links are not resolved. False when the current folder is unknown.
bool LexicalFullPath(const std::u16string& path, std::u16string& out);

// 100 ns intervals since 1601-01-01 UTC, the unit the Windows layer reports.
uint64_t FileTimeFromTimespec(const timespec& time);

}  // namespace hv
