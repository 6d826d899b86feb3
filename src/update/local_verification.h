// Which manifest entries the client folder lacks or holds wrongly, hashing only the files the
// file cache cannot vouch for. Files the manifest does not list are never looked at.
#pragma once

#include <vector>

#include "update/engine_context.h"
#include "update/manifest.h"

namespace hv {

// Appends to download every entry that must be fetched: first those found wrong without hashing
// (missing, a folder, another size, or a cached digest that differs), then those whose hashing
// failed or gave another digest, each group in manifest order. Publishes phase Verifying with the
// hashing total, and hashing progress. Rewrites "filecache.txt" with the records of the
// manifest's paths. False when the cancel flag was found set while hashing: the list is then
// incomplete and the cache file is left as it was.
bool VerifyInstalledFiles(EngineContext& context, const Manifest& manifest,
                          std::vector<const ManifestEntry*>& download);

}  // namespace hv
