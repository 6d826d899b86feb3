#include "support/test_keys.h"

#include <gtest/gtest.h>

#include "net/sha256.h"
#include "support/test_files.h"

namespace hv::test {

PublicKeyBlob DevelopmentPublicKey() {
  PublicKeyBlob key{};
  std::string hex = ReadFixture("../../keys/dev/dev-public-DEVELOPMENT-ONLY.hex");
  while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
  EXPECT_TRUE(ParsePublicKeyHex(hex, key));
  return key;
}

std::u16string Sha256Hex(const std::string& content) {
  Sha256Digest digest;
  EXPECT_TRUE(Sha256Buffer(content.data(), content.size(), digest));
  return HexLower(digest.data(), digest.size());
}

}  // namespace hv::test
