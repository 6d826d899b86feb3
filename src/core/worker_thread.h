// Per-thread set-up of the platform for a background worker.
#pragma once

namespace hv {

// Windows: component-object services in the multithreaded model, never undone (the thread owns
// no objects that would need it). Elsewhere nothing.
void InitializeWorkerThread();

}  // namespace hv
