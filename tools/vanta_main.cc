// vanta: runs a negotiation, sends a launcher monitor report, prints the
// device identifier, checks the connectivity, or runs the local reference
// dispatcher.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>

#include "tools/commands.h"

namespace {

using namespace vanta::tools;

// A parse error as people expect it from a command of this kind: the
// command and subcommand in front, the offending word named, and where to
// look for help.
int ReportParseError(const CLI::App& app, const CLI::ParseError& error, const char* first) {
  std::string where = "vanta";
  std::string help = "vanta --help";
  for (const CLI::App* sub : app.get_subcommands()) {
    where += " " + sub->get_name();
    help = "vanta " + sub->get_name() + " --help";
  }
  std::string message = error.what();
  const std::string extra = "argument was not expected: ";
  const size_t at = message.find(extra);
  if (at != std::string::npos) {
    const std::string word = message.substr(at + extra.size());
    message =
        where == "vanta" && word.rfind("-", 0) != 0
            ? "'" + word + "' is not a vanta command"
            : (word.rfind("-", 0) == 0 ? "unknown option '" : "unexpected argument '") + word + "'";
  } else if (error.get_name() == "RequiredError" && where == "vanta") {
    message = first != nullptr && first[0] != '-'
                  ? "'" + std::string(first) + "' is not a vanta command"
                  : "a command is required";
  }
  std::fprintf(stderr, "%s: %s\nSee '%s'.\n", where.c_str(), message.c_str(), help.c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "Command-line companion of the VantaWebService library: negotiates with a dispatcher, "
      "reports to a launcher monitor, shows the device identifier, checks connectivity and "
      "runs a local reference dispatcher.",
      "vanta");
  app.formatter(std::make_shared<WrappingFormatter>());
  app.require_subcommand(1);
  app.set_version_flag("--version", VersionText,
                       "Print the releases of vanta, the library, "
                       "libcurl and OpenSSL, then exit");
  app.footer(kExitStatusHelp);
  CommandRun run;
  AddNegotiateCommand(app, &run);
  AddMonitorPutCommand(app, &run);
  AddDeviceIdCommand(app, &run);
  AddCheckCommand(app, &run);
  AddDispatcherCommand(app, &run);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return ReportParseError(app, e, argc > 1 ? argv[1] : nullptr);
  }
  return run ? run() : kExitUsage;
}
