#include <signal.h>

#include <cstdlib>

namespace hv {

[[noreturn]] void KillSelf() {
  ::raise(SIGKILL);
  std::_Exit(137);
}

}  // namespace hv
