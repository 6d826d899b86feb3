// What the shared toolkit logic needs from a platform file layer (file_util_win.cpp,
// file_util_posix.cpp). Internal to core/.
#pragma once

#include <string>
#include <string_view>

namespace hv::platform {

enum class CreateDirectoryResult { Created, AlreadyExists, Failed };

// Creates one folder; AlreadyExists when anything (folder or file) has that name.
CreateDirectoryResult CreateOneDirectory(const std::u16string& path);

// Absolute, canonical form of JoinPath(folder, relative), computed without touching the disk.
// relative has already passed the component rules (no empty, "." or ".." component, no ':').
// out may be a reused buffer: its old contents are replaced.
bool CanonicalJoinedPath(const std::u16string& folder, std::u16string_view relative,
                         std::u16string& out);

}  // namespace hv::platform
