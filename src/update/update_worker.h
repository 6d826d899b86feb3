// At most one update run at a time, on a thread of its own. The interface starts, cancels and
// observes it; the run itself reads the mode it was started with and the cancel flag.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "core/cancel_flag.h"
#include "update/update_status.h"

namespace hv {

// Destroying the worker cancels a run still busy and waits for it to end (within one chunk of
// its work), so that no run outlives what it uses.
class UpdateWorker {
 public:
  // The body of one run. It publishes through the board; the worker clears the running flag
  // after it returns and then posts once more, so that a window that painted the run's last
  // post while the flag was still set paints again with the worker idle.
  using RunBody = std::function<void(WorkerMode mode, const CancelFlag& cancel)>;

  UpdateWorker(StatusBoard& board, RunBody body);
  ~UpdateWorker();
  UpdateWorker(const UpdateWorker&) = delete;
  UpdateWorker& operator=(const UpdateWorker&) = delete;

  // Starts one run unless one exists (the request is then dropped, not queued). The notifier
  // becomes the board's target. Nothing is reported when the thread cannot be created.
  void Start(StatusNotifier notifier, WorkerMode mode);
  bool IsRunning() const;
  // Asks the current run to stop; does not wait for it.
  void Cancel();
  // Waits until the last run started has ended, its final post included.
  void Wait();

 private:
  void Run(WorkerMode mode);

  StatusBoard& board_;
  RunBody body_;
  std::atomic<int32_t> running_{0};
  CancelFlag cancel_{0};
  std::thread thread_;  // touched only by the thread that starts runs
};

}  // namespace hv
