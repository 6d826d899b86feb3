// What the shared toolkit logic needs from a platform file layer (file_util_win.cpp,
// file_util_posix.cpp). Internal to core/.
#pragma once

#include <string>

namespace hv::platform {

enum class CreateDirectoryResult { Created, AlreadyExists, Failed };

// Creates one folder; AlreadyExists when anything (folder or file) has that name.
CreateDirectoryResult CreateOneDirectory(const std::u16string& path);

// Absolute, canonical form of path, computed without touching the disk.
bool CanonicalFullPath(const std::u16string& path, std::u16string& out);

}  // namespace hv::platform
