#include "core/worker_thread.h"

namespace hv {

void InitializeWorkerThread() {}

}  // namespace hv
