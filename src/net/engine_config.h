// What the product fixes at build time and hands to the engine as data; tests and tools build
// their own, pointing the engine at their servers.
#pragma once

#include <string>

#include "net/signature.h"

namespace hv {

struct EngineConfig {
  std::u16string origin;         // https://host[:port], no trailing slash
  PublicKeyBlob public_key{};    // the one key manifests must be signed with
  std::string launcher_version;  // for the user agent and the launcher_min test
  std::u16string ca_file;        // POSIX only: a CA file to trust (tests); empty: system store
};

}  // namespace hv
