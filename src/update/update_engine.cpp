#include "update/update_engine.h"

#include "client/client_detection.h"
#include "core/worker_thread.h"
#include "update/update_run.h"

namespace hv {

UpdateEngine::UpdateEngine(EngineConfig config, StorageLayout layout, Clock clock,
                           ClientRunningTest client_running)
    : config_(std::move(config)),
      layout_(std::move(layout)),
      settings_(layout_.state_dir),
      clock_(std::move(clock)),
      client_running_(std::move(client_running)),
      worker_(board_,
              [this](WorkerMode mode, const CancelFlag& cancel) { RunBody(mode, cancel); }) {
  if (!client_running_) {
    client_running_ = [this](const std::u16string& exe) {
      return FindRunningClient(layout_.client_dir, exe);
    };
  }
}

void UpdateEngine::RunBody(WorkerMode mode, const CancelFlag& cancel) {
  InitializeWorkerThread();
  EngineContext context{config_, layout_, settings_, board_, cancel, clock_, client_running_};
  RunUpdate(context, mode);
}

}  // namespace hv
