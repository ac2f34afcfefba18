// Where the stem models are: --models, $OMBRELT_MODELS, or the default set
// beside this executable (installed, or in the build tree).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "cli.h"
#include "ombrelt.h"
#include "stems.h"

namespace fs = std::filesystem;

static fs::path executable_dir() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path(ec) : self.parent_path();
}

static bool has_models(const fs::path &dir) {
  std::error_code ec;
  return fs::is_regular_file(dir / STEM_FILES[STEM_VOCALS], ec);
}

std::string default_model_dir() {
  fs::path exe_dir = executable_dir();
  // The installed layout first: the build tree's relative path could name
  // an unrelated directory once installed.
  fs::path installed = (exe_dir / OMBRELT_CLI_INSTALLED_MODELS).lexically_normal();
  fs::path build_tree = (exe_dir / OMBRELT_CLI_BUILD_MODELS).lexically_normal();
  if (!has_models(installed) && has_models(build_tree)) return build_tree.string();
  return installed.string();
}

std::string choose_model_dir(const std::string *flag) {
  if (flag) return *flag;
  const char *env = std::getenv("OMBRELT_MODELS");
  if (env && *env) return env;
  return default_model_dir();
}

bool load_models(const std::string &dir) {
  if (ombrelt_init(dir.c_str()) == 0) return true;
  std::fprintf(stderr, "ombrelt: cannot load the models in %s: %s\n", dir.c_str(),
               ombrelt_last_error());
  std::fprintf(stderr, "ombrelt: give the model directory with --models DIR or OMBRELT_MODELS\n");
  return false;
}
