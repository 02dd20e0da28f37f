// The subcommands of the vanta command.
//
// Each Add function adds its subcommand, with its options, to app. When the
// command line chooses that subcommand, *run receives the function that
// runs it and returns the process's exit status.
#ifndef VANTA_TOOLS_COMMANDS_H_
#define VANTA_TOOLS_COMMANDS_H_

#include <CLI/CLI.hpp>

#include <functional>

#include "vanta/ErrorCode.h"

namespace vanta {
namespace tools {

// Exit statuses shared by every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the operation failed; its code was printed
constexpr int kExitUsage = 2;   // an option value is not usable

using CommandRun = std::function<int()>;

// Prints "vanta <command>: <what>: <code in hex> <WS_ name>" on stderr and
// returns kExitFailed.
int FailWithCode(const char* command, const char* what, ErrorCode code);

void AddNegotiateCommand(CLI::App& app, CommandRun* run);
void AddMonitorPutCommand(CLI::App& app, CommandRun* run);
void AddDeviceIdCommand(CLI::App& app, CommandRun* run);
void AddDispatcherCommand(CLI::App& app, CommandRun* run);

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_COMMANDS_H_
