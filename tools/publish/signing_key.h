// The operator's manifest signing key, an ECDSA P-256 key pair, through OpenSSL: generation, its
// PEM files and signatures. The launcher never signs; the tool checks every signature it makes
// with the launcher's own verifier.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct evp_pkey_st;

namespace hv::publish {

// The largest key file (PEM or hex) the tool reads: real ones are a few hundred bytes.
constexpr uint64_t kMaxKeyFile = 64 * 1024;

// X then Y, each 32 bytes big-endian: what the launcher's build option spells in hex.
using PublicPoint = std::array<uint8_t, 64>;

class SigningKey {
 public:
  // A new random key pair.
  static bool Generate(SigningKey& key);
  // A private key in PEM (PKCS#8 or the traditional EC form). Anything but a P-256 key is
  // refused with a message in error.
  static bool LoadPrivatePem(std::string_view pem, SigningKey& key, std::string& error);

  bool PrivatePem(std::string& pem) const;  // unencrypted PKCS#8
  bool PublicPem(std::string& pem) const;   // SubjectPublicKeyInfo
  bool Public(PublicPoint& point) const;
  // The DER ECDSA signature over SHA-256 of bytes, as `openssl dgst -sha256 -sign` makes it.
  bool Sign(std::string_view bytes, std::string& signature) const;

 private:
  struct Free {
    void operator()(evp_pkey_st* key) const;
  };
  std::unique_ptr<evp_pkey_st, Free> key_;
};

// The point of a P-256 public key in PEM (SubjectPublicKeyInfo, as public.pem holds it).
bool ReadPublicPem(std::string_view pem, PublicPoint& point);

// 128 lower-case hex characters.
std::string PointHex(const PublicPoint& point);

}  // namespace hv::publish
