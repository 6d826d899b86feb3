// SHA-256 digests and their text form: 64 lower-case hexadecimal characters, compared everywhere
// as exact, case-sensitive strings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/cancel_flag.h"

namespace hv {

using Sha256Digest = std::array<uint8_t, 32>;

// Called once per chunk with the chunk's byte count, on the caller's thread.
using ProgressCallback = void (*)(uint64_t bytes, void* user);

// Incremental SHA-256 over the platform's implementation (CNG on Windows, OpenSSL elsewhere).
// Owns the provider and the hash object, released in that order's reverse.
class Sha256Hasher {
 public:
  Sha256Hasher();
  ~Sha256Hasher();
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;

  // False when the provider or the hash object could not be created, or a call failed since.
  bool usable() const { return usable_; }
  void Update(const void* data, size_t size);  // a failure makes the hasher unusable
  bool Finish(Sha256Digest& digest);

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
  bool usable_ = false;
};

bool Sha256Buffer(const void* data, size_t size, Sha256Digest& digest);

std::u16string HexLower(const uint8_t* bytes, size_t count);

// Streams the file through the hash in 1 MiB chunks. True exactly when digest_hex was set to a
// non-empty digest. A file that cannot be opened or read, or a set cancel flag (tested after each
// read that returned data, before hashing it), gives false and leaves digest_hex untouched; a
// failure of the hash itself gives false with digest_hex emptied.
bool Sha256FileHex(const std::u16string& path, std::u16string& digest_hex, const CancelFlag* cancel,
                   ProgressCallback progress, void* user);

}  // namespace hv
