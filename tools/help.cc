#include "tools/help.h"

namespace vanta {
namespace tools {

namespace {

constexpr size_t kWidth = 80;
constexpr size_t kHelpColumn = 26;  // where an option's explanation starts

const char kAbout[] =
    "Command-line companion of the VantaWebService library: negotiates with a dispatcher, "
    "reports to a launcher monitor, shows the device identifier, checks connectivity and "
    "runs a local reference dispatcher.";

// "  --dispatcher, --arbiter-base URL" and its explanation under column 26.
std::string OptionLines(const Option& option) {
  std::string names = "  ";
  for (const std::string& name : option.names) names += (names.size() > 2 ? ", " : "") + name;
  if (!option.value_name.empty()) names += " " + option.value_name;
  std::string help = option.help;
  if (!option.default_text.empty()) help += " (default " + option.default_text + ")";
  if (names.size() + 2 > kHelpColumn)
    names += "\n" + std::string(kHelpColumn, ' ');
  else
    names += std::string(kHelpColumn - names.size(), ' ');
  return names + Wrap(help, kHelpColumn, kHelpColumn);
}

std::string OptionsSection(const char* title, const std::vector<Option>& options) {
  std::string text = std::string("\n") + title + ":\n";
  for (const Option& option : options) text += OptionLines(option);
  return text;
}

}  // namespace

std::string Wrap(const std::string& text, size_t indent, size_t first_column) {
  std::string wrapped;
  size_t column = first_column;
  bool line_empty = true;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    if (!line_empty && column + 1 + word.size() > kWidth) {
      wrapped += "\n" + std::string(indent, ' ');
      column = indent;
      line_empty = true;
    }
    if (!line_empty) {
      wrapped += ' ';
      ++column;
    }
    wrapped += word;
    column += word.size();
    line_empty = false;
  }
  return wrapped + "\n";
}

std::string GeneralHelp(const std::vector<Command>& commands) {
  std::string text =
      "Usage: vanta [OPTIONS] COMMAND [COMMAND OPTIONS]\n"
      "       vanta help [COMMAND]\n\n" +
      Wrap(kAbout, 0, 0) + "\nCommands:\n";
  for (const Command& command : commands) {
    text += "  " + command.name + std::string(kHelpColumn - 2 - command.name.size(), ' ') +
            Wrap(command.summary, kHelpColumn, kHelpColumn);
  }
  text += "  help" + std::string(kHelpColumn - 6, ' ') + "Print the help of a command\n";
  text += OptionsSection("Options (before or after the command)", GlobalOptions());
  return text + "\n" +
         Wrap("Each command lists its options and exit statuses with 'vanta help COMMAND'.", 0, 0);
}

std::string CommandHelp(const Command& command) {
  std::string text =
      "Usage: vanta " + command.name + " [OPTIONS]\n\n" + Wrap(command.description, 0, 0);
  if (!command.options.empty()) text += OptionsSection("Options", command.options);
  text += OptionsSection("Global options", GlobalOptions());
  if (!command.footer.empty()) text += "\n" + Wrap(command.footer, 0, 0);
  text += "\nExit status:\n";
  for (const ExitStatus& exit : command.exit_statuses) {
    const std::string number = std::to_string(exit.status);
    text += "  " + number + std::string(6 - number.size(), ' ') + Wrap(exit.meaning, 8, 8);
  }
  return text;
}

}  // namespace tools
}  // namespace vanta
