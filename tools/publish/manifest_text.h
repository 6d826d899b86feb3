// The text of a manifest as the tool writes it (the format is described in update/manifest.h):
// the release's fields, then one "file" line per client file in the order given.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "update/manifest.h"

namespace hv::publish {

// What the operator publishes, in UTF-8. Empty optional fields are left out of the text.
struct Release {
  std::string version;
  std::string min_version;   // empty: the launcher takes version
  std::string launcher_min;  // empty: no requirement
  std::u16string exe;        // a path of one entry, backslash separators
  std::string notes_pt;      // with real line feeds
  std::string notes_en;
  std::string privacy_url;
};

// Empty when notes can be written so that the launcher reads them back unchanged; otherwise why
// not. The format's only escape is a backslash followed by 'n' for a line feed, so the text may
// not hold that pair itself, and a CR would end the line.
std::string NotesProblem(std::string_view notes);

std::string ComposeManifest(const Release& release, const std::vector<ManifestEntry>& entries);

// Empty when parsed (the launcher's reading of the composed text) says what release and entries
// say; otherwise the first field that differs.
std::string ReadBackProblem(const Manifest& parsed, const Release& release,
                            const std::vector<ManifestEntry>& entries);

}  // namespace hv::publish
