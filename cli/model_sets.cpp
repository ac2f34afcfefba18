// The model sets found in a folder, for 'ombrelt version'.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "cli.h"

namespace fs = std::filesystem;

std::vector<std::string> list_model_sets(const std::string &folder) {
  std::vector<std::string> sets;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (!it->is_directory(type_ec)) continue;
    std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    // A download that stopped half-way leaves a folder without all four
    // models; name it so the user knows why -m NAME does not find it.
    sets.push_back(has_model_set(it->path().string()) ? name : name + " (incomplete)");
  }
  std::sort(sets.begin(), sets.end());
  return sets;
}
