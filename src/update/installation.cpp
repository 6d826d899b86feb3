#include "update/installation.h"

#include <unordered_map>
#include <unordered_set>

#include "core/fault_point.h"
#include "core/file.h"
#include "core/file_util.h"
#include "core/text.h"
#include "net/sha256.h"

namespace hv {
namespace {

std::u16string HoldingFolder(const StorageLayout& layout) {
  return JoinPath(layout.state_dir, u"replaced");
}

std::unordered_set<std::u16string> LowerCasePaths(const Manifest& manifest) {
  std::unordered_set<std::u16string> paths;
  for (const ManifestEntry& entry : manifest.entries) paths.insert(AsciiLower(entry.path));
  return paths;
}

// What an installation or a restoration changed, so that a failure can undo it.
class Journal {
 public:
  // Moves the file at from to to (making to's folder) and records the move.
  bool Move(const std::u16string& from, const std::u16string& to) {
    EnsureParentDirectory(to);
    if (!MoveFileReplacing(from, to, true)) return false;
    moves_.push_back({from, to});
    return true;
  }
  void Installed(const std::u16string& path) { installed_.push_back({path, u""}); }
  // An installed file that was moved out of the staging folder from staged, not copied.
  void InstalledFrom(const std::u16string& path, const std::u16string& staged) {
    installed_.push_back({path, staged});
  }

  // Takes the installed files away (those taken from staging go back there for the next
  // attempt), then moves everything back, the last move first.
  void Undo() {
    for (const auto& [path, staged] : installed_) {
      if (staged.empty() || !MoveFileReplacing(path, staged, false)) DeleteFilePath(path);
    }
    for (auto move = moves_.rbegin(); move != moves_.rend(); ++move) {
      MoveFileReplacing(move->to, move->from, false);
    }
    installed_.clear();
    moves_.clear();
  }

