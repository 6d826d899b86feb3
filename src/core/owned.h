// std::unique_ptr for objects of C libraries, released by the library's own function:
// Owned<CURL, curl_easy_cleanup>, Owned<DIR, closedir>.
#pragma once

#include <memory>

namespace hv {

template <auto Release>
struct ReleaseWith {
  template <typename T>
  void operator()(T* pointer) const {
    Release(pointer);
  }
};

template <typename T, auto Release>
using Owned = std::unique_ptr<T, ReleaseWith<Release>>;

}  // namespace hv
