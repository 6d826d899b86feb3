// The cache file parser on arbitrary bytes: no crash, and what it parses serialises into a text
// that parses back to the same records.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "update/file_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const hv::FileCache cache =
      hv::ParseFileCache(std::string_view(reinterpret_cast<const char*>(data), size));
  // Paths or digests holding a tab or a line feed cannot round-trip; the manifest never has them.
  for (const auto& [path, record] : cache) {
    if (path.find_first_of(u"\t\n") != std::u16string::npos ||
        record.sha256.find_first_of(u"\t\n") != std::u16string::npos) {
      return 0;
    }
  }
  if (hv::ParseFileCache(hv::SerializeFileCache(cache)) != cache) __builtin_trap();
  return 0;
}
