// Commands that show what the launcher's own code makes of a file or a value: check-manifest,
// verify-signature, compare-versions and check-news.
#pragma once

#include "publish/command_line.h"

namespace hv::publish {

extern const CommandInfo kCheckManifestCommand;
int RunCheckManifest(const Arguments& args);

extern const CommandInfo kVerifySignatureCommand;
int RunVerifySignature(const Arguments& args);

extern const CommandInfo kCompareVersionsCommand;
int RunCompareVersions(const Arguments& args);

extern const CommandInfo kCheckNewsCommand;
int RunCheckNews(const Arguments& args);

}  // namespace hv::publish
