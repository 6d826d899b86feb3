// Files of a site replaced by rename. StageFile writes the new bytes completely under a temporary
// name beside the file (flushed to the disk, readable by everyone so the web server can serve
// them); CommitStagedFile renames them over the real name. Until then readers see the old file,
// afterwards the new one, never a mixture. Temporary names are never served (the web server
// serves exact names only).
#pragma once

#include <string>
#include <string_view>

namespace hv::publish {

bool StageFile(const std::string& path, std::string_view bytes);
bool CommitStagedFile(const std::string& path);
void DiscardStagedFile(const std::string& path);

// Stage, commit and flush the folder: one file replaced as a whole.
bool ReplaceFile(const std::string& path, std::string_view bytes);

}  // namespace hv::publish
