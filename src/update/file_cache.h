// "filecache.txt" in the state folder: for each client file, the size and last-write time it had
// when it was last hashed, and the digest found then. A file whose size and time still match is
// trusted to have that digest.
//
// Format: UTF-8, one line per record, each ending in LF; lines in ascending path order:
//   SIZE \t WRITE_TIME \t DIGEST \t PATH \n
// SIZE and WRITE_TIME are unsigned decimal numbers; WRITE_TIME is in 100 ns units since 1601;
// PATH (the manifest's path, backslash separators) runs to the end of the line.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace hv {

struct CacheRecord {
  uint64_t size = 0;
  uint64_t write_time = 0;
  std::u16string sha256;

  bool operator==(const CacheRecord&) const = default;
};

// Keyed by the exact manifest path; std::u16string orders by code unit value, a proper prefix
// first, case-sensitively.
using FileCache = std::map<std::u16string, CacheRecord>;

// Lenient: a line is split at its first three tabs (fewer: skipped); numbers are their leading
// digits (none: 0; too many: the largest value); a later line for a path replaces an earlier one;
// a CR before the LF stays in the path.
FileCache ParseFileCache(std::string_view bytes);
std::string SerializeFileCache(const FileCache& cache);

}  // namespace hv
