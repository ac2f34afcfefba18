// ombrelt version: the versions, the model directory in use and the sets
// that -m NAME can find.
#include <cstdio>

#include "cli.h"

static const char VERSION_HELP[] =
    "usage: ombrelt version [--json]\n"
    "\n"
    "Shows the version of this command and of the library it loaded, the model\n"
    "directory that separate and mute use when no --models is given, the folder\n"
    "where scripts/get-models.sh puts the sets it downloads, and the sets there\n"
    "and installed, which --models NAME finds by name.\n"
    "\n"
    "options:\n"
    "      --json    {\"ombrelt\":...,\"library\":...,\"models\":...,\"user_sets_dir\":...,\n"
    "                \"user_sets\":[...],\"installed_sets\":[...]} on standard output\n"
    "  -h, --help    show this help\n";

static std::string join(const std::vector<std::string> &items) {
  std::string text;
  for (const auto &item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

static std::string json_array(const std::vector<std::string> &items) {
  std::string text = "[";
  for (const auto &item : items) text += (text.size() > 1 ? "," : "") + json_quote(item);
  return text + "]";
}

int run_version(int argc, char **argv, int first) {
  CommandLine cl;
  if (!parse_command_line("version", {}, argc, argv, first, cl)) return EXIT_USAGE;
  if (cl.help) {
    std::fputs(VERSION_HELP, stdout);
    return EXIT_ALL_DONE;
  }
  if (!cl.operands.empty())
    return usage_error("version", "unexpected argument '" + cl.operands[0] + "'");
  ModelChoice models = choose_models(nullptr);
  std::string user_dir = user_sets_dir();
  std::vector<std::string> user_sets;
  if (!user_dir.empty()) user_sets = list_model_sets(user_dir);
  std::vector<std::string> installed_sets = list_model_sets(installed_sets_dir());

  if (cl.json) {
    std::printf("{\"ombrelt\":%s,\"library\":%s,\"models\":%s,\"user_sets_dir\":%s,"
                "\"user_sets\":%s,\"installed_sets\":%s}\n",
                json_quote(OMBRELT_CLI_VERSION).c_str(), json_quote(ombrelt_session_version()).c_str(),
                models.set_not_found() ? "null" : json_quote(models.dir).c_str(),
                user_dir.empty() ? "null" : json_quote(user_dir).c_str(),
                json_array(user_sets).c_str(), json_array(installed_sets).c_str());
    return EXIT_ALL_DONE;
  }
  std::printf("ombrelt %s\nlibrary tavrin-ombrelt %s\n", OMBRELT_CLI_VERSION, ombrelt_session_version());
  if (models.set_not_found())
    std::printf("models  %s: no such set (scripts/get-models.sh %s gets it)\n",
                models.given.c_str(), models.given.c_str());
  else
    std::printf("models  %s\n", models.dir.c_str());
  if (user_dir.empty())
    std::printf("sets    no user data directory (neither XDG_DATA_HOME nor HOME is set)\n");
  else if (user_sets.empty())
    std::printf("sets    %s: none yet (scripts/get-models.sh umxhq gets one)\n", user_dir.c_str());
  else
    std::printf("sets    %s: %s\n", user_dir.c_str(), join(user_sets).c_str());
  if (!installed_sets.empty())
    std::printf("        %s: %s\n", installed_sets_dir().c_str(), join(installed_sets).c_str());
  return EXIT_ALL_DONE;
}
