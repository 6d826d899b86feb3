// The DER signature decoder on arbitrary bytes: no crash, and whatever it accepts re-encodes to
// the same r and s.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/signature.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

std::string Integer(const uint8_t* half) {
  size_t skip = 0;
  while (skip < 31 && half[skip] == 0) ++skip;
  std::string content(reinterpret_cast<const char*>(half + skip), 32 - skip);
  if (static_cast<uint8_t>(content[0]) & 0x80) content.insert(0, 1, '\0');
  return std::string(1, '\x02') + char(content.size()) + content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view der(reinterpret_cast<const char*>(data), size);
  hv::RawSignature raw;
  if (!hv::DecodeDerSignature(der, raw)) return 0;
  // The minimal encoding of what was decoded decodes to the same halves.
  const std::string body = Integer(raw.data()) + Integer(raw.data() + 32);
  const std::string minimal = std::string(1, '\x30') + char(body.size()) + body;
  hv::RawSignature again;
  Check(hv::DecodeDerSignature(minimal, again) && again == raw);
  return 0;
}
