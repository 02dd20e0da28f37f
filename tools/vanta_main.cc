// vanta: runs a negotiation, sends a launcher monitor report, prints the
// device identifier, checks the connectivity, or runs the local reference
// dispatcher.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/arguments.h"
#include "tools/commands.h"
#include "tools/help.h"

namespace {

using namespace vanta::tools;

// An unusable command line: what was wrong, and where to look for help.
int UsageError(const std::string& where, const std::string& error) {
  std::fprintf(stderr, "%s: %s\nSee '%s --help'.\n", where.c_str(), error.c_str(), where.c_str());
  return kExitUsage;
}

// "vanta help [TOPIC]".
int Help(const std::vector<Command>& commands, const std::string& topic) {
  if (topic.empty()) {
    std::fputs(GeneralHelp(commands).c_str(), stdout);
    return kExitOk;
  }
  std::vector<std::string> names;
  for (const Command& command : commands) {
    if (command.name == topic) {
      std::fputs(CommandHelp(command).c_str(), stdout);
      return kExitOk;
    }
    names.push_back(command.name);
  }
  const std::string closest = ClosestName(topic, names);
  return UsageError("vanta help", "'" + topic + "' is not a vanta command" +
                                      (closest.empty() ? "" : "; did you mean '" + closest + "'?"));
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<Command> commands = {NegotiateCommand(), MonitorPutCommand(), DeviceIdCommand(),
                                         CheckCommand(), DispatcherCommand()};
  const Invocation invocation =
      ParseCommandLine(commands, std::vector<std::string>(argv + 1, argv + argc));
  const std::string where =
      invocation.command != nullptr ? "vanta " + invocation.command->name : "vanta";
  if (!invocation.error.empty()) return UsageError(where, invocation.error);
  if (invocation.globals.help) {
    return Help(commands,
                invocation.command != nullptr ? invocation.command->name : invocation.help_topic);
  }
  if (invocation.help_command) return Help(commands, invocation.help_topic);
  if (invocation.globals.version) {
    std::fputs(VersionText().c_str(), stdout);
    return kExitOk;
  }
  if (invocation.command == nullptr) {
    return UsageError("vanta",
                      "a command is required (negotiate, monitor-put, device-id, check "
                      "or dispatcher)");
  }
  return invocation.command->run(invocation.globals);
}
