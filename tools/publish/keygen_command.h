// halvoryn-publish keygen --out DIR: a new signing key pair.
#pragma once

#include "publish/command_line.h"

namespace hv::publish {

extern const CommandInfo kKeygenCommand;
int RunKeygen(const Arguments& args);

}  // namespace hv::publish
