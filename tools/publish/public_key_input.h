// The --public-key argument of the checking commands: the 128 hex characters of X and Y (what the
// launcher is built with), a file holding them (public.hex), or a public.pem.
#pragma once

#include <string>

#include "net/signature.h"

namespace hv::publish {

bool ReadPublicKeyArgument(const std::string& argument, PublicKeyBlob& key, std::string& error);

}  // namespace hv::publish
