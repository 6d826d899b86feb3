#include "update/update_run.h"

#include "core/text.h"
#include "update/installation.h"
#include "update/local_verification.h"
#include "update/manifest_copies.h"
#include "update/staging.h"

namespace hv {
namespace {

using Downloads = std::vector<const ManifestEntry*>;

// The manifest the client must match, and what becomes of the pin.
struct Target {
  const ManifestCopy* copy = nullptr;
  bool is_remote = false;
};

class Run {
 public:
  explicit Run(EngineContext& context) : context_(context), board_(context.board) {}

  void Execute(WorkerMode mode) {
    board_.Update([](UpdateStatus& status) {
      status.error_code = UpdateError::NoError;
      status.error_detail.clear();
      status.ready = false;
      status.progress = 0.0;
    });
    if (mode == WorkerMode::RestoreRun) {
      const UpdateError restored = RestorePreviousVersion(context_);
      if (restored != UpdateError::NoError) return Fail(restored);
    }
    board_.Update([](UpdateStatus& status) {
      status.phase = UpdatePhase::Checking;
      status.progress = 0.0;
    });
    board_.PostStatusChanged();

    local_ok_ = LoadStoredManifest(context_, context_.layout.state_dir, local_);
    if (local_ok_) {
      board_.Update([this](UpdateStatus& status) { TakeInstalledFacts(status, local_.manifest); });
      board_.PostStatusChanged();
    }
    fetched_ = FetchRemoteManifest(context_, remote_.text, remote_.signature);
    remote_ok_ =
        fetched_ && AcceptManifest(context_, remote_.text, remote_.signature, remote_.manifest);
    if (remote_ok_) {
      board_.Update([this](UpdateStatus& status) {
        status.remote_version = remote_.manifest.version;
        status.remote_min_version = remote_.manifest.min_version;
        status.notes_pt = remote_.manifest.notes_pt;
        status.notes_en = remote_.manifest.notes_en;
        status.privacy_url = remote_.manifest.privacy_url;
        status.launcher_outdated = LauncherIsOutdated(context_.config, remote_.manifest);
      });
    } else if (!local_ok_) {
      PublishInstalledInfo(context_, nullptr);
      return Fail(fetched_ ? UpdateError::InvalidManifest : UpdateError::NoConnectionNoClient);
    } else if (fetched_) {
      PublishInstalledInfo(context_, &local_.manifest);
    }

    const Target target = ChooseTarget();
    Downloads download;
    if (!VerifyInstalledFiles(context_, target.copy->manifest, download)) {
      return Fail(UpdateError::ConnectionDropped, u"cancel");
    }
    if (download.empty()) return FinishMatching(target);
    if (!remote_ok_) {
      PublishInstalledInfo(context_, local_ok_ ? &local_.manifest : nullptr);
      return Fail(UpdateError::NoConnectionNoClient);
    }
    UpdateError code = StageDownloads(context_, download);
    if (code == UpdateError::NoError) code = InstallTarget(target, download);
    if (code != UpdateError::NoError) return FallBack(target, code);
    ConfirmInstallation(target);
  }

 private:
  static void TakeInstalledFacts(UpdateStatus& status, const Manifest& manifest) {
    status.installed_version = manifest.version;
    status.exe = manifest.exe;
    status.file_count = manifest.entries.size();
  }

  // The installed version may still be played while it is at or above the server's minimum.
  bool LocalAllowed() const {
    return CompareVersions(local_.manifest.version, remote_.manifest.min_version) >= 0;
  }

  Target ChooseTarget() {
    if (!remote_ok_) return {&local_, false};
    const std::u16string pin = context_.settings.ReadSetting(u"pin_version", u"");
    if (pin.empty()) return {&remote_, true};
    const bool pin_matches = local_ok_ && WideToUtf8(pin) == local_.manifest.version;
    if (pin_matches && LocalAllowed()) return {&local_, false};
    context_.settings.WriteSetting(u"pin_version", u"");
    return {&remote_, true};
  }

