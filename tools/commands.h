// The subcommands of the vanta command and what they share: exit statuses,
// -v/-q, the library's trace, and failure messages that say what failed.
//
// Each Add function adds its subcommand, with its options, to app. When the
// command line chooses that subcommand, *run receives the function that
// runs it and returns the process's exit status.
#ifndef VANTA_TOOLS_COMMANDS_H_
#define VANTA_TOOLS_COMMANDS_H_

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

#include <vanta/ErrorCode.h>
#include <vanta/Report.h>

namespace vanta {
namespace tools {

// Exit statuses shared by every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;         // any other failure; its code was printed
constexpr int kExitUsage = 2;          // an option or argument is not usable
constexpr int kExitUnreachable = 3;    // no name, no connection, no TLS, or no answer in time
constexpr int kExitRefused = 4;        // the server refused: an HTTP error or a refusal result
constexpr int kExitBadAnswer = 5;      // the answer is not what the protocol allows
constexpr int kExitInterrupted = 130;  // Ctrl-C ended the run (128 + SIGINT)

// The text of the statuses for --help and the man page.
extern const char kExitStatusHelp[];

// The exit status for a failure code.
int ExitStatusFor(ErrorCode code);

// "0xAC40C811 WS_ERROR_SERVER_RESULT_10": the code in upper-case hex with
// eight digits and its name.
std::string DescribeCode(ErrorCode code);

using CommandRun = std::function<int()>;

// -v/--verbose and -q/--quiet of the subcommands that talk to servers.
struct Verbosity {
  bool verbose = false;
  bool quiet = false;
};
void AddVerbosityFlags(CLI::App* sub, Verbosity* verbosity);

// With -v, prints the library's trace on stderr ("* " in front of each
// line) while it exists. The lines are for people: nothing reads them.
class TracePrinter {
 public:
  explicit TracePrinter(bool verbose);
  ~TracePrinter();
  TracePrinter(const TracePrinter&) = delete;
  TracePrinter& operator=(const TracePrinter&) = delete;

 private:
  const bool verbose_;
};

// "POST <address>: HTTP 500, <error>; 103 bytes sent, 88 received, 19 ms":
// an exchange as a failure message shows it, without its code.
std::string DescribeExchange(const ExchangeReport& exchange);

// Prints, on stderr, "vanta <command>: <what>: <code>", then what the
// exchange (may be null, or one that sent nothing) tells about it: the
// exchange, a refusal's result and message, or the start of an answer that
// could not be read; then the hint if any. Returns ExitStatusFor(code).
int ReportFailure(const char* command, const std::string& what, ErrorCode code,
                  const ExchangeReport* exchange, const std::string& hint = "");

// A hint for a failure whose last exchange went to address: what a
// refused connection, an unknown host or a time limit usually means.
std::string ConnectionHint(ErrorCode code, const std::string& address);

// The run-time and compiled releases of libcurl and OpenSSL and the release
// check mode, a line each with prefix in front.
std::string ReleasesText(const std::string& prefix);

// The text of vanta --version.
std::string VersionText();

// Wraps help text at 80 columns, continuing an option's explanation under
// its start.
class WrappingFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override;
};

void AddNegotiateCommand(CLI::App& app, CommandRun* run);
void AddMonitorPutCommand(CLI::App& app, CommandRun* run);
void AddDeviceIdCommand(CLI::App& app, CommandRun* run);
void AddCheckCommand(CLI::App& app, CommandRun* run);
void AddDispatcherCommand(CLI::App& app, CommandRun* run);

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_COMMANDS_H_
