// A site folder: what the web server serves (only the four paths the launcher asks for, see
// docs/nginx-site.conf) and the tool's own folder beside them, which is never served. The
// launcher's limits on what it reads from there come with it.
#pragma once

#include <cstdint>
#include <string>

#include "core/scoped_fd_posix.h"
#include "update/manifest_copies.h"

namespace hv::publish {

// An absolute client folder standing for the players' ones when paths are checked with
// hv::IsSafeRelativePath and hv::ParseManifest.
const std::u16string& RepresentativeClientDir();

class SiteLayout {
 public:
  explicit SiteLayout(std::string root);

  const std::string& root() const { return root_; }
  std::string launcher_dir() const { return root_ + "/downloads/launcher"; }
  std::string manifest() const { return launcher_dir() + "/manifest.txt"; }
  std::string signature() const { return launcher_dir() + "/manifest.sig"; }
  std::string files_dir() const { return launcher_dir() + "/files"; }
  std::string content(const std::u16string& sha256) const;
  std::string news() const { return root_ + "/launcher_news.php"; }
  // The tool's folder: its lock and its record of published manifests.
  std::string tool_dir() const { return root_ + "/.halvoryn-publish"; }
  std::string record_dir() const { return tool_dir() + "/published"; }

 private:
  std::string root_;  // without a trailing '/'
};

// Creates folder and its missing parents readable by everyone (mode 0755 whatever the umask), so
// that a web server running as another user can serve what is put there. False when it is not a
// folder afterwards.
bool EnsureServedFolder(const std::string& folder);

// Creates folder and its missing parents; the last one only its owner may enter.
bool EnsurePrivateFolder(const std::string& folder);

// True when a new file can be created in folder (tried, then removed): the permission bits alone
// do not say so for root or on a read-only mount.
bool CanCreateFileIn(const std::string& folder);

// Flushes folder's entries, so that renames done in it survive a crash.
void SyncFolder(const std::string& folder);

// An exclusive hold on a site for one publish or prune: two at once could delete contents the
// other's new manifest needs. Released when destroyed (also when the process dies).
class SiteLock {
 public:
  bool Acquire(const SiteLayout& site, std::string& error);

 private:
  ScopedFd fd_;
};

}  // namespace hv::publish
