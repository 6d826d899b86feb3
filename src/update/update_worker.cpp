#include "update/update_worker.h"

#include <system_error>
#include <thread>

namespace hv {

UpdateWorker::UpdateWorker(StatusBoard& board, RunBody body)
    : board_(board), body_(std::move(body)) {}

UpdateWorker::~UpdateWorker() {
  Cancel();
  Wait();
}

void UpdateWorker::Start(StatusNotifier notifier, WorkerMode mode) {
  int32_t idle = 0;
  if (!running_.compare_exchange_strong(idle, 1)) return;
  // The previous run has cleared the flag; at most its final post is still under way.
  Wait();
  board_.SetNotifier(std::move(notifier));
  cancel_.store(0);
  try {
    thread_ = std::thread([this, mode] { Run(mode); });
  } catch (const std::system_error&) {
    running_.exchange(0);
  }
}

void UpdateWorker::Wait() {
  if (thread_.joinable()) thread_.join();
}

bool UpdateWorker::IsRunning() const { return running_.load() != 0; }

void UpdateWorker::Cancel() { cancel_.exchange(1); }

void UpdateWorker::Run(WorkerMode mode) {
  body_(mode, cancel_);
  running_.exchange(0);
  board_.PostStatusChanged();
}

}  // namespace hv
