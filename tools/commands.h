// The commands of the vanta command and what they share: exit statuses,
// options that read into a variable, the library's trace, and failure
// messages that say what failed and what usually helps.
#ifndef VANTA_TOOLS_COMMANDS_H_
#define VANTA_TOOLS_COMMANDS_H_

#include <string>
#include <vector>

#include <vanta/ErrorCode.h>
#include <vanta/Report.h>

#include "tools/arguments.h"
#include "tools/values.h"

namespace vanta {
namespace tools {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;         // any other failure; its code was printed
constexpr int kExitUsage = 2;          // an option or argument is not usable
constexpr int kExitUnreachable = 3;    // no name, no connection, no TLS, or no answer in time
constexpr int kExitRefused = 4;        // the server refused: an HTTP error or a refusal result
constexpr int kExitBadAnswer = 5;      // the answer is not what the protocol allows
constexpr int kExitMaxTime = 6;        // --max-time ended the run
constexpr int kExitInterrupted = 130;  // Ctrl-C ended the run (128 + SIGINT)

// The meaning of each status, as the help shows it.
extern const ExitStatus kStatusFailed;
extern const ExitStatus kStatusUsage;
extern const ExitStatus kStatusUnreachable;
extern const ExitStatus kStatusRefused;
extern const ExitStatus kStatusBadAnswer;

// The exit status for a failure code.
int ExitStatusFor(ErrorCode code);

// "0xAC40C811 WS_ERROR_SERVER_RESULT_10": the code in upper-case hex with
// eight digits and its name.
std::string DescribeCode(ErrorCode code);

// Options that read their value into *target. The default shown in the
// help is *target's value at the time (none for an empty text).
Option TextOption(std::vector<std::string> names, std::string value_name, std::string help,
                  std::string* target);
Option IntOption(std::vector<std::string> names, std::string value_name, std::string help,
                 int* target);
Option PortOption(std::vector<std::string> names, std::string help, int* target);
Option FlagOption(std::vector<std::string> names, std::string help, bool* target);
// Repeatable; each value is appended.
Option ListOption(std::vector<std::string> names, std::string value_name, std::string help,
                  std::vector<std::string>* target);
// An address of the given kind (UrlProblem); a base without its final "/"
// is refused with the corrected address.
Option UrlOption(std::vector<std::string> names, UrlKind kind, std::string help,
                 std::string* target);

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

// "HTTP 500 Internal Server Error" (the reason phrase where it is known).
std::string HttpStatusText(long status);

// "POST <address>: HTTP 500 Internal Server Error; 103 bytes sent, 88
// received, 19 ms": an exchange as a failure message shows it, without its
// code (libcurl's text only where it adds to the HTTP status).
std::string DescribeExchange(const ExchangeReport& exchange);

// What usually helps after a failure with code whose last exchange (may be
// null or empty) went to address: by HTTP status class for an answer, by
// kind for a connection that failed. "" when nothing is known to help.
std::string FailureHint(ErrorCode code, const ExchangeReport* exchange, const std::string& address);

// Prints, on stderr, "vanta <command>: <what>: <code>", then what the
// exchange (may be null, or one that sent nothing) tells about it: the
// exchange, a refusal's result and message, or the start of an answer that
// could not be read; then the hint if any. Returns ExitStatusFor(code).
int ReportFailure(const char* command, const std::string& what, ErrorCode code,
                  const ExchangeReport* exchange, const std::string& hint);

// The run-time and compiled releases of libcurl and OpenSSL and the release
// check mode, a line each with prefix in front.
std::string ReleasesText(const std::string& prefix);

// The text of vanta --version.
std::string VersionText();

Command NegotiateCommand();
Command MonitorPutCommand();
Command DeviceIdCommand();
Command CheckCommand();
Command DispatcherCommand();

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_COMMANDS_H_
