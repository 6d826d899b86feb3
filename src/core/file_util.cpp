#include "core/file_util.h"

#include "core/file_util_platform.h"
#include "core/text.h"

namespace hv {
namespace {

// Longest canonical path accepted, in UTF-16 units: what fits a 520-unit buffer with its
// terminator.
constexpr size_t kMaxCanonicalPath = 519;
constexpr size_t kMaxRelativePath = 240;

bool IsForbiddenPathChar(char16_t c) {
  return c < 0x20 || c == u'"' || c == u'*' || c == u'<' || c == u'>' || c == u'?' || c == u'|';
}

bool ComponentsAreSafe(std::u16string_view path) {
  size_t start = 0;
  while (true) {
    size_t end = start;
    while (end < path.size() && !IsPathSeparator(path[end])) ++end;
    const std::u16string_view part = path.substr(start, end - start);
    if (part.empty() || part == u"." || part == u"..") return false;
    if (part.back() == u' ' || part.back() == u'.') return false;
    if (end == path.size()) return true;
    start = end + 1;
  }
}

// client_dir followed by a separator, over the prefix's length, ignoring ASCII case.
bool StartsWithFolder(std::u16string_view path, std::u16string_view folder) {
  if (path.size() <= folder.size() || !IsPathSeparator(path[folder.size()])) return false;
  for (size_t i = 0; i < folder.size(); ++i) {
    const char16_t a = path[i], b = folder[i];
    if (IsPathSeparator(a) && IsPathSeparator(b)) continue;
    if (AsciiLower(a) != AsciiLower(b)) return false;
  }
  return true;
}

}  // namespace

bool IsPathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string out(folder);
  if (!out.empty() && !IsPathSeparator(out.back())) out.push_back(u'\\');
  out.append(name);
  return out;
}

bool EnsureDirectory(const std::u16string& path) {
  if (path.empty() || DirectoryExists(path)) return true;
  const size_t last = path.find_last_of(u"\\/");
  // A separator at index 0 to 2 belongs to a drive root or the start of a network path.
  if (last != std::u16string::npos && last >= 3) EnsureDirectory(path.substr(0, last));
  return platform::CreateOneDirectory(path) != platform::CreateDirectoryResult::Failed;
}

bool EnsureParentDirectory(const std::u16string& path) {
  const size_t last = path.find_last_of(u"\\/");
  if (last == std::u16string::npos) return true;
  return EnsureDirectory(path.substr(0, last));
}

bool IsSafeRelativePath(const std::u16string& client_dir, std::u16string_view relative_path) {
  if (relative_path.empty() || relative_path.size() > kMaxRelativePath) return false;
  if (IsPathSeparator(relative_path.front())) return false;
  if (relative_path.find(u':') != std::u16string_view::npos) return false;
  for (char16_t c : relative_path) {
    if (IsForbiddenPathChar(c)) return false;
  }
  if (!ComponentsAreSafe(relative_path)) return false;
  std::u16string canonical;
  if (!platform::CanonicalFullPath(JoinPath(client_dir, relative_path), canonical)) return false;
  if (canonical.empty() || canonical.size() > kMaxCanonicalPath) return false;
  return StartsWithFolder(canonical, client_dir);
}

}  // namespace hv
