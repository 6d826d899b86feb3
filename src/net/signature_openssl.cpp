#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include "core/owned.h"
#include "net/signature.h"

namespace hv {
namespace {

void FreeOpenSslBuffer(unsigned char* buffer) { OPENSSL_free(buffer); }

// The public key from the blob's X and Y, as an uncompressed point (0x04, X, Y) on P-256.
Owned<EVP_PKEY, EVP_PKEY_free> ImportKey(const PublicKeyBlob& blob) {
  uint8_t point[65];
  point[0] = 0x04;
  for (size_t i = 0; i < 64; ++i) point[1 + i] = blob[8 + i];
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("prime256v1"),
                                       0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
      OSSL_PARAM_construct_end()};
  Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free> context(
      EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
    return nullptr;
  }
  return Owned<EVP_PKEY, EVP_PKEY_free>(key);
}

}  // namespace

bool VerifyP256Signature(const PublicKeyBlob& key, const std::array<uint8_t, 32>& digest,
                         const RawSignature& raw) {
  static constexpr uint8_t kMagic[8] = {'E', 'C', 'S', '1', 32, 0, 0, 0};
  for (size_t i = 0; i < 8; ++i) {
    if (key[i] != kMagic[i]) return false;
  }
  const auto public_key = ImportKey(key);
  if (!public_key) return false;

  // OpenSSL verifies DER only. It gets a DER form it encodes itself from our r and s, never the
  // bytes of the signature file, whose decoding rules are ours.
  Owned<ECDSA_SIG, ECDSA_SIG_free> signature(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(raw.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(raw.data() + 32, 32, nullptr);
  if (!signature || !r || !s || ECDSA_SIG_set0(signature.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  unsigned char* der = nullptr;
  const int der_length = i2d_ECDSA_SIG(signature.get(), &der);
  if (der_length <= 0) return false;
  const Owned<unsigned char, FreeOpenSslBuffer> der_owner(der);

  Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free> verify(EVP_PKEY_CTX_new(public_key.get(), nullptr));
  return verify && EVP_PKEY_verify_init(verify.get()) == 1 &&
         EVP_PKEY_verify(verify.get(), der, static_cast<size_t>(der_length), digest.data(),
                         digest.size()) == 1;
}

}  // namespace hv
