#include "publish/prune_command.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <set>

#include "core/file_util.h"
#include "core/scoped_fd_posix.h"
#include "core/text.h"
#include "publish/console.h"
#include "publish/publish_record.h"
#include "publish/site_layout.h"
#include "update/manifest.h"

namespace hv::publish {

const CommandInfo kPruneCommand = {
    .name = "prune",
    .summary = "remove contents that none of the last N releases uses",
    .help = R"(usage: halvoryn-publish prune --site DIR --keep N

Removes every content in SITE/downloads/launcher/files/ that neither the served manifest nor any
of the last N manifests published with this tool names (N >= 1; the served one is always kept),
then forgets the older manifests of the tool's record (SITE/.halvoryn-publish/published/).
A launcher that read an older manifest just before may still be downloading from it: prune some
time after a publish, not right after.
)",
    .required = {"site", "keep"},
};

namespace {

constexpr size_t kDigestLength = 64;

bool ParseKeep(const std::string& text, size_t& keep) {
  if (text.empty() || text.size() > 9) return false;
  keep = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    keep = keep * 10 + static_cast<size_t>(c - '0');
  }
  return keep >= 1;
}

bool IsContentName(std::string_view name) {
  return name.size() == kDigestLength &&
         name.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// Adds the digests a manifest file names to keep.
bool CollectDigests(const std::string& path, std::set<std::u16string>& keep, std::string& error) {
  std::string text;
  Manifest manifest;
  std::u16string reason;
  if (!ReadWholeFile(Utf8ToWide(path), text, kMaxManifestText)) {
    error = "cannot read " + path;
    return false;
  }
  if (!ParseManifest(text, RepresentativeClientDir(), manifest, reason)) {
    error = path + " does not parse (" + WideToUtf8(reason) + ")";
    return false;
  }
  for (const ManifestEntry& entry : manifest.entries) keep.insert(entry.sha256);
  return true;
}

struct Removed {
  size_t count = 0;
  uint64_t bytes = 0;
  size_t kept = 0;
};

bool RemoveUnused(const SiteLayout& site, const std::set<std::u16string>& keep, Removed& removed,
                  std::string& error) {
  ScopedDir dir(::opendir(site.files_dir().c_str()));
  if (!dir) {
    error = "cannot read " + site.files_dir();
    return false;
  }
  std::vector<std::string> unused;
  while (const dirent* item = ::readdir(dir.get())) {
    const std::string_view name = item->d_name;
    if (!IsContentName(name)) continue;
    if (keep.contains(Utf8ToWide(name))) {
      ++removed.kept;
    } else {
      unused.emplace_back(name);
    }
  }
  for (const std::string& name : unused) {
    const std::string path = site.files_dir() + "/" + name;
    struct stat info;
    const uint64_t size =
        ::lstat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    if (::unlink(path.c_str()) != 0) {
      error = "cannot remove " + path;
      return false;
    }
    ++removed.count;
    removed.bytes += size;
  }
  return true;
}

}  // namespace

int RunPrune(const Arguments& args) {
  size_t keep_count = 0;
  std::string error = PathArgumentProblem("site", args.Get("site"));
  if (error.empty() && !ParseKeep(args.Get("keep"), keep_count)) {
    error = "--keep must be a whole number from 1, got '" + args.Get("keep") + "'";
  }
  if (!error.empty()) {
    PrintError(error);
    return kExitUsage;
  }
  const SiteLayout site(args.Get("site"));
  if (!FileExists(Utf8ToWide(site.manifest()))) {
    PrintError("no served manifest at " + site.manifest() + "; nothing to prune against");
    return kExitFailed;
  }
  SiteLock lock;
  std::vector<RecordEntry> record;
  if (!lock.Acquire(site, error)) {
    PrintError(error);
    return kExitFailed;
  }
  if (!ListRecord(site, record)) {
    PrintError("cannot read the record in " + site.record_dir());
    return kExitFailed;
  }
  const size_t first_kept = record.size() > keep_count ? record.size() - keep_count : 0;
  std::set<std::u16string> keep;
  bool collected = CollectDigests(site.manifest(), keep, error);
  for (size_t i = first_kept; collected && i < record.size(); ++i) {
    collected = CollectDigests(record[i].path, keep, error);
  }
  if (!collected) {
    PrintError(error + "; nothing was removed");
    return kExitFailed;
  }
  Removed removed;
  if (!RemoveUnused(site, keep, removed, error)) {
    PrintError(error + "; " + std::to_string(removed.count) +
               " unused contents were removed "
               "before that");
    return kExitFailed;
  }
  // Their contents may be gone now: the record keeps only releases that could be served again.
  for (size_t i = 0; i < first_kept; ++i) ::unlink(record[i].path.c_str());
  std::printf(
      "removed %zu contents (%llu bytes); kept %zu, named by the served manifest and the "
      "last %zu published\n",
      removed.count, static_cast<unsigned long long>(removed.bytes), removed.kept,
      record.size() - first_kept);
  return kExitOk;
}

}  // namespace hv::publish
