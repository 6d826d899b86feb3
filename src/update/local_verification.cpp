#include "update/local_verification.h"

#include <unordered_set>

#include "core/file_util.h"
#include "net/sha256.h"
#include "update/file_cache.h"
#include "update/transfer_progress.h"

namespace hv {
namespace {

constexpr uint64_t kMaxCacheFile = 64ull * 1024 * 1024;

struct HashJob {
  size_t entry;  // index into the manifest's entries
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

  // Each entry's record, found once: with tens of thousands of long, similar paths, map lookups
  // are most of the work when the cache vouches for everything. Manifests list their files in
  // path order, the cache's order, so the record after the last one found is tried first.
  std::vector<FileCache::iterator> records(manifest.entries.size(), cache.end());
  std::vector<HashJob> jobs;
  uint64_t hashing_total = 0;
  auto next = cache.begin();
  for (size_t i = 0; i < manifest.entries.size(); ++i) {
    const ManifestEntry& entry = manifest.entries[i];
    records[i] = next != cache.end() && next->first == entry.path ? next : cache.find(entry.path);
    if (records[i] != cache.end()) next = std::next(records[i]);
    uint64_t size = 0, write_time = 0;
    if (!GetFileSizeAndTime(JoinPath(context.layout.client_dir, entry.path), size, write_time) ||
        size != entry.size) {
      download.push_back(&entry);
      continue;
    }
    const auto record = records[i];
    if (record == cache.end() || record->second.size != size ||
        record->second.write_time != write_time) {
      jobs.push_back({i, size, write_time});
      hashing_total += entry.size;
    } else if (record->second.sha256 != entry.sha256) {
      download.push_back(&entry);
    }
  }

  PublishPhaseStart(context.board, UpdatePhase::Verifying, hashing_total);

  TransferProgress progress{0, hashing_total, 0, &context.board, &context.clock};
  for (const HashJob& job : jobs) {
    const ManifestEntry& entry = manifest.entries[job.entry];
    std::u16string digest;
    if (Sha256FileHex(JoinPath(context.layout.client_dir, entry.path), digest, &context.cancel,
                      ReportTransferProgress, &progress)) {
      if (digest != entry.sha256) download.push_back(&entry);
      const CacheRecord fresh{job.size, job.write_time, std::move(digest)};
      if (records[job.entry] != cache.end()) {
        records[job.entry]->second = fresh;
      } else {
        records[job.entry] = cache.emplace(entry.path, fresh).first;
      }
    } else if (IsCancelled(&context.cancel)) {
      return false;
    } else {
      download.push_back(&entry);
    }
  }

  // Keep only the records of the manifest's paths.
  std::unordered_set<const CacheRecord*> kept;
  for (const FileCache::iterator record : records) {
    if (record != cache.end()) kept.insert(&record->second);
  }
  std::erase_if(cache, [&kept](const auto& item) { return !kept.contains(&item.second); });
  WriteFileAtomic(CachePath(context.layout), SerializeFileCache(cache));
  return true;
}

}  // namespace hv
