// halvoryn-publish publish: signs a client folder as one release and makes a site serve it.
#pragma once

#include "publish/command_line.h"

namespace hv::publish {

extern const CommandInfo kPublishCommand;
int RunPublish(const Arguments& args);

}  // namespace hv::publish
