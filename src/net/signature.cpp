#include "net/signature.h"

#include "net/sha256.h"

namespace hv {
namespace {

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kInteger = 0x02;

// Reads a DER length at bytes[at] (the byte after the tag): the short form, or 0x81 / 0x82
// followed by one or two big-endian length bytes. Advances at past the length.
bool ReadLength(std::string_view bytes, size_t& at, size_t& length) {
  if (at >= bytes.size()) return false;
  const uint8_t first = static_cast<uint8_t>(bytes[at]);
  if (first < 0x80) {
    length = first;
    at += 1;
    return true;
  }
  const size_t count = first & 0x7F;
  if (count < 1 || count > 2 || bytes.size() < at + 1 + count) return false;
  length = 0;
  for (size_t i = 0; i < count; ++i)
    length = (length << 8) | static_cast<uint8_t>(bytes[at + 1 + i]);
  at += 1 + count;
  return true;
}

// One INTEGER at bytes[at], copied right-aligned into its 32-byte half.
bool ReadInteger(std::string_view bytes, size_t& at, uint8_t* half) {
  if (at + 1 >= bytes.size() || static_cast<uint8_t>(bytes[at]) != kInteger) return false;
  ++at;
  size_t length = 0;
  if (!ReadLength(bytes, at, length)) return false;
  if (length < 1 || length > 33 || at + length > bytes.size()) return false;
  std::string_view content = bytes.substr(at, length);
  at += length;
  if (content.size() == 33) {
    if (content[0] != '\0') return false;
    content.remove_prefix(1);
  }
  for (size_t i = 0; i < 32; ++i) half[i] = 0;
  for (size_t i = 0; i < content.size(); ++i) {
    half[32 - content.size() + i] = static_cast<uint8_t>(content[i]);
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

PublicKeyBlob MakePublicKeyBlob(const std::array<uint8_t, 64>& x_and_y) {
  PublicKeyBlob blob{'E', 'C', 'S', '1', 32, 0, 0, 0};
  for (size_t i = 0; i < x_and_y.size(); ++i) blob[8 + i] = x_and_y[i];
  return blob;
}

bool ParsePublicKeyHex(std::string_view hex, PublicKeyBlob& blob) {
  if (hex.size() != 128) return false;
  std::array<uint8_t, 64> x_and_y;
  for (size_t i = 0; i < x_and_y.size(); ++i) {
    const int high = HexValue(hex[2 * i]), low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    x_and_y[i] = static_cast<uint8_t>(high << 4 | low);
  }
  blob = MakePublicKeyBlob(x_and_y);
  return true;
}

bool DecodeDerSignature(std::string_view der, RawSignature& raw) {
  if (der.size() < 2 || static_cast<uint8_t>(der[0]) != kSequence) return false;
  size_t at = 1;
  size_t length = 0;
  if (!ReadLength(der, at, length) || at + length != der.size()) return false;
  return ReadInteger(der, at, raw.data()) && ReadInteger(der, at, raw.data() + 32) &&
         at == der.size();
}

bool VerifyManifestSignature(std::string_view text, std::string_view signature,
                             const PublicKeyBlob& key) {
  RawSignature raw;
  if (!DecodeDerSignature(signature, raw)) return false;
  Sha256Digest digest;
  if (!Sha256Buffer(text.data(), text.size(), digest)) return false;
  return VerifyP256Signature(key, digest, raw);
}

}  // namespace hv
