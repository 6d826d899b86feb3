#include "net/sha256.h"

#include "core/file.h"

namespace hv {
namespace {

constexpr size_t kChunk = 1024 * 1024;

}  // namespace

std::u16string HexLower(const uint8_t* bytes, size_t count) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  std::u16string hex(count * 2, u'0');
  for (size_t i = 0; i < count; ++i) {
    hex[2 * i] = kDigits[bytes[i] >> 4];
    hex[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

bool Sha256FileHex(const std::u16string& path, std::u16string& digest_hex, const CancelFlag* cancel,
                   ProgressCallback progress, void* user) {
  File file;
  if (!file.Open(path, File::Access::kReadSequential)) return false;
  Sha256Hasher hasher;
  if (!hasher.usable()) return false;
  // Not zero-filled: most client files are far smaller than the buffer.
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
  while (true) {
    size_t got = 0;
    if (!file.Read(buffer.get(), kChunk, got)) return false;
    if (got == 0) break;
    if (IsCancelled(cancel)) return false;
    hasher.Update(buffer.get(), got);
    if (progress) progress(got, user);
  }
  file.Close();
  Sha256Digest digest;
  digest_hex = hasher.Finish(digest) ? HexLower(digest.data(), digest.size()) : std::u16string();
  return !digest_hex.empty();
}

}  // namespace hv
