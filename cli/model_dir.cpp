// Where the stem models are: --models, $OMBRELT_MODELS, or the default set
// beside this executable (installed, or in the build tree). A value with no
// slash that names no directory here is the name of a set: downloaded into
// the user's data directory, or installed beside the default set.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "cli.h"
#include "interrupt.h"
#include "stems.h"

namespace fs = std::filesystem;

static fs::path executable_dir() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path(ec) : self.parent_path();
}

bool has_model_set(const std::string &dir) {
  std::error_code ec;
  for (const char *file : STEM_FILES)
    if (!fs::is_regular_file(fs::path(dir) / file, ec)) return false;
  return true;
}

static fs::path installed_models_dir() {
  return (executable_dir() / OMBRELT_CLI_INSTALLED_MODELS).lexically_normal();
}

std::string default_model_dir() {
  // The installed layout first: the build tree's relative path could name
  // an unrelated directory once installed.
  fs::path installed = installed_models_dir();
  fs::path build_tree = (executable_dir() / OMBRELT_CLI_BUILD_MODELS).lexically_normal();
  if (!has_model_set(installed) && has_model_set(build_tree)) return build_tree.string();
  return installed.string();
}

std::string installed_sets_dir() { return installed_models_dir().string(); }

std::string user_sets_dir() {
  // As the XDG base directory rules say, a relative XDG_DATA_HOME is ignored.
  const char *xdg = std::getenv("XDG_DATA_HOME");
  fs::path data_home;
  if (xdg && xdg[0] == '/') {
    data_home = xdg;
  } else {
    const char *home = std::getenv("HOME");
    if (!home || !*home) return "";
    data_home = fs::path(home) / ".local/share";
  }
  return (data_home / "tavrin-ombrelt/models").string();
}

ModelChoice choose_models(const std::string *flag) {
  ModelChoice choice;
  const char *env = std::getenv("OMBRELT_MODELS");
  if (flag)
    choice.given = *flag;
  else if (env && *env)
    choice.given = env;
  else {
    choice.dir = default_model_dir();
    return choice;
  }
  const std::string &name = choice.given;
  std::error_code ec;
  if (name.empty() || name.find('/') != std::string::npos || fs::is_directory(name, ec)) {
    choice.dir = name;
    return choice;
  }
  if (name == "default") {
    choice.dir = default_model_dir();
    return choice;
  }
  choice.tried.push_back("./" + name);
  std::string user = user_sets_dir();
  if (!user.empty()) choice.tried.push_back((fs::path(user) / name).string());
  choice.tried.push_back((installed_models_dir() / name).string());
  for (std::size_t i = 1; i < choice.tried.size(); i++)
    if (has_model_set(choice.tried[i])) {
      choice.dir = choice.tried[i];
      break;
    }
  return choice;
}

void print_set_not_found(const ModelChoice &choice) {
  std::string places;
  for (std::size_t i = 0; i < choice.tried.size(); i++) {
    if (i) places += i + 1 == choice.tried.size() ? " or " : ", ";
    places += choice.tried[i];
  }
  std::fprintf(stderr, "ombrelt: no model set '%s' in %s\n", choice.given.c_str(), places.c_str());
  std::fprintf(stderr,
               "ombrelt: get it with 'scripts/get-models.sh %s' from the tavrin-ombrelt "
               "sources, or give a directory with --models DIR\n",
               choice.given.c_str());
}

SessionSet::~SessionSet() {
  disarm_interrupt();
  for (ombrelt_session *session : sessions) ombrelt_session_close(session);
}

bool open_sessions(const ModelChoice &choice, int count, int threads, SessionSet &out) {
  if (choice.set_not_found()) {
    print_set_not_found(choice);
    return false;
  }
  ombrelt_session_options options{};
  options.model_dir = choice.dir.c_str();
  options.threads = threads;
  for (int i = 0; i < count; i++) {
    char error[512] = "model_dir is empty";
    // An empty directory would open a session without models.
    ombrelt_session *session =
        choice.dir.empty() ? nullptr : ombrelt_session_open(&options, error, sizeof error);
    if (!session) {
      std::fprintf(stderr, "ombrelt: cannot load the models in %s: %s\n", choice.dir.c_str(),
                   error);
      std::fprintf(stderr,
                   "ombrelt: give the model directory with --models DIR or OMBRELT_MODELS\n");
      return false;
    }
    out.sessions.push_back(session);
  }
  return true;
}
