// halvoryn-publish prune: removes contents no recent release needs.
#pragma once

#include "publish/command_line.h"

namespace hv::publish {

extern const CommandInfo kPruneCommand;
int RunPrune(const Arguments& args);

}  // namespace hv::publish
