// halvoryn-update: one update run (or a restore run) of the launcher's engine on a portable
// installation rooted at a folder, without a window. Prints the status line as it changes and
// ends with 0 when the run ends ready, 1 otherwise, 2 for a bad command line.
#pragma once

#include <string>
#include <vector>

namespace hv::runner {

int RunTool(const std::vector<std::u16string>& arguments);

}  // namespace hv::runner
