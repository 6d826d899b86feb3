#include "update/staging.h"

#include <map>

#include "core/fault_point.h"
#include "core/file.h"
#include "core/file_util.h"
#include "net/http_client.h"
#include "update/status_text.h"
#include "update/transfer_progress.h"

namespace hv {
namespace {

void StoreRequiredSpace(StatusBoard& board, uint64_t required) {
  board.Update([&](UpdateStatus& status) { status.error_detail = FormatSize(required); });
}

// A file staged by an earlier attempt counts only once its digest is computed again.
bool AlreadyStaged(EngineContext& context, const std::u16string& staged,
                   const ManifestEntry& entry) {
  uint64_t size = 0, time = 0;
  if (!GetFileSizeAndTime(staged, size, time) || size != entry.size) return false;
  std::u16string digest;
  if (Sha256FileHex(staged, digest, &context.cancel, nullptr, nullptr) && digest == entry.sha256) {
    return true;
  }
  DeleteFilePath(staged);
  return false;
}

}  // namespace

UpdateError StageDownloads(EngineContext& context,
                           const std::vector<const ManifestEntry*>& download) {
  // One download per distinct content; where entries share a digest, the last one's size holds.
  std::map<std::u16string, const ManifestEntry*> by_digest;
  for (const ManifestEntry* entry : download) by_digest[entry->sha256] = entry;
  uint64_t total = 0;
  for (const auto& [digest, entry] : by_digest) total += entry->size;

  const std::u16string& staging = context.layout.staging_dir;
  EnsureDirectory(staging);
  const uint64_t required = total + kStagingMargin;
  uint64_t available = 0;
  if (GetAvailableDiskSpace(staging, available) && available < required) {
    StoreRequiredSpace(context.board, required);
    return UpdateError::DiskSpace;
  }

  PublishPhaseStart(context.board, UpdatePhase::Downloading, total);
  TransferProgress progress{0, total, 0, &context.board, &context.clock};

  for (const auto& [digest, entry] : by_digest) {
    const std::u16string staged = JoinPath(staging, digest);
    if (AlreadyStaged(context, staged, *entry)) {
      progress.done += entry->size;
      continue;
    }
    const std::u16string part = staged + u".part";
    const std::u16string url = context.config.origin + u"/downloads/launcher/files/" + digest;
    std::u16string received;
    const HttpResult result = HttpGetToFile(context.config, url, part, entry->size, received,
                                            &context.cancel, ReportTransferProgress, &progress);
    if (!result.ok) {
      if (result.reason == u"disk") {
        // The free-space test passed but the disk filled up meanwhile: still say how much the
        // update needs, rather than a message that ends at its colon.
        StoreRequiredSpace(context.board, required);
        return UpdateError::DiskSpace;
      }
      return result.reason == u"size" ? UpdateError::DownloadAltered
                                      : UpdateError::ConnectionDropped;
    }
    if (received != digest) {
      DeleteFilePath(part);
      return UpdateError::DownloadAltered;
    }
    FaultPoint("downloaded-file");
    if (!MoveFileReplacing(part, staged, false)) return UpdateError::ReplaceFailed;
    FaultPoint("staged-file");
  }
  return UpdateError::NoError;
}

}  // namespace hv
