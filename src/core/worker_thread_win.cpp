#include <windows.h>

#include <objbase.h>

#include "core/worker_thread.h"

namespace hv {

void InitializeWorkerThread() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

}  // namespace hv
