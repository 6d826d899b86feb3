// UTF-16 text at Win32 calls, and the path form the Windows file layer hands to them.
#pragma once

#include <string>

namespace hv {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

inline const wchar_t* W(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline std::u16string FromW(const wchar_t* text, size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// The extended-length ("\\?\") form of a path, so that every path the toolkit accepts works
// beyond the classic 260-unit limit. The prefix turns off Win32 path parsing, so that parsing
// (either separator, ".", "..", relative paths) is done first by GetFullPathNameW, which has no
// such limit. Device paths ("\\.\") and paths that already carry the prefix are kept as they are.
std::wstring ExtendedPath(const std::u16string& path);

}  // namespace hv
