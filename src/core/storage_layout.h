// Where the launcher keeps the game client and its own records: next to the program (portable)
// or in a "Halvoryn" folder of the per-user local application-data folder. Decided once at start
// and read-only afterwards, so every thread reads it without locking.
#pragma once

#include <functional>
#include <string>

namespace hv {

struct StorageLayout {
  // Absolute folders without a trailing separator.
  std::u16string exe_dir;      // folder of the running program
  std::u16string root_dir;     // exe_dir (portable) or the per-user folder
  std::u16string client_dir;   // root_dir\client
  std::u16string state_dir;    // root_dir\state
  std::u16string staging_dir;  // state_dir\staging (inside the state folder)
  std::u16string backup_dir;   // root_dir\backup (beside the client folder)
};

// The platform lookups the layout depends on. Each returns false when the platform cannot answer.
struct FolderLookups {
  std::function<bool(std::u16string& path)> program_path;      // full path of the running program
  std::function<bool(std::u16string& folder)> local_app_data;  // per-user writable data folder
};

// Windows: GetModuleFileNameW, SHGetKnownFolderPath(FOLDERID_LocalAppData).
// POSIX: /proc/self/exe, $XDG_DATA_HOME or else $HOME/.local/share.
FolderLookups PlatformFolderLookups();

// Portable when "portable.txt" (a file) or "client" (a folder) lies next to the program;
// otherwise per-user, falling back to the program's folder when the per-user lookup fails.
// Creates client_dir and state_dir (with their parents); failures there are left to the first
// writer to notice.
StorageLayout InitStorageLayout(const FolderLookups& lookups);

}  // namespace hv
