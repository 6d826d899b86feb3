#include "publish/staged_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "core/file_util.h"
#include "core/text.h"
#include "publish/site_layout.h"

namespace hv::publish {
namespace {

std::string StagedName(const std::string& path) { return path + ".new"; }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

bool StageFile(const std::string& path, std::string_view bytes) {
  const std::string staged = StagedName(path);
  // The toolkit's write goes through its own temporary file and flushes it before the rename.
  if (!WriteFileAtomic(Utf8ToWide(staged), bytes)) return false;
  if (::chmod(staged.c_str(), 0644) != 0) {
    DiscardStagedFile(path);
    return false;
  }
  return true;
}

bool CommitStagedFile(const std::string& path) {
  return std::rename(StagedName(path).c_str(), path.c_str()) == 0;
}

void DiscardStagedFile(const std::string& path) { ::unlink(StagedName(path).c_str()); }

bool ReplaceFile(const std::string& path, std::string_view bytes) {
  if (!StageFile(path, bytes)) return false;
  if (!CommitStagedFile(path)) {
    DiscardStagedFile(path);
    return false;
  }
  SyncFolder(FolderOf(path));
  return true;
}

}  // namespace hv::publish
