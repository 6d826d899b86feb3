// The signed description of one published client version, and its parser.
//
// Text format: UTF-8 lines separated by LF (one trailing CR per line is dropped). Empty lines and
// lines starting with '#' are skipped anywhere. The first other line must be exactly
// "HALVORYN-MANIFEST 1"; every later one is "key value" (split at the first space):
//   version, min_version, launcher_min   raw bytes
//   exe                                  client program, relative to the client folder
//   notes_pt, notes_en                   release notes; "\n" is a line feed
//   privacy_url                          kept only when it starts with "https://"
//   file DIGEST SIZE PATH                one client file (PATH may hold spaces)
// Other keys are ignored; a repeated single-valued key replaces the earlier value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hv {

struct ManifestEntry {
  std::u16string path;    // relative to the client folder, backslash separators, 1-240 units
  uint64_t size = 0;      // exact size in bytes (at most twelve decimal digits)
  std::u16string sha256;  // 64 lower-case hexadecimal characters

  bool operator==(const ManifestEntry&) const = default;
};

struct Manifest {
  std::string version;       // never empty after a successful parse
  std::string min_version;   // equals version when the file leaves it empty or out
  std::string launcher_min;  // may be empty: no requirement
  std::u16string exe;        // names (ignoring ASCII case) the path of one entry
  std::u16string notes_pt;
  std::u16string notes_en;
  std::u16string privacy_url;  // empty or starting with "https://"
  std::vector<ManifestEntry>
      entries;  // in file order, never empty, no two paths equal ignoring case
};

// Parses a whole manifest. Entry paths and exe must pass IsSafeRelativePath under client_dir.
// On failure, reason holds one of "header", "file line N", "invalid entry line N",
// "duplicate path", "incomplete", "exe not listed" (N counts every line from 1) and out is
// unspecified. Parsing stops at the first fault.
bool ParseManifest(std::string_view text, const std::u16string& client_dir, Manifest& out,
                   std::u16string& reason);

// -1 when a is older than b, 0 when equal, 1 when newer. Versions are compared component by
// component (split at '.'); a component's value is the decimal number of its digits, other bytes
// ignored ("1a2" is 12, "rc" is 0); a missing component is 0. Values are compared exactly
// whatever their length, so long components never overflow.
int CompareVersions(std::string_view a, std::string_view b);

}  // namespace hv
