// The site's content store: files/DIGEST holds the bytes whose SHA-256 is DIGEST. A content is
// added by copying it under a temporary name in the same folder, checking the copy's size and
// digest, and renaming it into place, so a served name never shows other bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "publish/client_tree.h"
#include "publish/site_layout.h"

namespace hv::publish {

// True when path is a regular file of exactly size bytes whose SHA-256 is sha256.
bool ContentIsIntact(const std::string& path, uint64_t size, const std::u16string& sha256);

struct StoreResult {
  bool ok = false;
  bool added = false;  // copied now; false when an intact copy was there already
  std::string error;
};

// Makes site's files/DIGEST hold the content of file. An existing file of that name is kept
// only when intact; otherwise it is replaced. progress gets each copied piece's size.
StoreResult StoreContent(const SiteLayout& site, const ClientFile& file,
                         const std::function<void(uint64_t)>& progress);

}  // namespace hv::publish
