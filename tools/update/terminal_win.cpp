#include <windows.h>

#include <cstdio>

#include "core/text.h"
#include "terminal.h"

namespace hv::runner {
namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

// A console takes UTF-16 as it is; a pipe or a file gets UTF-8 bytes, whatever the code page.
void Write(DWORD which, FILE* stream, std::u16string_view text) {
  const HANDLE handle = GetStdHandle(which);
  if (IsConsole(handle)) {
    DWORD written = 0;
    WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = WideToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

}  // namespace

bool OutputIsTerminal() { return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE)); }

void WriteOut(std::u16string_view text) { Write(STD_OUTPUT_HANDLE, stdout, text); }

void WriteError(std::u16string_view text) { Write(STD_ERROR_HANDLE, stderr, text); }

}  // namespace hv::runner
