// What the steps of an update run share: the configuration, the folders, the status record, the
// cancel flag and the clock. Built by the run; every step takes it.
#pragma once

#include "core/cancel_flag.h"
#include "core/clock.h"
#include "core/storage_layout.h"
#include "net/engine_config.h"
#include "update/update_status.h"

namespace hv {

struct EngineContext {
  const EngineConfig& config;
  const StorageLayout& layout;
  StatusBoard& board;
  const CancelFlag& cancel;
  const Clock& clock;
};

}  // namespace hv
