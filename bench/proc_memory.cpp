#include "proc_memory.h"

#include <cstdio>
#include <cstring>

long status_kb(const char *field) {
  FILE *f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  size_t len = std::strlen(field);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, field, len) == 0 && line[len] == ':') {
      std::sscanf(line + len + 1, "%ld", &kb);
      break;
    }
  }
  std::fclose(f);
  return kb;
}

bool reset_peak_rss() {
  FILE *f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return false;
  bool ok = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && ok;
}
