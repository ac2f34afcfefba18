#include "run_result.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr const char *PREFIX = "result ";

// Looks up "key=" in line and reads the number after it.
bool number_after(const char *line, const char *key, double *value) {
  size_t len = std::strlen(key);
  for (const char *p = line; (p = std::strstr(p, key)) != nullptr; p += len) {
    bool starts_token = p == line || p[-1] == ' ';
    if (starts_token && p[len] == '=') {
      char *end = nullptr;
      *value = std::strtod(p + len + 1, &end);
      return end != p + len + 1;
    }
  }
  return false;
}

}  // namespace

void print_result(FILE *out, const RunResult &r) {
  std::fprintf(out, "%saudio_s=%.6f samples=%ld chunks=%d init_s=%.6f total_s=%.6f cpu_s=%.6f",
               PREFIX, r.audio_s, r.samples, r.chunks, r.init_s, r.total_s, r.cpu_s);
  for (int s = 0; s < STAGE_COUNT; s++) std::fprintf(out, " %s=%.6f", STAGE_NAMES[s], r.stage_s[s]);
  std::fprintf(out, " rss_init_kb=%ld rss_after_kb=%ld hwm_kb=%ld hwm_sep_kb=%ld\n",
               r.rss_init_kb, r.rss_after_kb, r.hwm_kb, r.hwm_sep_kb);
  std::fflush(out);
}

bool parse_result(const char *line, RunResult *r) {
  if (std::strncmp(line, PREFIX, std::strlen(PREFIX)) != 0) return false;
  constexpr int N_KEYS = 10;
  double v[N_KEYS];
  const char *keys[N_KEYS] = {"audio_s",     "samples",      "chunks", "init_s",
                              "total_s",     "cpu_s",        "hwm_kb", "hwm_sep_kb",
                              "rss_init_kb", "rss_after_kb"};
  for (int i = 0; i < N_KEYS; i++)
    if (!number_after(line, keys[i], &v[i])) return false;
  for (int s = 0; s < STAGE_COUNT; s++)
    if (!number_after(line, STAGE_NAMES[s], &r->stage_s[s])) return false;
  r->audio_s = v[0];
  r->samples = (long)v[1];
  r->chunks = (int)v[2];
  r->init_s = v[3];
  r->total_s = v[4];
  r->cpu_s = v[5];
  r->hwm_kb = (long)v[6];
  r->hwm_sep_kb = (long)v[7];
  r->rss_init_kb = (long)v[8];
  r->rss_after_kb = (long)v[9];
  return true;
}
