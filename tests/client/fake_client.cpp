// A stand-in for the game client in tests: runs for the given number of seconds (default 30).
// On Windows, with --window TITLE, it also shows a top-level window with that title meanwhile.
#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
#ifdef _WIN32
  if (argc > 3 && std::strcmp(argv[2], "--window") == 0) {
    HWND window = CreateWindowExA(0, "STATIC", argv[3], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                                  320, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!window) return 3;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    MSG message;
    while (GetTickCount64() < end) {
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
      Sleep(20);
    }
    return 0;
  }
#endif
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return 0;
}
