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
#include <mutex>
#include <string>

#include <vanta/ErrorCode.h>

namespace vanta {
namespace tools {

// Exit statuses shared by every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;       // any other failure; its code was printed
constexpr int kExitUsage = 2;        // an option or argument is not usable
constexpr int kExitUnreachable = 3;  // no name, no connection, no TLS, or no answer in time
constexpr int kExitRefused = 4;      // the server refused: an HTTP error or a refusal result
constexpr int kExitBadAnswer = 5;    // the answer is not what the protocol allows

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

// Watches the library's trace while it exists: prints every line on stderr
// with -v ("* " in front) and keeps what a failure message needs. listener,
// when set, sees every line too (on the library's threads).
class TraceWatch {
 public:
  TraceWatch(bool verbose, std::function<void(const std::string&)> listener = nullptr);
  ~TraceWatch();
  TraceWatch(const TraceWatch&) = delete;
  TraceWatch& operator=(const TraceWatch&) = delete;

  // The last exchange line ("POST <address>: HTTP 500; ...") and the last
  // refusal line ("request_token refused: result 2, ..."), or "".
  std::string LastExchange() const;
  std::string LastRefusal() const;

 private:
  static void OnLine(const char* line, void* context);

  const bool verbose_;
  const std::function<void(const std::string&)> listener_;
  mutable std::mutex mu_;
  std::string last_exchange_;
  std::string last_refusal_;
};

// Prints, on stderr, "vanta <command>: <what>: <code>", the exchange and
// refusal that explain it, and the hint if any; returns ExitStatusFor(code).
int ReportFailure(const char* command, const std::string& what, ErrorCode code,
                  const TraceWatch& trace, const std::string& hint = "");

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
