// Command-line parsing shared by the subcommands.
#include <cstdio>
#include <cstring>

#include "cli.h"

const std::string *CommandLine::value(const char *long_name) const {
  const std::string *found = nullptr;
  for (const auto &[name, value] : options)
    if (name == long_name) found = &value;
  return found;
}

int usage_error(const char *command, const std::string &message) {
  if (command)
    std::fprintf(stderr, "ombrelt: %s (see 'ombrelt %s --help')\n", message.c_str(), command);
  else
    std::fprintf(stderr, "ombrelt: %s (see 'ombrelt --help')\n", message.c_str());
  return EXIT_USAGE;
}

static const OptionSpec *find_long(const std::vector<OptionSpec> &specs, const std::string &name) {
  for (const auto &s : specs)
    if (name == s.long_name) return &s;
  return nullptr;
}

static const OptionSpec *find_short(const std::vector<OptionSpec> &specs, char c) {
  for (const auto &s : specs)
    if (s.short_name == c) return &s;
  return nullptr;
}

bool parse_command_line(const char *command, const std::vector<OptionSpec> &specs, int argc,
                        char **argv, int first, CommandLine &out) {
  bool options_ended = false;
  for (int i = first; i < argc; i++) {
    std::string arg = argv[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      out.operands.push_back(arg);  // a lone "-" is a file name too
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    const OptionSpec *spec = nullptr;
    std::string shown;  // the option as the user wrote it, for messages
    std::string value;
    bool has_inline_value = false;
    if (arg[1] == '-') {
      std::string name = arg.substr(2);
      std::size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        has_inline_value = true;
      }
      shown = "--" + name;
      if (name == "json" || name == "help") {
        if (has_inline_value) {
          usage_error(command, "option '" + shown + "' takes no value");
          return false;
        }
        (name == "json" ? out.json : out.help) = true;
        continue;
      }
      spec = find_long(specs, name);
    } else {
      shown = arg.substr(0, 2);
      if (arg[1] == 'h' && arg.size() == 2) {
        out.help = true;
        continue;
      }
      spec = find_short(specs, arg[1]);
      if (spec && arg.size() > 2) {  // -oDIR
        value = arg.substr(2);
        has_inline_value = true;
      }
    }
    if (!spec) {
      usage_error(command, "unknown option '" + (arg[1] == '-' ? shown : arg) + "'");
      return false;
    }
    if (!spec->takes_value) {
      if (has_inline_value) {
        usage_error(command, "option '" + shown + "' takes no value");
        return false;
      }
      out.options.emplace_back(spec->long_name, "");
      continue;
    }
    if (!has_inline_value) {
      if (i + 1 >= argc) {
        usage_error(command, "option '" + shown + "' needs a value");
        return false;
      }
      value = argv[++i];
    }
    out.options.emplace_back(spec->long_name, value);
  }
  return true;
}

std::string stem_base_name(const std::string &path) {
  std::size_t sep = path.find_last_of("/\\");
  std::string name = sep == std::string::npos ? path : path.substr(sep + 1);
  if (name.size() > 511) name.resize(511);
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot != 0) name.resize(dot);
  return name;
}
