#include <openssl/evp.h>

#include "core/owned.h"
#include "net/sha256.h"

namespace hv {

struct Sha256Hasher::Handles {
  Owned<EVP_MD_CTX, EVP_MD_CTX_free> context;
};

Sha256Hasher::Sha256Hasher() : handles_(std::make_unique<Handles>()) {
  handles_->context.reset(EVP_MD_CTX_new());
  usable_ = handles_->context && EVP_DigestInit_ex(handles_->context.get(), EVP_sha256(), nullptr);
}

Sha256Hasher::~Sha256Hasher() = default;

void Sha256Hasher::Update(const void* data, size_t size) {
  if (usable_) usable_ = EVP_DigestUpdate(handles_->context.get(), data, size) == 1;
}

bool Sha256Hasher::Finish(Sha256Digest& digest) {
  unsigned int length = 0;
  return usable_ && EVP_DigestFinal_ex(handles_->context.get(), digest.data(), &length) == 1 &&
         length == digest.size();
}

bool Sha256Buffer(const void* data, size_t size, Sha256Digest& digest) {
  unsigned int length = 0;
  return EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr) == 1 &&
         length == digest.size();
}

}  // namespace hv
