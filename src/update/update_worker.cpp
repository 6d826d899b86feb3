#include "update/update_worker.h"

#include <system_error>
#include <thread>

namespace hv {

UpdateWorker::UpdateWorker(StatusBoard& board, RunBody body)
    : board_(board), body_(std::move(body)) {}

void UpdateWorker::Start(StatusNotifier notifier, WorkerMode mode) {
  int32_t idle = 0;
  if (!running_.compare_exchange_strong(idle, 1)) return;
  board_.SetNotifier(std::move(notifier));
  cancel_.store(0);
  try {
    // Nobody joins the thread: the program may end while a run is still busy, after raising
    // the cancel flag; whatever the run leaves behind, the next run repairs.
    std::thread([this, mode] { Run(mode); }).detach();
  } catch (const std::system_error&) {
    running_.exchange(0);
  }
}

bool UpdateWorker::IsRunning() const { return running_.load() != 0; }

void UpdateWorker::Cancel() { cancel_.exchange(1); }

void UpdateWorker::Run(WorkerMode mode) {
  body_(mode, cancel_);
  running_.exchange(0);
  board_.PostStatusChanged();
}

}  // namespace hv
