#include <windows.h>

#include <climits>

#include "net/bcrypt_handles_win.h"
#include "net/sha256.h"

namespace hv {
namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

constexpr ULONG kDigestSize = 32;

}  // namespace

// Members are destroyed in reverse order: the hash object before its provider.
struct Sha256Hasher::Handles {
  ScopedAlgorithmProvider provider;
  ScopedHashObject hash;
};

Sha256Hasher::Sha256Hasher() : handles_(std::make_unique<Handles>()) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!Succeeded(BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return;
  }
  handles_->provider.Reset(provider);
  // No object buffer: CNG allocates the hash object itself.
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!Succeeded(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0))) return;
  handles_->hash.Reset(hash);
  usable_ = true;
}

Sha256Hasher::~Sha256Hasher() = default;

void Sha256Hasher::Update(const void* data, size_t size) {
  if (!usable_) return;
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (size > 0 && usable_) {
    const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    usable_ = Succeeded(BCryptHashData(handles_->hash.Get(), bytes, piece, 0));
    bytes += piece;
    size -= piece;
  }
}

bool Sha256Hasher::Finish(Sha256Digest& digest) {
  return usable_ &&
         Succeeded(BCryptFinishHash(handles_->hash.Get(), digest.data(), kDigestSize, 0));
}

bool Sha256Buffer(const void* data, size_t size, Sha256Digest& digest) {
  if (size > ULONG_MAX) return false;
  BCRYPT_ALG_HANDLE raw = nullptr;
  if (!Succeeded(BCryptOpenAlgorithmProvider(&raw, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  ScopedAlgorithmProvider provider(raw);
  return Succeeded(BCryptHash(provider.Get(), nullptr, 0,
                              static_cast<PUCHAR>(const_cast<void*>(data)),
                              static_cast<ULONG>(size), digest.data(), kDigestSize));
}

}  // namespace hv
