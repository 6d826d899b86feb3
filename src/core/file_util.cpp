#include "core/file_util.h"

#include <array>
#include <cstdint>

#include "core/file_util_platform.h"
#include "core/text.h"

namespace hv {
namespace {

// Longest canonical path accepted, in UTF-16 units: what fits a 520-unit buffer with its
// terminator.
constexpr size_t kMaxCanonicalPath = 519;
constexpr size_t kMaxRelativePath = 240;

// Classes of the ASCII characters a relative path is checked for.
enum : uint8_t {
  kForbidden = 1,  // ':' (drive letters, stream names), control characters and "*<>?|
  kSeparator = 2,  // '\\' and '/'
  kBadEnding = 4,  // what no component may end with: a separator (empty component), ' ', '.'
};

constexpr std::array<uint8_t, 128> kCharClasses = [] {
  std::array<uint8_t, 128> table{};
  for (size_t i = 0; i < 0x20; ++i) table[i] = kForbidden;
  for (char c : std::string_view("\":*<>?|")) table[static_cast<size_t>(c)] = kForbidden;
  table['\\'] = table['/'] = kSeparator | kBadEnding;
  table[' '] = table['.'] = kBadEnding;
  return table;
}();

uint8_t CharClass(char16_t c) { return c < 128 ? kCharClasses[c] : 0; }

// No forbidden character, no empty component, none ending in a space or a dot (which also rules
// out "." and ".."). One table-driven pass without branches: the parser runs it on every entry.
bool CharactersAndComponentsAreSafe(std::u16string_view path) {
  uint8_t bad = 0;
  uint8_t previous = kSeparator | kBadEnding;  // so that a leading separator is an empty component
  for (char16_t c : path) {
    const uint8_t current = CharClass(c);
    bad |=
        (current & kForbidden) | (((current & kSeparator) != 0) & ((previous & kBadEnding) != 0));
    previous = current;
  }
  return !bad && !(previous & kBadEnding);
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

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string out;
  out.reserve(folder.size() + 1 + name.size());
  out.assign(folder);
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

bool IsReservedDeviceName(std::u16string_view name) {
  const std::u16string base = AsciiLower(name.substr(0, name.find(u'.')));
  if (base == u"con" || base == u"prn" || base == u"aux" || base == u"nul") return true;
  return base.size() == 4 && (base.starts_with(u"com") || base.starts_with(u"lpt")) &&
         base[3] >= u'1' && base[3] <= u'9';
}

bool IsSafeRelativePath(const std::u16string& client_dir, std::u16string_view relative_path) {
  if (relative_path.empty() || relative_path.size() > kMaxRelativePath) return false;
  if (!CharactersAndComponentsAreSafe(relative_path)) return false;
  // Not a reused thread_local buffer: with mingw-w64, destroying such objects at thread exit
  // crashes now and then (about one thread exit in a hundred under Wine).
  std::u16string canonical;
  if (!platform::CanonicalJoinedPath(client_dir, relative_path, canonical)) return false;
  if (canonical.empty() || canonical.size() > kMaxCanonicalPath) return false;
  return StartsWithFolder(canonical, client_dir);
}

}  // namespace hv
