// The client folder as a manifest lists it: every regular file below it, with its path relative
// to the folder (backslash separators, as the launcher writes them), its size and its digest.
#pragma once

#include <string>
#include <vector>

#include "update/manifest.h"

namespace hv::publish {

struct ClientFile {
  ManifestEntry entry;      // sha256 is empty until HashClientFiles fills it
  std::string native_path;  // where the tool reads it
};

// Walks root without following links. Symbolic links, devices, sockets and pipes are problems (the
// launcher can only install plain files, and following a link could publish something from
// outside the client), as are names that are not UTF-8 or hold a backslash. On success files is
// sorted by the UTF-16 code units of the backslash path, the order of the launcher's file cache.
bool WalkClientFolder(const std::string& root, std::vector<ClientFile>& files,
                      std::vector<std::string>& problems);

// Every path the launcher or Windows would refuse: IsSafeRelativePath under a representative
// client folder, device names, two paths that Windows sees as one file, and a file whose path is
// also a folder of another path there. Adds one message per fault to problems.
void CheckClientNames(const std::vector<ClientFile>& files, std::vector<std::string>& problems);

// Fills every entry's sha256. A file whose size differs from the walk's, or that cannot be read,
// is a problem: the manifest would then describe bytes that are not what gets stored.
bool HashClientFiles(std::vector<ClientFile>& files, std::string& error);

// True when path, existing or not, is folder or lies below it, links resolved: a key or a site
// there would be published as part of the client.
bool LiesInside(const std::string& path, const std::string& folder);

}  // namespace hv::publish
