#include "update/local_verification.h"

#include "core/file_util.h"
#include "net/sha256.h"
#include "update/file_cache.h"
#include "update/transfer_progress.h"

namespace hv {
namespace {

constexpr uint64_t kMaxCacheFile = 64ull * 1024 * 1024;

struct HashJob {
  const ManifestEntry* entry;
  uint64_t size;
  uint64_t write_time;
};

std::u16string CachePath(const StorageLayout& layout) {
  return JoinPath(layout.state_dir, u"filecache.txt");
}

}  // namespace

bool VerifyInstalledFiles(EngineContext& context, const Manifest& manifest,
                          std::vector<const ManifestEntry*>& download) {
  std::string bytes;
  FileCache cache;
  if (ReadWholeFile(CachePath(context.layout), bytes, kMaxCacheFile)) cache = ParseFileCache(bytes);

  std::vector<HashJob> jobs;
  uint64_t hashing_total = 0;
  for (const ManifestEntry& entry : manifest.entries) {
    uint64_t size = 0, write_time = 0;
    if (!GetFileSizeAndTime(JoinPath(context.layout.client_dir, entry.path), size, write_time) ||
        size != entry.size) {
      download.push_back(&entry);
      continue;
    }
    const auto record = cache.find(entry.path);
    if (record == cache.end() || record->second.size != size ||
        record->second.write_time != write_time) {
      jobs.push_back({&entry, size, write_time});
      hashing_total += entry.size;
    } else if (record->second.sha256 != entry.sha256) {
      download.push_back(&entry);
    }
  }

  context.board.Update([&](UpdateStatus& status) {
    status.phase = UpdatePhase::Verifying;
    status.progress = 0.0;
    status.bytes_done = 0;
    status.bytes_total = hashing_total;
  });
  context.board.PostStatusChanged();

  TransferProgress progress{0, hashing_total, 0, &context.board, &context.clock};
  for (const HashJob& job : jobs) {
    std::u16string digest;
    if (Sha256FileHex(JoinPath(context.layout.client_dir, job.entry->path), digest,
                      &context.cancel, ReportTransferProgress, &progress)) {
      cache[job.entry->path] = {job.size, job.write_time, digest};
      if (digest != job.entry->sha256) download.push_back(job.entry);
    } else if (IsCancelled(&context.cancel)) {
      return false;
    } else {
      download.push_back(job.entry);
    }
  }

  // Keep only the records of the manifest's paths.
  FileCache kept;
  for (const ManifestEntry& entry : manifest.entries) {
    const auto record = cache.find(entry.path);
    if (record != cache.end()) kept.insert(*record);
  }
  WriteFileAtomic(CachePath(context.layout), SerializeFileCache(kept));
  return true;
}

}  // namespace hv
