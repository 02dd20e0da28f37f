#include "tools/arguments.h"

#include <algorithm>
#include <cctype>

namespace vanta {
namespace tools {

namespace {

struct GlobalOption {
  const char* short_name;
  const char* long_name;
  bool Globals::*flag;
  const char* help;
};

const GlobalOption kGlobalOptions[] = {
    {"-v", "--verbose", &Globals::verbose, "Print the library's trace on stderr"},
    {"-q", "--quiet", &Globals::quiet, "Print no progress, only failures"},
    {"-h", "--help", &Globals::help, "Print this help and exit"},
    {"-V", "--version", &Globals::version,
     "Print the releases of vanta, the library, libcurl and OpenSSL, then exit"},
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The optimal string alignment distance: insertions, deletions,
// substitutions and swaps of neighbours count one each.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::string Suggestion(const std::string& word, const std::vector<std::string>& names) {
  const std::string closest = ClosestName(word, names);
  return closest.empty() ? "" : "; did you mean '" + closest + "'?";
}

class Parser {
 public:
  Parser(const std::vector<Command>& commands, const std::vector<std::string>& args)
      : commands_(commands), args_(args) {}

  Invocation Run() {
    bool options_ended = false;
    for (next_ = 0; next_ < args_.size() && invocation_.error.empty();) {
      const std::string& arg = args_[next_++];
      if (!options_ended && arg == "--") {
        options_ended = true;
      } else if (!options_ended && arg.size() > 1 && arg[0] == '-') {
        TakeOption(arg);
      } else {
        TakeWord(arg);
      }
    }
    const Globals& globals = invocation_.globals;
    if (invocation_.error.empty() && globals.verbose && globals.quiet) {
      invocation_.error = "-v (--verbose) and -q (--quiet) cannot be used together";
    }
    return invocation_;
  }

 private:
  void TakeOption(const std::string& arg) {
    const size_t eq = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, eq);
    for (const GlobalOption& global : kGlobalOptions) {
      if (name == global.short_name || name == global.long_name) {
        if (eq != std::string::npos) return Fail(name + " takes no value");
        invocation_.globals.*global.flag = true;
        return;
      }
    }
    const Option* option = Find(name);
    if (option == nullptr) return FailUnknownOption(name);
    std::string value;
    if (option->value_name.empty()) {
      if (eq != std::string::npos) return Fail(name + " takes no value");
    } else if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (next_ < args_.size()) {
      value = args_[next_++];
    } else {
      return Fail(name + " needs a value (" + option->value_name + ")");
    }
    const std::string problem = option->take(value);
    if (!problem.empty()) {
      Fail(option->value_name.empty() ? name + ": " + problem
                                      : name + " '" + value + "': " + problem);
    }
  }

  void TakeWord(const std::string& word) {
    if (invocation_.help_command && invocation_.help_topic.empty()) {
      invocation_.help_topic = word;
    } else if (invocation_.command != nullptr || invocation_.help_command) {
      Fail("unexpected argument '" + word + "' (options start with '-')");
    } else if (word == "help") {
      invocation_.help_command = true;
    } else if (const Command* command = FindCommand(word)) {
      invocation_.command = command;
    } else {
      std::vector<std::string> names = {"help"};
      for (const Command& command : commands_) names.push_back(command.name);
      Fail("'" + word + "' is not a vanta command" + Suggestion(word, names));
    }
  }

  const Option* Find(const std::string& name) const {
    if (invocation_.command == nullptr) return nullptr;
    for (const Option& option : invocation_.command->options) {
      if (std::find(option.names.begin(), option.names.end(), name) != option.names.end()) {
        return &option;
      }
    }
    return nullptr;
  }

  const Command* FindCommand(const std::string& name) const {
    for (const Command& command : commands_) {
      if (command.name == name) return &command;
    }
    return nullptr;
  }

  void FailUnknownOption(const std::string& name) {
    std::vector<std::string> names;
    for (const GlobalOption& global : kGlobalOptions) {
      names.insert(names.end(), {global.short_name, global.long_name});
    }
    if (invocation_.command == nullptr) {
      for (const Command& command : commands_) {
        for (const Option& option : command.options) {
          for (const std::string& known : option.names) {
            if (known == name)
              return Fail(name + " is an option of a command: it goes after the command's name");
          }
        }
      }
    } else {
      for (const Option& option : invocation_.command->options) {
        names.insert(names.end(), option.names.begin(), option.names.end());
      }
    }
    Fail("unknown option '" + name + "'" + Suggestion(name, names));
  }

  void Fail(const std::string& error) {
    if (invocation_.error.empty()) invocation_.error = error;
  }

  const std::vector<Command>& commands_;
  const std::vector<std::string>& args_;
  size_t next_ = 0;
  Invocation invocation_;
};

}  // namespace

Invocation ParseCommandLine(const std::vector<Command>& commands,
                            const std::vector<std::string>& args) {
  return Parser(commands, args).Run();
}

std::string ClosestName(const std::string& word, const std::vector<std::string>& names) {
  const std::string typed = Lower(word);
  const size_t letters = typed.size() - std::min(typed.find_first_not_of('-'), typed.size());
  std::string best;
  // A slip changes about one letter in three; a word of one or two letters
  // is matched only whole.
  size_t best_distance = letters < 3 ? 1 : (letters + 2) / 3 + 1;
  std::string prefixed;
  int prefixes = 0;
  for (const std::string& name : names) {
    const size_t distance = Distance(typed, Lower(name));
    if (distance < best_distance) {
      best = name;
      best_distance = distance;
    }
    if (letters >= 3 && Lower(name).rfind(typed, 0) == 0) {
      prefixed = name;
      ++prefixes;
    }
  }
  if (best.empty() && prefixes == 1) return prefixed;
  return best;
}

std::vector<Option> GlobalOptions() {
  std::vector<Option> options;
  for (const GlobalOption& global : kGlobalOptions) {
    options.push_back(
        Option{{global.short_name, global.long_name}, "", global.help, "", false, nullptr});
  }
  return options;
}

}  // namespace tools
}  // namespace vanta
