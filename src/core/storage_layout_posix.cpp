#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/storage_layout.h"
#include "core/text.h"

namespace hv {
namespace {

bool ProgramPath(std::u16string& path) {
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return false;
  path = Utf8ToWide(std::string_view(buffer, static_cast<size_t>(length)));
  return true;
}

bool IsAbsolute(const char* value) { return value && value[0] == '/'; }

// The XDG base directory rules: $XDG_DATA_HOME when set to an absolute path, else
// $HOME/.local/share.
bool LocalAppData(std::u16string& folder) {
  if (const char* data_home = std::getenv("XDG_DATA_HOME"); IsAbsolute(data_home)) {
    folder = Utf8ToWide(data_home);
    return true;
  }
  if (const char* home = std::getenv("HOME"); IsAbsolute(home)) {
    folder = Utf8ToWide(std::string(home) + "/.local/share");
    return true;
  }
  return false;
}

}  // namespace

FolderLookups PlatformFolderLookups() { return {ProgramPath, LocalAppData}; }

}  // namespace hv