 private:
  struct MoveRecord {
    std::u16string from, to;
  };
  struct InstalledRecord {
    std::u16string path, staged;
  };
  std::vector<InstalledRecord> installed_;
  std::vector<MoveRecord> moves_;
};

// Where a replaced client file goes: into the version folder, unless the version folder already
// holds that path (a copy from an interrupted installation: the older original, never
// overwritten), in which case into the holding folder.
std::u16string SetAsidePath(const std::u16string& version_folder, const std::u16string& holding,
                            const std::u16string& path) {
  if (!version_folder.empty()) {
    const std::u16string backup = JoinPath(version_folder, path);
    if (!FileExists(backup)) return backup;
  }
  return JoinPath(holding, path);
}

// Removes every entry of the backup folder but the version folder named keep.
void RemoveOtherBackups(const StorageLayout& layout, const std::u16string& keep) {
  std::vector<DirectoryEntry> entries;
  ListDirectory(layout.backup_dir, entries);
  for (const DirectoryEntry& entry : entries) {
    if (entry.name == keep) continue;
    const std::u16string path = JoinPath(layout.backup_dir, entry.name);
    if (entry.is_directory) {
      RemoveTree(path);
    } else {
      DeleteFilePath(path);
    }
  }
}

bool HoldsFiles(const std::u16string& folder) {
  std::vector<DirectoryEntry> entries;
  ListDirectory(folder, entries);
  for (const DirectoryEntry& entry : entries) {
    if (!entry.is_directory || HoldsFiles(JoinPath(folder, entry.name))) return true;
  }
  return false;
}

void PublishProgress(StatusBoard& board, double progress) {
  board.Update([&](UpdateStatus& status) { status.progress = progress; });
  board.PostStatusChanged();
}

}  // namespace

bool HasUnfinishedBackup(const EngineContext& context, const ManifestCopy& installed) {
  const std::u16string folder = JoinPath(
      context.layout.backup_dir, BackupFolderName(context.layout, installed.manifest.version));
  ManifestCopy kept;
  return DirectoryExists(folder) && !LoadStoredManifest(context, folder, kept);
}

std::u16string BackupFolderName(const StorageLayout& layout, const std::string& version) {
  const std::u16string name = Utf8ToWide(version);
  const bool one_safe_component = name.find_first_of(u"\\/") == std::u16string::npos &&
                                  IsSafeRelativePath(layout.backup_dir, name) &&
                                  !IsReservedDeviceName(name) && WideToUtf8(name) == version;
  if (one_safe_component) return name;
  Sha256Digest digest;
  Sha256Buffer(version.data(), version.size(), digest);
  return u"v-" + HexLower(digest.data(), digest.size());
}

UpdateError InstallFromStaging(EngineContext& context, const ManifestCopy& target,
                               const std::vector<const ManifestEntry*>& download,
                               const ManifestCopy* installed) {
  const StorageLayout& layout = context.layout;
  const bool backup = installed && installed->manifest.version != target.manifest.version;
  const std::u16string holding = HoldingFolder(layout);
  RemoveTree(holding);
  // A version folder of the installed version that exists already is what an interrupted
  // installation left: the originals it moved are nowhere else, so it is kept, and a file in it
  // is never overwritten.
  const std::u16string version_name =
      backup ? BackupFolderName(layout, installed->manifest.version) : u"";
  const std::u16string version_folder = backup ? JoinPath(layout.backup_dir, version_name) : u"";
  if (backup) EnsureDirectory(version_folder);

  Journal journal;
  // Undoes everything; with the stored manifest half written, puts the installed one back too.
  auto roll_back = [&](bool restore_stored) {
    journal.Undo();
    RemoveTree(holding);
    if (restore_stored && installed) StoreManifest(layout.state_dir, *installed, false);
    return UpdateError::ReplaceFailed;
  };

  // A staged content goes into place by a rename where it is needed for the last time (a copy
  // where entries share it): a rename costs nothing, a copy reads and writes the whole file.
  std::unordered_map<std::u16string, size_t> uses;
  for (const ManifestEntry* entry : download) ++uses[entry->sha256];
  const size_t count = download.size();
  for (size_t i = 0; i < count; ++i) {
    const ManifestEntry& entry = *download[i];
    const std::u16string destination = JoinPath(layout.client_dir, entry.path);
    if (FileExists(destination) &&
        !journal.Move(destination, SetAsidePath(version_folder, holding, entry.path))) {
      return roll_back(false);
    }
    FaultPoint("set-aside-file");
    EnsureParentDirectory(destination);
    const std::u16string staged = JoinPath(layout.staging_dir, entry.sha256);
    if (--uses[entry.sha256] == 0 && MoveFileReplacing(staged, destination, false)) {
      journal.InstalledFrom(destination, staged);
    } else if (CopyFileReplacing(staged, destination)) {
      journal.Installed(destination);
    } else {
      return roll_back(false);
    }
    PublishProgress(context.board, static_cast<double>(i + 1) / static_cast<double>(count + 1));
    FaultPoint("installed-file");
  }

  if (backup) {
    const std::unordered_set<std::u16string> kept = LowerCasePaths(target.manifest);
    for (const ManifestEntry& entry : installed->manifest.entries) {
      const std::u16string path = JoinPath(layout.client_dir, entry.path);
      if (kept.contains(AsciiLower(entry.path)) || !FileExists(path)) continue;
      // A file that cannot be moved stays where it is; the installation goes on.
      journal.Move(path, SetAsidePath(version_folder, holding, entry.path));
      FaultPoint("dropped-file");
    }
    // Only now, with every file in place, the older backup goes: a failed installation keeps it.
    RemoveOtherBackups(layout, version_name);
    StoreManifest(version_folder, *installed, false);
    FaultPoint("backup-complete");
  }

  if (!StoreManifest(layout.state_dir, target, true)) return roll_back(true);
  FaultPoint("installed");
  RemoveTree(layout.staging_dir);
  RemoveTree(holding);
  return UpdateError::NoError;
}

UpdateError RestorePreviousVersion(EngineContext& context) {
  const StorageLayout& layout = context.layout;
  const PreviousVersion previous_version = FindPreviousVersion(context);
  if (previous_version.folder.empty()) return UpdateError::RestoreFailed;
  const ManifestCopy& previous = previous_version.copy;
  // A version folder that holds files but no manifest belongs to an installation that was
  // interrupted: the client is partly newer than the previous version, which would not fit.
  std::vector<DirectoryEntry> backups;
  ListDirectory(layout.backup_dir, backups);
  for (const DirectoryEntry& entry : backups) {
    const std::u16string folder = JoinPath(layout.backup_dir, entry.name);
    ManifestCopy unused;
    if (entry.is_directory && folder != previous_version.folder && HoldsFiles(folder) &&
        !LoadStoredManifest(context, folder, unused)) {
      return UpdateError::RestoreFailed;
    }
  }
  // The installed manifest names the program that may be running; a restore run starts before
  // anything has published it.
  ManifestCopy current;
  const bool current_ok = LoadStoredManifest(context, layout.state_dir, current);
  const std::u16string exe = current_ok ? current.manifest.exe : context.board.Snapshot().exe;
  if (context.client_running(exe)) return UpdateError::ClientRunning;

  context.board.Update([](UpdateStatus& status) {
    status.phase = UpdatePhase::Restoring;
    status.progress = 0.0;
  });
  context.board.PostStatusChanged();

  // Every step is recorded, so that a failure leaves the client, the stored manifest and the
  // backup as they were: half of each version would be worse than either, and the next repair
  // would then delete the restored originals for good.
  const std::u16string holding = HoldingFolder(layout);
  RemoveTree(holding);
  Journal journal;
  auto give_up = [&] {
    journal.Undo();
    RemoveTree(holding);
    if (current_ok) StoreManifest(layout.state_dir, current, false);
    return UpdateError::RestoreFailed;
  };

  for (const ManifestEntry& entry : previous.manifest.entries) {
    const std::u16string kept = JoinPath(previous_version.folder, entry.path);
    if (!FileExists(kept)) continue;  // the installation left this file as it was
    const std::u16string path = JoinPath(layout.client_dir, entry.path);
    if (FileExists(path) && !journal.Move(path, JoinPath(holding, entry.path))) return give_up();
    if (!journal.Move(kept, path)) return give_up();
    FaultPoint("restored-file");
  }
  if (current_ok) {
    const std::unordered_set<std::u16string> kept = LowerCasePaths(previous.manifest);
    for (const ManifestEntry& entry : current.manifest.entries) {
      const std::u16string path = JoinPath(layout.client_dir, entry.path);
      if (!kept.contains(AsciiLower(entry.path)) && FileExists(path)) {
        journal.Move(path, JoinPath(holding, entry.path));
      }
    }
  }
  if (!StoreManifest(layout.state_dir, previous, true)) return give_up();
  FaultPoint("restored");
  RemoveTree(layout.backup_dir);
  RemoveTree(holding);
  context.settings.WriteSetting(u"pin_version", Utf8ToWide(previous.manifest.version));
  return UpdateError::NoError;
}

}  // namespace hv
