#include "client/client_detection.h"

namespace hv {

std::u16string ClientFileName(const std::u16string& exe) {
  const size_t last = exe.find_last_of(u'\\');
  return last == std::u16string::npos ? exe : exe.substr(last + 1);
}

}  // namespace hv
