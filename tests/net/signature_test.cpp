#include "net/signature.h"

#include <gtest/gtest.h>

#include "build_config.h"
#include "support/test_files.h"
#include "support/test_keys.h"

namespace hv {
namespace {

using test::ReadFixture;

// Rewrites a short-form DER signature with every length in the long form (0x81 L), which the
// decoder accepts.
std::string WithLongFormLengths(const std::string& der) {
  const size_t r_length = static_cast<uint8_t>(der[3]);
  const std::string r = der.substr(4, r_length);
  const std::string s = der.substr(4 + r_length + 2);
  std::string body = std::string("\x02\x81", 2) + char(r.size()) + r + std::string("\x02\x81", 2) +
                     char(s.size()) + s;
  return std::string("\x30\x81", 2) + char(body.size()) + body;
}

TEST(VerifyManifestSignature, AcceptsSignaturesOfTheStandardTool) {
  const PublicKeyBlob key = test::DevelopmentPublicKey();
  const std::string text = ReadFixture("signatures/manifest.txt");
  // Every shape: 32-byte halves, a 33-byte r or s with its leading zero, an r or s shorter than
  // 32 bytes.
  for (const char* name : {"valid", "r33", "s33", "rshort", "sshort"}) {
    const std::string signature = ReadFixture(std::string("signatures/") + name + ".sig");
    EXPECT_TRUE(VerifyManifestSignature(text, signature, key)) << name;
  }
  EXPECT_TRUE(
      VerifyManifestSignature(text, WithLongFormLengths(ReadFixture("signatures/valid.sig")), key));
}

TEST(VerifyManifestSignature, RejectsOtherTextsKeysAndSignatures) {
  const PublicKeyBlob key = test::DevelopmentPublicKey();
  const std::string text = ReadFixture("signatures/manifest.txt");
  const std::string signature = ReadFixture("signatures/valid.sig");

  EXPECT_FALSE(
      VerifyManifestSignature(ReadFixture("signatures/manifest-crlf.txt"), signature, key));
  std::string changed = text;
  changed[changed.size() / 2] ^= 1;
  EXPECT_FALSE(VerifyManifestSignature(changed, signature, key));
  std::string flipped = signature;
  flipped[10] ^= 0x40;
  EXPECT_FALSE(VerifyManifestSignature(text, flipped, key));

  PublicKeyBlob other_key = key;
  other_key[40] ^= 1;  // no longer the point of the private key, likely not on the curve
  EXPECT_FALSE(VerifyManifestSignature(text, signature, other_key));
  PublicKeyBlob bad_magic = key;
  bad_magic[0] = 'X';
  EXPECT_FALSE(VerifyManifestSignature(text, signature, bad_magic));
}

TEST(DecodeDerSignature, RejectsMalformedEncodings) {
  const std::string valid = ReadFixture("signatures/valid.sig");
  RawSignature raw;
  ASSERT_TRUE(DecodeDerSignature(valid, raw));
  const std::string r(32, '\x11'), s(32, '\x22');
  auto integer = [](const std::string& content) {
    return std::string(1, '\x02') + char(content.size()) + content;
  };
  auto sequence = [](const std::string& body) {
    return std::string(1, '\x30') + char(body.size()) + body;
  };
  const struct {
    const char* name;
    std::string der;
  } rejected[] = {
      {"empty", ""},
      {"one byte", "\x30"},
      {"not a sequence", std::string(1, '\x31') + valid.substr(1)},
      {"sequence longer than the file", valid.substr(0, valid.size() - 1)},
      {"trailing newline", valid + "\n"},
      {"indefinite length", std::string("\x30\x80", 2) + valid.substr(2)},
      {"three length bytes",
       std::string("\x30\x83\x00\x00", 4) + char(valid.size() - 2) + valid.substr(2)},
      {"third integer", sequence(integer(r) + integer(s) + integer("\x01"))},
      {"only r", sequence(integer(r))},
      {"r not an integer", sequence(std::string(1, '\x04') + char(32) + r + integer(s))},
      {"empty integer", sequence(std::string("\x02\x00", 2) + integer(s))},
      {"34-byte integer", sequence(integer(std::string(2, '\0') + r) + integer(s))},
      {"33 bytes without a leading zero", sequence(integer("\x01" + r) + integer(s))},
      {"integer running past the end", sequence(integer(r) + std::string("\x02\x40", 2) + s)},
      {"raw 64-byte form", std::string(64, '\x33')},
  };
  for (const auto& c : rejected) {
    EXPECT_FALSE(DecodeDerSignature(c.der, raw)) << c.name;
  }
}

TEST(DecodeDerSignature, PadsShortIntegersAndDropsOneLeadingZero) {
  RawSignature raw;
  const std::string der = std::string("\x30\x08\x02\x02\x01\x02\x02\x02\x00\x05", 10);
  ASSERT_TRUE(DecodeDerSignature(der, raw));
  RawSignature expected{};
  expected[30] = 0x01, expected[31] = 0x02, expected[63] = 0x05;
  EXPECT_EQ(raw, expected);
  std::string r33 = std::string(1, '\0') + std::string(32, '\x80');
  const std::string body = std::string("\x02\x21", 2) + r33 + std::string("\x02\x01\x07", 3);
  ASSERT_TRUE(DecodeDerSignature(std::string(1, '\x30') + char(body.size()) + body, raw));
  EXPECT_EQ(raw[0], 0x80);
  EXPECT_EQ(raw[63], 0x07);
}

TEST(PublicKey, BuildOptionBecomesTheBlobOfItsHex) {
  PublicKeyBlob parsed;
  ASSERT_TRUE(ParsePublicKeyHex(HV_CONFIGURED_PUBLIC_KEY, parsed));
  EXPECT_EQ(parsed, build_config::kPublicKeyBlob);
  EXPECT_EQ(std::string(parsed.begin(), parsed.begin() + 4), "ECS1");
  EXPECT_EQ(parsed[4], 32);
  PublicKeyBlob ignored;
  EXPECT_FALSE(ParsePublicKeyHex(std::string(127, 'a'), ignored));
  EXPECT_FALSE(ParsePublicKeyHex(std::string(127, 'a') + "g", ignored));
}

}  // namespace
}  // namespace hv
