// Puts the staged files into the client folder, keeping a backup of the version they replace,
// and brings that previous version back on request.
//
// When the installation changes the version, every client file it overwrites, and every file of
// the old version the new one no longer lists, moves into a version folder of the backup folder
// (named after the old version), which receives the old manifest last. Without a version change
// (a repair, a republished version, a first installation over files already there) replaced
// files move into a holding folder of the state folder instead. Either way, any failure moves
// everything back: the client folder is left as it was. The stored manifest of the state folder
// is written only once every file is in place: it marks the installation complete.
#pragma once

#include <vector>

#include "update/engine_context.h"
#include "update/manifest_copies.h"

namespace hv {

// installed: the valid installed manifest, or null; a backup is made when its version differs
// from the target's. An older backup is removed only once every file is in place, so a failed
// installation keeps it. Returns 0 or ReplaceFailed (after a complete rollback). Publishes
// installing progress: i / (N + 1) after the i-th of N files.
UpdateError InstallFromStaging(EngineContext& context, const ManifestCopy& target,
                               const std::vector<const ManifestEntry*>& download,
                               const ManifestCopy* installed);

// Brings back the version kept in the backup folder, stores its manifest, removes the backup and
// pins that version. Refused while an interrupted installation's backup lies beside it. Returns 0,
// ClientRunning or RestoreFailed (with everything moved back, the client, the stored manifest, the
// backup and the pin as they were). Publishes phase Restoring.
UpdateError RestorePreviousVersion(EngineContext& context);

// The version folder of installed exists without its manifest: an installation from that version
// was interrupted before its backup was complete.
bool HasUnfinishedBackup(const EngineContext& context, const ManifestCopy& installed);

// The version folder's name: the version itself when it is one safe folder name, otherwise
// "v-" and the SHA-256 of its bytes, so that no version can reach outside the backup folder or
// stop backups from working. Readers take the version from the manifest inside, never the name.
std::u16string BackupFolderName(const StorageLayout& layout, const std::string& version);

}  // namespace hv
