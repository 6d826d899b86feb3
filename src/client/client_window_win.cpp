#include "client/client_window_win.h"

#include <cwchar>

namespace hv {
namespace {

constexpr int kTitleBuffer = 256;

struct Search {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK Consider(HWND window, LPARAM user) {
  auto& search = *reinterpret_cast<Search*>(user);
  DWORD owner_pid = 0;
  GetWindowThreadProcessId(window, &owner_pid);
  if (owner_pid != search.pid || !IsWindowVisible(window) || GetWindow(window, GW_OWNER)) {
    return TRUE;
  }
  wchar_t title[kTitleBuffer];
  if (GetWindowTextW(window, title, kTitleBuffer) <= 0 || !wcsstr(title, L"Halvoryn")) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

HWND FindClientWindow(DWORD pid) {
  Search search{pid, nullptr};
  EnumWindows(Consider, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace hv
