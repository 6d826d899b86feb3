#include <windows.h>

#include "net/bcrypt_handles_win.h"
#include "net/signature.h"

namespace hv {

bool VerifyP256Signature(const PublicKeyBlob& key, const std::array<uint8_t, 32>& digest,
                         const RawSignature& raw) {
  BCRYPT_ALG_HANDLE raw_provider = nullptr;
  if (BCryptOpenAlgorithmProvider(&raw_provider, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0) {
    return false;
  }
  ScopedAlgorithmProvider provider(raw_provider);
  // A fresh copy: the import takes a non-const buffer.
  PublicKeyBlob blob = key;
  BCRYPT_KEY_HANDLE raw_key = nullptr;
  if (BCryptImportKeyPair(provider.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &raw_key, blob.data(),
                          static_cast<ULONG>(blob.size()), 0) < 0) {
    return false;
  }
  ScopedKey imported(raw_key);
  RawSignature signature = raw;
  std::array<uint8_t, 32> hash = digest;
  return BCryptVerifySignature(imported.Get(), nullptr, hash.data(),
                               static_cast<ULONG>(hash.size()), signature.data(),
                               static_cast<ULONG>(signature.size()), 0) >= 0;
}

}  // namespace hv
