// Everything an update needs, put together once by the program's entry (or a tool, or a test):
// the configuration, the folders, the settings, the status record and the worker that runs the
// update on a thread of its own. Must outlive every run it started.
#pragma once

#include "core/clock.h"
#include "core/settings.h"
#include "core/storage_layout.h"
#include "net/engine_config.h"
#include "update/engine_context.h"
#include "update/update_status.h"
#include "update/update_worker.h"

namespace hv {

class UpdateEngine {
 public:
  // client_running defaults to the real process test on client_dir.
  UpdateEngine(EngineConfig config, StorageLayout layout, Clock clock = SystemClock(),
               ClientRunningTest client_running = nullptr);

  const EngineConfig& config() const { return config_; }
  const StorageLayout& layout() const { return layout_; }
  const LauncherSettings& settings() const { return settings_; }
  StatusBoard& board() { return board_; }
  // Start (dropped while a run exists), IsRunning, Cancel.
  UpdateWorker& worker() { return worker_; }

 private:
  void RunBody(WorkerMode mode, const CancelFlag& cancel);

  EngineConfig config_;
  StorageLayout layout_;
  LauncherSettings settings_;
  Clock clock_;
  ClientRunningTest client_running_;
  StatusBoard board_;
  UpdateWorker worker_;
};

}  // namespace hv
