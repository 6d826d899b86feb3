// ParseManifest and CompareVersions on arbitrary bytes: no crash, no hang, and the invariants
// a successful parse promises.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/file_util.h"
#include "core/text.h"
#include "update/manifest.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::u16string kClient = u"/fuzz/halvoryn/client";
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  hv::Manifest manifest;
  std::u16string reason;
  if (hv::ParseManifest(text, kClient, manifest, reason)) {
    Check(reason.empty());
    Check(!manifest.version.empty() && !manifest.min_version.empty() && !manifest.exe.empty());
    Check(!manifest.entries.empty());
    for (const hv::ManifestEntry& entry : manifest.entries) {
      Check(entry.sha256.size() == 64 && entry.size <= 999999999999ull);
      Check(hv::IsSafeRelativePath(kClient, entry.path));
      Check(entry.path.find(u'/') == std::u16string::npos);
    }
  } else {
    Check(!reason.empty());
  }

  const size_t split = text.find('\n');
  const std::string_view a = text.substr(0, split);
  const std::string_view b = split == std::string_view::npos ? "" : text.substr(split + 1);
  const int order = hv::CompareVersions(a, b);
  Check(order >= -1 && order <= 1 && order == -hv::CompareVersions(b, a));
  Check(hv::CompareVersions(a, a) == 0);
  return 0;
}
