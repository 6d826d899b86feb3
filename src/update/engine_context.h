// What the steps of an update run share: the configuration, the folders, the settings, the status
// record, the cancel flag, and the seams tests replace (the clock, the client-running test).
// Built by the run; every step takes it.
#pragma once

#include <functional>
#include <string>

#include "core/cancel_flag.h"
#include "core/clock.h"
#include "core/settings.h"
#include "core/storage_layout.h"
#include "net/engine_config.h"
#include "update/update_status.h"

namespace hv {

// Whether the game client runs, given the exe of the installed manifest ("" when none).
using ClientRunningTest = std::function<bool(const std::u16string& exe)>;

struct EngineContext {
  const EngineConfig& config;
  const StorageLayout& layout;
  const LauncherSettings& settings;
  StatusBoard& board;
  const CancelFlag& cancel;
  const Clock& clock;
  ClientRunningTest client_running;
};

}  // namespace hv
