// vanta: runs a negotiation, sends a launcher monitor report, prints the
// device identifier, or runs the local reference dispatcher.
#include <CLI/CLI.hpp>

#include "tools/commands.h"

int main(int argc, char** argv) {
  using namespace vanta::tools;
  CLI::App app("Command-line companion of the VantaWebService library.", "vanta");
  app.require_subcommand(1);
  // Wide enough for the longest option with its default, so that every
  // option and its explanation share one line. Subcommands inherit it.
  app.get_formatter()->column_width(60);
  app.footer(
      "Exit status: 0 on success, 1 when the operation failed (the result code is "
      "printed in hex with its WS_ name), 2 for unusable options.");
  CommandRun run;
  AddNegotiateCommand(app, &run);
  AddMonitorPutCommand(app, &run);
  AddDeviceIdCommand(app, &run);
  AddDispatcherCommand(app, &run);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int status = app.exit(e);
    return status == 0 ? kExitOk : kExitUsage;
  }
  return run ? run() : kExitUsage;
}
