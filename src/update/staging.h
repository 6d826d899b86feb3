// Brings every content the client lacks into the staging folder before anything in the client
// folder is touched: each distinct content once, in ascending digest order, verified by size and
// SHA-256 as it arrives, and stored under its digest ("<digest>.part" while downloading).
// Contents staged by an earlier attempt are reused once their digest is computed again.
#pragma once

#include <vector>

#include "update/engine_context.h"
#include "update/manifest.h"

namespace hv {

// Free space needed beyond the downloads themselves.
constexpr uint64_t kStagingMargin = 64ull * 1024 * 1024;

// 0, or the code of the first failure (nothing later is attempted): ConnectionDropped for network
// failures, HTTP errors, cancellation or an unwritable staging folder; DownloadAltered for a wrong
// size or digest; DiskSpace when the volume lacks the space (the required amount is then in the
// status' error_detail); ReplaceFailed when a verified download cannot take its final name.
// Publishes phase Downloading and byte progress.
UpdateError StageDownloads(EngineContext& context,
                           const std::vector<const ManifestEntry*>& download);

}  // namespace hv
