// vanta device-id: prints the device identifier that the negotiation would
// register, or says why it cannot be built.
#include <cstdio>
#include <string>

#include <vanta/WebServiceAccessor.h>

#include "tools/commands.h"

namespace vanta {
namespace tools {
namespace {

int RunDeviceId() {
  std::string id, reason;
  if (!WebServiceAccessor::BuildDeviceId(&id, &reason)) {
    std::fprintf(stderr, "vanta device-id: cannot build the device identifier: %s\n",
                 reason.c_str());
    return kExitFailed;
  }
  std::printf("%s\n", id.c_str());
  return kExitOk;
}

}  // namespace

void AddDeviceIdCommand(CLI::App& app, CommandRun* run) {
  CLI::App* sub = app.add_subcommand(
      "device-id",
      "Print the device identifier (hardware UUID and first network adapter address) that the "
      "negotiation registers, or say why it cannot be built.");
  sub->callback([run] { *run = [] { return RunDeviceId(); }; });
}

}  // namespace tools
}  // namespace vanta
