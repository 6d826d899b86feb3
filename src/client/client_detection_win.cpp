#include <windows.h>

#include <tlhelp32.h>

#include "client/client_detection.h"
#include "core/file_util.h"
#include "core/path_win.h"
#include "core/scoped_handle_win.h"

namespace hv {
namespace {

constexpr DWORD kPathBuffer = 520;

bool FullPath(const std::u16string& path, std::wstring& out) {
  wchar_t buffer[kPathBuffer];
  const DWORD length = GetFullPathNameW(W(path), kPathBuffer, buffer, nullptr);
  if (length == 0 || length >= kPathBuffer) return false;
  out.assign(buffer, length);
  return true;
}

bool ImagePathIs(DWORD pid, const std::wstring& wanted) {
  ScopedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process.IsValid()) return false;
  wchar_t image[kPathBuffer];
  DWORD length = kPathBuffer;
  if (!QueryFullProcessImageNameW(process.Get(), 0, image, &length)) return false;
  return _wcsicmp(image, wanted.c_str()) == 0;
}

}  // namespace

bool FindRunningClient(const std::u16string& client_dir, const std::u16string& exe, uint32_t* pid) {
  const std::u16string program = exe.empty() ? std::u16string(kDefaultClientExe) : exe;
  std::wstring full;
  if (!FullPath(JoinPath(client_dir, program), full)) return false;
  const std::u16string name = ClientFileName(program);
  ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, W(name)) != 0) continue;
    if (ImagePathIs(entry.th32ProcessID, full)) {
      if (pid) *pid = entry.th32ProcessID;
      return true;
    }
  }
  return false;
}

}  // namespace hv
