// Shared parts of the ombrelt command: exit statuses, the command line, the
// library's JSON answers, the model directory and the sessions on it, and
// the report of each file.
#pragma once

#include <string>
#include <vector>

#include "ombrelt_session.h"

inline constexpr int EXIT_ALL_DONE = 0;
inline constexpr int EXIT_SOME_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;
inline constexpr int EXIT_INTERRUPTED = 130;  // 128 + SIGINT, as shells report it

// ---- command_line.cpp

// One option of a subcommand. --json and -h/--help are known to every
// subcommand and need no entry.
struct OptionSpec {
  const char *long_name;  // without the dashes, e.g. "output"
  char short_name;        // 0 when there is none
  bool takes_value;
};

struct CommandLine {
  std::vector<std::pair<std::string, std::string>> options;  // long name, value
  std::vector<std::string> operands;                         // the files
  bool json = false;
  bool help = false;

  // The value of the last occurrence of an option, or nullptr.
  const std::string *value(const char *long_name) const;
};

// Parses argv[first .. argc) for `command`. Options may come before, between
// or after the files; "--" ends them. Returns false after printing a one-line
// hint for a usage error.
bool parse_command_line(const char *command, const std::vector<OptionSpec> &specs, int argc,
                        char **argv, int first, CommandLine &out);

// Prints "ombrelt: <message> (see 'ombrelt <command> --help')" on stderr and
// returns EXIT_USAGE. `command` null points at plain 'ombrelt --help'.
int usage_error(const char *command, const std::string &message);

// ---- flat_json.cpp

// One member of a flat JSON object, as the library writes them.
struct JsonMember {
  std::string key;
  bool is_string = false;
  std::string text;  // the string's value, or the literal text of a number
  double number = 0.0;
};

// Reads an object whose members are strings, numbers, booleans or null.
bool parse_flat_object(const char *text, std::vector<JsonMember> &members);
const JsonMember *find_member(const std::vector<JsonMember> &members, const char *key);
double member_number(const std::vector<JsonMember> &members, const char *key);
// The object again, members in their order (strings quoted, the rest as read).
std::string flat_object_text(const std::vector<JsonMember> &members);
// "12.0 s of audio in 0.40 s, 30.0x real time" from a result's "duration_s"
// and "elapsed_s" (without the speed when no time was measured).
std::string timing_text(const std::vector<JsonMember> &members);
// A JSON string literal with its quotes; bytes that are not UTF-8 become U+FFFD.
std::string json_quote(const std::string &text);

// ---- model_dir.cpp

// Which model directory separate and mute load.
struct ModelChoice {
  std::string given;               // the --models or $OMBRELT_MODELS value; empty: neither
  std::string dir;                 // what to load; empty when the set name was found nowhere
  std::vector<std::string> tried;  // the places looked in for a set name
  bool set_not_found() const { return dir.empty() && !tried.empty(); }
};

// --models when given, else $OMBRELT_MODELS when set and not empty, else the
// default set found relative to this executable. A value without a slash
// that is no directory here names a set: "default" is the default set, any
// other is looked for in user_sets_dir(), then in installed_sets_dir().
ModelChoice choose_models(const std::string *flag);
std::string default_model_dir();
// ${XDG_DATA_HOME:-$HOME/.local/share}/tavrin-ombrelt/models, where
// scripts/get-models.sh puts the sets it downloads; empty without a HOME.
std::string user_sets_dir();
// <prefix>/share/tavrin-ombrelt/models: the default set, with any installed
// named sets in folders beside its files.
std::string installed_sets_dir();
// Whether dir holds all four stem models.
bool has_model_set(const std::string &dir);
// Sessions on the chosen models, closed together (the Ctrl-C handler is
// disarmed first, so that it never reaches a closed session).
struct SessionSet {
  std::vector<ombrelt_session *> sessions;
  SessionSet() = default;
  SessionSet(const SessionSet &) = delete;
  SessionSet &operator=(const SessionSet &) = delete;
  ~SessionSet();
};
// Opens count sessions on the models, each with `threads` (see
// ombrelt_session_options); prints why on failure.
bool open_sessions(const ModelChoice &choice, int count, int threads, SessionSet &out);
// Where a set name was looked for, and how to get the set.
void print_set_not_found(const ModelChoice &choice);

// ---- model_sets.cpp

// The sets in folder, sorted: the names of its subfolders, "NAME (incomplete)"
// for one that lacks some of the four models.
std::vector<std::string> list_model_sets(const std::string &folder);

// ---- file_report.cpp

// The lines that report one file, each ending in a newline.
// With --json, a file the library handled: {"file":...,"ok":true,"result":...}.
std::string json_success_line(const std::string &file, const char *result);
// With --json, a file it did not: {"file":...,"ok":false,"error":...}.
std::string json_failure_line(const std::string &file, const char *message);
// On stderr for a failed file, --json or not: "ombrelt: <file>: <message>".
std::string failure_line(const std::string &file, const char *message);

// ---- media_log.cpp

// FFmpeg's own lines on stderr: none, or its warnings and errors with -v.
// Every command that reads media calls it once, before any session works.
void set_media_log(bool verbose);

// ---- the subcommands; argv[first] is the first argument after the name.
int run_probe(int argc, char **argv, int first);
int run_separate(int argc, char **argv, int first);
int run_mute(int argc, char **argv, int first);
int run_version(int argc, char **argv, int first);

// The file name of a path without its directory and last extension, the
// same rule the library names its output files by.
std::string stem_base_name(const std::string &path);
