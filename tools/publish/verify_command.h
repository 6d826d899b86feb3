// halvoryn-publish verify: checks a release as a player's launcher would see it, from a site
// folder or through the web server.
#pragma once

#include "publish/command_line.h"

namespace hv::publish {

extern const CommandInfo kVerifyCommand;
int RunVerify(const Arguments& args);

}  // namespace hv::publish
