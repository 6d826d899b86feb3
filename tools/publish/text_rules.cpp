#include "publish/text_rules.h"

#include "core/text.h"

namespace hv::publish {

// The launcher's codec turns every ill-formed sequence into U+FFFD, so only well-formed text
// comes back byte for byte.
bool IsValidUtf8(std::string_view text) { return WideToUtf8(Utf8ToWide(text)) == text; }

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace hv::publish
