#include <windows.h>

#include "core/path_win.h"
#include "core/settings.h"

// The profile functions serialise their calls inside the process, which gives the atomicity the
// settings promise between the interface and the update worker.

namespace hv {
namespace {

constexpr DWORD kValueBuffer = 1024;

}  // namespace

std::u16string LauncherSettings::ReadSetting(std::u16string_view key,
                                             std::u16string_view default_value) const {
  const std::u16string key_text(key), default_text(default_value);
  wchar_t buffer[kValueBuffer];
  const DWORD length = GetPrivateProfileStringW(L"launcher", W(key_text), W(default_text), buffer,
                                                kValueBuffer, W(file_));
  return FromW(buffer, length);
}

void LauncherSettings::WriteSetting(std::u16string_view key, std::u16string_view value) const {
  const std::u16string key_text(key), value_text(value);
  WritePrivateProfileStringW(L"launcher", W(key_text), W(value_text), W(file_));
}

}  // namespace hv
