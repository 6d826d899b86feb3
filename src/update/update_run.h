// One run of the update worker: check the server, choose the manifest the client must match,
// verify the installed files, download what differs, install it with a backup, and end in a
// state the interface can show: ready (up to date, or usable offline) or failed with a reason.
// A restore run first brings back the previous version, then checks as usual.
#pragma once

#include "update/engine_context.h"
#include "update/manifest.h"

namespace hv {

// The launcher's own version, compared with a manifest's launcher_min.
bool LauncherIsOutdated(const EngineConfig& config, const Manifest& remote);

void RunUpdate(EngineContext& context, WorkerMode mode);

// Refreshes the installation facts of the status: the previous version in the backup folder, the
// pin, and (when manifest is given) the installed version, exe and file count, plus its notes and
// privacy address where the status has none yet; and the time of this check. Posts nothing.
void PublishInstalledInfo(EngineContext& context, const Manifest* manifest);

}  // namespace hv
