// The tool's record of what it published on a site, for prune: one copy of each published
// manifest text, numbered in publish order (record_dir/000001.txt, 000002.txt, ...). It lives in
// the tool's folder of the site, which the web server never serves.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "publish/site_layout.h"

namespace hv::publish {

struct RecordEntry {
  uint64_t number = 0;
  std::string path;
};

// The entries in publish order; none for a site without a record. False when the record folder
// exists but cannot be read.
bool ListRecord(const SiteLayout& site, std::vector<RecordEntry>& entries);

// Adds text as the entry after the last one.
bool AppendToRecord(const SiteLayout& site, std::string_view text, RecordEntry& added);

}  // namespace hv::publish