  void FinishMatching(const Target& target) {
    // Every file is in place but the backup of the installed version is unfinished: the
    // installation was interrupted after its last file. Finishing it moves the files the new
    // version dropped and writes the backup's manifest, then the installed one.
    if (target.is_remote && local_ok_ && local_.manifest.version != remote_.manifest.version &&
        HasUnfinishedBackup(context_, local_)) {
      const UpdateError code = InstallFromStaging(context_, remote_, {}, &local_);
      if (code != UpdateError::NoError) return FallBack(target, code);
      return Succeed(target, UpdatePhase::UpToDate);
    }
    if (target.is_remote && (!local_ok_ || local_.text != remote_.text)) {
      // The server's copy becomes the installed one.
      StoreManifest(context_.layout.state_dir, remote_, true);
    }
    Succeed(target, remote_ok_ ? UpdatePhase::UpToDate : UpdatePhase::UsingInstalled);
  }

  UpdateError InstallTarget(const Target& target, const Downloads& download) {
    if (context_.client_running(board_.Snapshot().exe)) return UpdateError::ClientRunning;
    board_.Update([](UpdateStatus& status) {
      status.phase = UpdatePhase::Installing;
      status.progress = 0.0;
    });
    board_.PostStatusChanged();
    return InstallFromStaging(context_, *target.copy, download, local_ok_ ? &local_ : nullptr);
  }

  // The installation is complete; the client must now match the target.
  void ConfirmInstallation(const Target& target) {
    Downloads still_wrong;
    if (!VerifyInstalledFiles(context_, target.copy->manifest, still_wrong) ||
        !still_wrong.empty()) {
      PublishInstalledInfo(context_, &target.copy->manifest);
      return Fail(UpdateError::DownloadAltered);
    }
    Succeed(target, UpdatePhase::UpToDate);
  }

  // The update failed: go on with the installed client if it may still be played and verifies.
  void FallBack(const Target& target, UpdateError code) {
    if (!local_ok_) {
      PublishInstalledInfo(context_, nullptr);
      return Fail(code, FailureDetail(code));
    }
    PublishInstalledInfo(context_, &local_.manifest);
    if (target.is_remote && LocalAllowed() && code != UpdateError::ClientRunning) {
      Downloads wrong;
      if (VerifyInstalledFiles(context_, local_.manifest, wrong) && wrong.empty()) {
        board_.Update([code](UpdateStatus& status) {
          status.ready = true;
          status.phase = UpdatePhase::UsingInstalled;
          status.error_code = code;
          status.progress = 1.0;
        });
        board_.PostStatusChanged();
        return;
      }
    }
    Fail(code, FailureDetail(code));
  }

  // The disk-space message carries the amount staging stored; every other failure carries none.
  std::u16string FailureDetail(UpdateError code) const {
    return code == UpdateError::DiskSpace ? board_.Snapshot().error_detail : u"";
  }

  void Succeed(const Target& target, UpdatePhase phase) {
    PublishInstalledInfo(context_, &target.copy->manifest);
    board_.Update([&](UpdateStatus& status) {
      status.installed_version = target.copy->manifest.version;
      status.phase = phase;
      status.ready = true;
      status.progress = 1.0;
    });
    board_.PostStatusChanged();
  }

  void Fail(UpdateError code, std::u16string detail = u"") {
    board_.ReportFailure(code, std::move(detail));
  }

  EngineContext& context_;
  StatusBoard& board_;
  ManifestCopy local_, remote_;
  bool local_ok_ = false, fetched_ = false, remote_ok_ = false;
};

}  // namespace

bool LauncherIsOutdated(const EngineConfig& config, const Manifest& remote) {
  return !remote.launcher_min.empty() &&
         CompareVersions(config.launcher_version, remote.launcher_min) < 0;
}

void RunUpdate(EngineContext& context, WorkerMode mode) { Run(context).Execute(mode); }

void PublishInstalledInfo(EngineContext& context, const Manifest* manifest) {
  const PreviousVersion previous = FindPreviousVersion(context);
  const bool pinned = !context.settings.ReadSetting(u"pin_version", u"").empty();
  const LocalTime now = context.clock.local_time();
  context.board.Update([&](UpdateStatus& status) {
    status.has_previous = !previous.folder.empty();
    status.previous_version = previous.copy.manifest.version;
    status.pinned = pinned;
    if (manifest) {
      status.installed_version = manifest->version;
      status.exe = manifest->exe;
      status.file_count = manifest->entries.size();
      if (status.notes_pt.empty()) {
        status.notes_pt = manifest->notes_pt;
        status.notes_en = manifest->notes_en;
      }
      if (status.privacy_url.empty()) status.privacy_url = manifest->privacy_url;
    }
    status.last_check = now;
  });
}

}  // namespace hv
