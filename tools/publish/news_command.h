// halvoryn-publish news: writes a site's news feed from the operator's list.
#pragma once

#include "publish/command_line.h"

namespace hv::publish {

extern const CommandInfo kNewsCommand;
int RunNews(const Arguments& args);

}  // namespace hv::publish
