// Soak and scale runs against the public interface, as a host would make
// them. Prints figures; asserts nothing.
//
//   soak cycles N MODEL_DIR INPUT OUT_DIR
//       N rounds of ombrelt_init, ombrelt_separate (all stems), ombrelt_cleanup;
//       resident memory before the first round and after rounds 1, 10 and N.
//   soak long MODEL_DIR INPUT OUT_DIR
//       one separation of INPUT; its peak resident memory, which does not
//       grow with the input's length.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ombrelt.h"

namespace {

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), or -1.
long status_kb(const char *field) {
  FILE *f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  std::size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') kb = std::atol(line + n + 1);
  std::fclose(f);
  return kb;
}

double now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

double mib(double kb) { return kb / 1024.0; }

int fail(const char *what) {
  std::fprintf(stderr, "%s failed: %s\n", what, ombrelt_last_error());
  return 1;
}

int cycles(int n, const char *models, const char *input, const char *out) {
  std::printf("rss before round 1: %.1f MiB\n", mib((double)status_kb("VmRSS")));
  double start = now();
  for (int i = 1; i <= n; i++) {
    const char *json = nullptr;
    if (ombrelt_init(models) != 0) return fail("ombrelt_init");
    if (ombrelt_separate(input, out, nullptr, &json) != 0) return fail("ombrelt_separate");
    ombrelt_cleanup();
    if (i == 1 || i == 10 || i == n || i % 50 == 0)
      std::printf("rss after round %d: %.1f MiB (%.1f s)\n", i, mib((double)status_kb("VmRSS")),
                  now() - start);
  }
  std::printf("peak rss: %.1f MiB\n", mib((double)status_kb("VmHWM")));
  return 0;
}

// Reads a number member from a flat result text.
double member(const char *json, const char *key) {
  char pattern[64];
  std::snprintf(pattern, sizeof pattern, "\"%s\":", key);
  const char *at = std::strstr(json, pattern);
  return at ? std::atof(at + std::strlen(pattern)) : -1.0;
}

int long_run(const char *models, const char *input, const char *out) {
  const char *json = nullptr;
  if (ombrelt_probe(input, &json) != 0) return fail("ombrelt_probe");
  std::printf("probe: %s\n", json);
  if (ombrelt_init(models) != 0) return fail("ombrelt_init");
  long base_kb = status_kb("VmRSS");
  std::printf("rss after init: %.1f MiB\n", mib((double)base_kb));
  double start = now();
  if (ombrelt_separate(input, out, nullptr, &json) != 0) return fail("ombrelt_separate");
  double wall = now() - start;
  std::printf("separate: %s\n", json);
  double samples = member(json, "duration_s") * 44100.0;
  long peak_kb = status_kb("VmHWM");
  std::printf("input samples: %.0f (%.1f min)\n", samples, samples / 44100.0 / 60.0);
  std::printf("wall time: %.1f s (%.1fx real time)\n", wall, samples / 44100.0 / wall);
  std::printf("peak rss: %.1f MiB\n", mib((double)peak_kb));
  ombrelt_cleanup();
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 6 && std::strcmp(argv[1], "cycles") == 0)
    return cycles(std::atoi(argv[2]), argv[3], argv[4], argv[5]);
  if (argc == 5 && std::strcmp(argv[1], "long") == 0) return long_run(argv[2], argv[3], argv[4]);
  std::fprintf(stderr,
               "usage: soak cycles N MODEL_DIR INPUT OUT_DIR\n"
               "       soak long MODEL_DIR INPUT OUT_DIR\n");
  return 2;
}
