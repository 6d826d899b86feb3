// Checks on operator text before it goes into a line-based file the launcher reads.
#pragma once

#include <string_view>

namespace hv::publish {

// Well-formed UTF-8: the launcher would show U+FFFD for anything else.
bool IsValidUtf8(std::string_view text);

// A CR or a LF: either would end the line the value is written on.
bool HasLineBreak(std::string_view text);

}  // namespace hv::publish
