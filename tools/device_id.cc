// vanta device-id: prints the device identifier that the negotiation would
// register, or says why it cannot be built.
#include <cstdio>

#include "accessor/DeviceId.h"
#include "platform/Platform.h"
#include "tools/commands.h"

namespace vanta {
namespace tools {
namespace {

// The buffer size that the negotiation uses.
constexpr int kDeviceIdBufferSize = 55;

const char* FailureReason(DeviceIdFailure failure) {
  switch (failure) {
    case DeviceIdFailure::kProcessNotStarted:
      // Without ComSpec the library writes the UUID file itself.
      if (platform::ReadEnvironment("ComSpec")) {
        return "the hardware UUID query could not be started (check the program that ComSpec "
               "names, or unset ComSpec)";
      }
      return "no hardware UUID to write the UUID file from (neither "
             "/sys/class/dmi/id/product_uuid nor /etc/machine-id is readable)";
    case DeviceIdFailure::kUuidFileUnreadable:
      return "the UUID file id.tmp in the temporary directory (TEMP, TMPDIR or /tmp) could not "
             "be read";
    case DeviceIdFailure::kAdapterBufferUnavailable:
      return "there was no memory for the network adapter list";
    case DeviceIdFailure::kAdapterListUnreadable:
      return "no network adapter with a hardware address was found (loopback does not count)";
    case DeviceIdFailure::kNone:
      break;
  }
  return "the identifier does not fit its buffer";
}

int RunDeviceId() {
  char buffer[kDeviceIdBufferSize] = {};
  DeviceIdFailure failure = DeviceIdFailure::kNone;
  if (!CreateDeviceIdText(buffer, kDeviceIdBufferSize, &failure)) {
    std::fprintf(stderr, "vanta device-id: cannot build the device identifier: %s\n",
                 FailureReason(failure));
    return kExitFailed;
  }
  std::printf("%s\n", buffer);
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
