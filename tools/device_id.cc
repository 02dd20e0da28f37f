// vanta device-id: prints the device identifier that the negotiation would
// register, or says why it cannot be built.
#include <cstdio>
#include <string>

#include <vanta/WebServiceAccessor.h>

#include "tools/commands.h"

namespace vanta {
namespace tools {
namespace {

int RunDeviceId(const Globals& globals) {
  TracePrinter trace(globals.verbose);
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

Command DeviceIdCommand() {
  Command command;
  command.name = "device-id";
  command.summary = "Print the device identifier";
  command.description =
      "Print the device identifier (hardware UUID and first network adapter address) that the "
      "negotiation registers, or say why it cannot be built.";
  command.exit_statuses = {{kExitOk, "the identifier was printed"},
                           {kExitFailed, "the identifier cannot be built; the reason is printed"},
                           kStatusUsage};
  command.run = &RunDeviceId;
  return command;
}

}  // namespace tools
}  // namespace vanta
