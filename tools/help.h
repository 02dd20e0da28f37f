// The help texts of the vanta command, wrapped at 80 columns.
#ifndef VANTA_TOOLS_HELP_H_
#define VANTA_TOOLS_HELP_H_

#include <string>
#include <vector>

#include "tools/arguments.h"

namespace vanta {
namespace tools {

// "vanta help" and "vanta --help": the commands and the global options.
std::string GeneralHelp(const std::vector<Command>& commands);

// "vanta help COMMAND" and "vanta COMMAND --help": usage, description,
// options with their defaults, the global options and its exit statuses.
std::string CommandHelp(const Command& command);

// text as lines of at most 80 columns, each after indent blanks; the first
// line starts first_column columns in (it may already hold something).
std::string Wrap(const std::string& text, size_t indent, size_t first_column);

}  // namespace tools
}  // namespace vanta

#endif  // VANTA_TOOLS_HELP_H_
