// Owners of the CNG handles, for ScopedHandle.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include "core/scoped_handle_win.h"

namespace hv {

struct AlgorithmProviderTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptCloseAlgorithmProvider(handle, 0); }
};

struct HashObjectTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptDestroyHash(handle); }
};

struct KeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptDestroyKey(handle); }
};

using ScopedAlgorithmProvider = ScopedHandle<AlgorithmProviderTraits>;
using ScopedHashObject = ScopedHandle<HashObjectTraits>;
using ScopedKey = ScopedHandle<KeyTraits>;

}  // namespace hv
