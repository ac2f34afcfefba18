// Looking formats up by name and by extension.
#include "formats.h"

#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <vector>

const FileFormat *format_named(const std::string &name) {
  for (const FileFormat &f : FILE_FORMATS)
    if (name == f.name) return &f;
  return nullptr;
}

const FileFormat *format_of_extension(const std::string &path) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (const FileFormat &f : FILE_FORMATS)
    if (!extension.empty() && strcasecmp(extension.c_str(), f.extension) == 0) return &f;
  return nullptr;
}

// The distinct items, joined by ", " and, before the last, " or ".
template <typename Pick>
static std::string choices(Pick pick) {
  std::vector<std::string> items;
  for (const FileFormat &f : FILE_FORMATS)
    if (std::find(items.begin(), items.end(), pick(f)) == items.end()) items.push_back(pick(f));
  std::string text;
  for (std::size_t i = 0; i < items.size(); i++)
    text += (i == 0 ? "" : i + 1 == items.size() ? " or " : ", ") + items[i];
  return text;
}

std::string format_names() {
  return choices([](const FileFormat &f) { return std::string(f.name); });
}

std::string format_extensions() {
  return choices([](const FileFormat &f) { return std::string(f.extension); });
}
