// halvoryn-publish: the operator's tool for publishing client releases and news to a site.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "publish/command_line.h"
#include "publish/console.h"
#include "publish/keygen_command.h"
#include "publish/launcher_checks.h"
#include "publish/news_command.h"
#include "publish/prune_command.h"
#include "publish/publish_command.h"
#include "publish/verify_command.h"

namespace hv::publish {
namespace {

struct Command {
  const CommandInfo& info;
  int (*run)(const Arguments& args);
};

const Command kCommands[] = {
    {kKeygenCommand, RunKeygen},
    {kPublishCommand, RunPublish},
    {kNewsCommand, RunNews},
    {kVerifyCommand, RunVerify},
    {kPruneCommand, RunPrune},
    {kCheckManifestCommand, RunCheckManifest},
    {kVerifySignatureCommand, RunVerifySignature},
    {kCompareVersionsCommand, RunCompareVersions},
    {kCheckNewsCommand, RunCheckNews},
};

void PrintOverview(std::FILE* out) {
  std::fputs("usage: halvoryn-publish COMMAND [OPTIONS]\n\ncommands:\n", out);
  for (const Command& command : kCommands) {
    std::fprintf(out, "  %-18.*s %.*s\n", static_cast<int>(command.info.name.size()),
                 command.info.name.data(), static_cast<int>(command.info.summary.size()),
                 command.info.summary.data());
  }
  std::fputs("\n'halvoryn-publish COMMAND --help' describes one command.\n", out);
}

int Run(const std::vector<std::string>& words) {
  if (words.empty()) {
    PrintOverview(stderr);
    return kExitUsage;
  }
  if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    PrintOverview(stdout);
    return kExitOk;
  }
  for (const Command& command : kCommands) {
    if (words[0] != command.info.name) continue;
    Arguments args;
    const ParseOutcome outcome = ParseArguments(
        command.info, std::vector<std::string>(words.begin() + 1, words.end()), args);
    if (outcome.help) {
      std::fwrite(command.info.help.data(), 1, command.info.help.size(), stdout);
      return kExitOk;
    }
    if (!outcome.ok) {
      PrintError(outcome.error);
      std::fprintf(stderr, "run 'halvoryn-publish %s --help' for its usage\n", words[0].c_str());
      return kExitUsage;
    }
    return command.run(args);
  }
  PrintError("unknown command '" + words[0] + "'");
  PrintOverview(stderr);
  return kExitUsage;
}

}  // namespace
}  // namespace hv::publish

int main(int argc, char** argv) {
  try {
    return hv::publish::Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& exception) {
    // Only resource exhaustion gets here; the commands report every expected failure.
    hv::publish::PrintError(std::string("stopped: ") + exception.what());
    return hv::publish::kExitFailed;
  }
}
