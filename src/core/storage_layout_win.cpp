#include <windows.h>

#include <shlobj.h>

#include "core/path_win.h"
#include "core/storage_layout.h"

namespace hv {
namespace {

constexpr DWORD kProgramPathBuffer = 520;

bool ProgramPath(std::u16string& path) {
  wchar_t buffer[kProgramPathBuffer];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, kProgramPathBuffer);
  // A length equal to the buffer means the path was cut.
  if (length == 0 || length >= kProgramPathBuffer) return false;
  path = FromW(buffer, length);
  return true;
}

bool LocalAppData(std::u16string& folder) {
  PWSTR found = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &found);
  const bool ok = SUCCEEDED(result) && found;
  if (ok) folder = FromW(found, wcslen(found));
  CoTaskMemFree(found);
  return ok;
}

}  // namespace

FolderLookups PlatformFolderLookups() { return {ProgramPath, LocalAppData}; }

}  // namespace hv
