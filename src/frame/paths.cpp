// Path helpers. Both '/' and '\' count as separators when a path is taken
// apart; joining always adds '/'.
#include <cstdio>
#include <cstring>

#include "frame/frame.h"

void join_path(char *dst, std::size_t size, const char *dir, const char *name) {
  std::size_t len = std::strlen(dir);
  bool has_sep = len > 0 && (dir[len - 1] == '/' || dir[len - 1] == '\\');
  std::snprintf(dst, size, has_sep ? "%s%s" : "%s/%s", dir, name);
}

const char *last_separator(const char *path) {
  const char *slash = std::strrchr(path, '/');
  const char *backslash = std::strrchr(path, '\\');
  if (!slash) return backslash;
  return backslash && backslash > slash ? backslash : slash;
}

void base_name(const char *path, char *out) {
  const char *sep = last_separator(path);
  const char *name = sep ? sep + 1 : path;
  std::snprintf(out, BASE_NAME_SIZE, "%s", name);
  char *dot = std::strrchr(out, '.');
  if (dot && dot != out) *dot = '\0';
}

int directory_of(const char *path, char *dir) {
  const char *sep = last_separator(path);
  if (!sep || sep == path) {
    std::snprintf(dir, DIR_PART_SIZE, ".");
    return 0;
  }
  std::size_t len = (std::size_t)(sep - path);
  if (len >= DIR_PART_SIZE) return -1;
  std::memcpy(dir, path, len);
  dir[len] = '\0';
  return 0;
}
