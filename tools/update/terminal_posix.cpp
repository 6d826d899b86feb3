#include <unistd.h>

#include <cstdio>

#include "core/text.h"
#include "terminal.h"

namespace hv::runner {

bool OutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void WriteOut(std::u16string_view text) {
  const std::string bytes = WideToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

void WriteError(std::u16string_view text) {
  const std::string bytes = WideToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
}

}  // namespace hv::runner
