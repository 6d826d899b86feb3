#include "publish/signing_key.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "core/owned.h"
#include "core/text.h"
#include "net/sha256.h"

namespace hv::publish {
namespace {

constexpr char kCurve[] = "prime256v1";

using OwnedBio = Owned<BIO, BIO_free>;
using OwnedKey = Owned<EVP_PKEY, EVP_PKEY_free>;

OwnedBio ReadBio(std::string_view bytes) {
  return OwnedBio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

bool BioText(BIO* bio, std::string& out) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  if (size < 0) return false;
  out.assign(data, static_cast<size_t>(size));
  return true;
}

bool IsP256(const EVP_PKEY* key) {
  char group[64] = {};
  size_t length = 0;
  return EVP_PKEY_is_a(key, "EC") &&
         EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                        &length) == 1 &&
         std::string_view(group, length) == kCurve;
}

bool PointOf(const EVP_PKEY* key, PublicPoint& point) {
  BIGNUM* x = nullptr;
  BIGNUM* y = nullptr;
  const bool got = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                   EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 &&
                   BN_bn2binpad(x, point.data(), 32) == 32 &&
                   BN_bn2binpad(y, point.data() + 32, 32) == 32;
  BN_free(x);
  BN_free(y);
  return got;
}

// A key file is never read from a terminal prompt: an encrypted key fails here instead.
int NoPassphrase(char*, int, int, void*) { return -1; }

}  // namespace

void SigningKey::Free::operator()(evp_pkey_st* key) const { EVP_PKEY_free(key); }

bool SigningKey::Generate(SigningKey& key) {
  key.key_.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", kCurve));
  return key.key_ != nullptr;
}

bool SigningKey::LoadPrivatePem(std::string_view pem, SigningKey& key, std::string& error) {
  const OwnedBio bio = ReadBio(pem);
  key.key_.reset(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr)
                     : nullptr);
  if (!key.key_) {
    error = "not an unencrypted private key in PEM";
    return false;
  }
  if (!IsP256(key.key_.get())) {
    key.key_.reset();
    error = "not an ECDSA P-256 key";
    return false;
  }
  return true;
}

bool SigningKey::PrivatePem(std::string& pem) const {
  const OwnedBio bio(BIO_new(BIO_s_mem()));
  return bio &&
         PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) ==
             1 &&
         BioText(bio.get(), pem);
}

bool SigningKey::PublicPem(std::string& pem) const {
  const OwnedBio bio(BIO_new(BIO_s_mem()));
  return bio && PEM_write_bio_PUBKEY(bio.get(), key_.get()) == 1 && BioText(bio.get(), pem);
}

bool SigningKey::Public(PublicPoint& point) const { return key_ && PointOf(key_.get(), point); }

bool SigningKey::Sign(std::string_view bytes, std::string& signature) const {
  const Owned<EVP_MD_CTX, EVP_MD_CTX_free> context(EVP_MD_CTX_new());
  size_t length = 0;
  if (!context || !key_ ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
      EVP_DigestSignUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
      EVP_DigestSignFinal(context.get(), nullptr, &length) != 1) {
    return false;
  }
  signature.resize(length);
  if (EVP_DigestSignFinal(context.get(), reinterpret_cast<unsigned char*>(signature.data()),
                          &length) != 1) {
    return false;
  }
  signature.resize(length);
  return true;
}

bool ReadPublicPem(std::string_view pem, PublicPoint& point) {
  const OwnedBio bio = ReadBio(pem);
  const OwnedKey key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, NoPassphrase, nullptr)
                         : nullptr);
  return key && IsP256(key.get()) && PointOf(key.get(), point);
}

std::string PointHex(const PublicPoint& point) {
  return WideToUtf8(HexLower(point.data(), point.size()));
}

}  // namespace hv::publish
