// The game client's own window, and the state of a watched client start. Windows only: the
// launch and its watch belong to the interface.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/scoped_handle_win.h"

namespace hv {

// The first top-level window of process pid that is visible, has no owner, and has a non-empty
// title containing "Halvoryn" (case-sensitive); null when none does.
HWND FindClientWindow(DWORD pid);

// A client start being watched until its window appears, it exits or the time runs out. Lives on
// the interface thread only.
struct ClientLaunchState {
  bool launchWatchActive = false;  // Play does nothing while set
  int32_t watchTicks = 0;          // timer ticks since the start (drives the splash animation)
  uint32_t startTick = 0;          // tick count when the process was created
  ScopedKernelHandle process;
  ScopedKernelHandle thread;
  DWORD processId = 0;
  DWORD threadId = 0;
  HWND splashWindow = nullptr;
};

}  // namespace hv
