// The development key pair's public half and SHA-256 text digests, as tests build manifests,
// sites and staging folders with them.
#pragma once

#include <string>

#include "net/signature.h"

namespace hv::test {

// keys/dev's public key (development only), the one every signed fixture is signed with.
PublicKeyBlob DevelopmentPublicKey();

// The lower-case hexadecimal SHA-256 of content.
std::u16string Sha256Hex(const std::string& content);

}  // namespace hv::test
