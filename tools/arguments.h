// The command line of the vanta command: its commands, their options, the
// global options that may stand anywhere, and the errors of a command line
// that cannot be used, worded for the person who typed it.
#ifndef VANTA_TOOLS_ARGUMENTS_H_
#define VANTA_TOOLS_ARGUMENTS_H_

#include <functional>
#include <string>
#include <vector>

namespace vanta {
namespace tools {

// -v/--verbose, -q/--quiet, -h/--help and -V/--version, before or after the
// command's name.
struct Globals {
  bool verbose = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

struct Option {
  std::vector<std::string> names;  // "-x" or "--name"; the first is shown first
  std::string value_name;          // "PORT"; empty for a flag
  std::string help;
  std::string default_text;  // shown as "(default ...)"; empty: none shown
  bool repeatable = false;
  // Takes the option's value ("" for a flag): "" when it is usable,
  // otherwise what is wrong with it ("not a whole number").
  std::function<std::string(const std::string& value)> take;
};

struct ExitStatus {
  int status;
  const char* meaning;
};

struct Command {
  std::string name;
  std::string summary;      // one line in the list of commands
  std::string description;  // the start of its help
  std::vector<Option> options;
  std::string footer;  // after the options in its help; may be empty
  std::vector<ExitStatus> exit_statuses;
  // Runs the command once its options were taken; the exit status.
  std::function<int(const Globals& globals)> run;
};

// What a command line asks for.
struct Invocation {
  const Command* command = nullptr;  // null: no command named
  bool help_command = false;         // "vanta help [TOPIC]"
  std::string help_topic;
  Globals globals;
  std::string error;  // why the command line cannot be used; "" when it can
};

// Reads args (without the program's name), handing each option's value to
// its take. An unknown word gets the closest known one suggested. Stops at
// the first error.
Invocation ParseCommandLine(const std::vector<Command>& commands,
                            const std::vector<std::string>& args);

// Of names, the one closest to word when it is close enough to be what was
// meant (a few letters apart, or a prefix of it); "" when none is.
std::string ClosestName(const std::string& word, const std::vector<std::string>& names);

// The global options as the help shows them.
std::vector<Option> GlobalOptions();

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_ARGUMENTS_H_
