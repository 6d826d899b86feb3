// Standard output for the runner: UTF-8 text, and whether it is a terminal (where a progress bar
// is redrawn in place) or a pipe or file (plain lines).
#pragma once

#include <string_view>

namespace hv::runner {

bool OutputIsTerminal();
void WriteOut(std::u16string_view text);
void WriteError(std::u16string_view text);

}  // namespace hv::runner
