#include "report.h"

#include <sys/stat.h>

#include <cstring>

#include "runtime/runtime.h"

namespace {

constexpr double MIB = 1024.0 * 1024.0;
constexpr double KIB = 1024.0;

// Total size of the four model files, e.g. "431 MiB" or "54 KiB".
void format_model_size(const char *model_dir, char *text, size_t size) {
  double bytes = 0;
  char path[4096];
  for (const char *file : STEM_FILES) {
    std::snprintf(path, sizeof path, "%s/%s", model_dir, file);
    struct stat st;
    if (stat(path, &st) == 0) bytes += (double)st.st_size;
  }
  if (bytes >= 10 * MIB)
    std::snprintf(text, size, "%.0f MiB", bytes / MIB);
  else
    std::snprintf(text, size, "%.0f KiB", bytes / KIB);
}

void print_stage_table(FILE *out, const Run *runs, int n_runs) {
  std::fprintf(out, "| input | chunks | separate s | cpu s | x real time |");
  for (const char *name : STAGE_NAMES) std::fprintf(out, " %s |", name);
  std::fprintf(out, " rest | outside model |\n|---|---|---|---|---|");
  for (int s = 0; s <= STAGE_COUNT + 1; s++) std::fprintf(out, "---|");
  std::fprintf(out, "\n");
  for (int i = 0; i < n_runs; i++) {
    const Run &run = runs[i];
    if (!run.ok) {
      std::fprintf(out, "| %s | failed |\n", run.label);
      continue;
    }
    const RunResult &r = run.result;
    std::fprintf(out, "| %s | %d | %.2f | %.2f | %.2f |", run.label, r.chunks, r.total_s, r.cpu_s,
                 r.audio_s / r.total_s);
    double staged = 0;
    for (int s = 0; s < STAGE_COUNT; s++) {
      staged += r.stage_s[s];
      std::fprintf(out, " %.2f (%.1f%%) |", r.stage_s[s], 100.0 * r.stage_s[s] / r.total_s);
    }
    double rest = r.total_s - staged;
    double outside = r.total_s - r.stage_s[STAGE_MODEL];
    std::fprintf(out, " %.2f (%.1f%%) | %.2f (%.1f%%) |\n", rest, 100.0 * rest / r.total_s,
                 outside, 100.0 * outside / r.total_s);
  }
}

void print_memory_table(FILE *out, const Run *runs, int n_runs) {
  std::fprintf(out,
               "| input | samples | init s | RSS after init MiB | peak RSS MiB "
               "| peak above init MiB | kept after MiB | budget MiB | peak above init / budget |\n"
               "|---|---|---|---|---|---|---|---|---|\n");
  for (int i = 0; i < n_runs; i++) {
    const Run &run = runs[i];
    if (!run.ok) {
      std::fprintf(out, "| %s | failed |\n", run.label);
      continue;
    }
    const RunResult &r = run.result;
    double budget = memory_budget_bytes(r.samples) / MIB;
    double kept = (r.rss_after_kb - r.rss_init_kb) / KIB;
    std::fprintf(out, "| %s | %ld | %.2f | %.0f | %.0f |", run.label, r.samples, r.init_s,
                 r.rss_init_kb / KIB, r.hwm_kb / KIB);
    if (r.hwm_sep_kb >= 0) {
      double above = (r.hwm_sep_kb - r.rss_init_kb) / KIB;
      std::fprintf(out, " %.0f | %.0f | %.0f | %.0f%% |\n", above, kept, budget,
                   100.0 * above / budget);
    } else {
      std::fprintf(out, " n/a | %.0f | %.0f | n/a |\n", kept, budget);
    }
  }
}

}  // namespace

double memory_budget_bytes(long samples) {
  // The separation streams: whatever the length, it holds the chunk's work
  // buffers (two spectra, the magnitudes, four model outputs: 14.8 MB) and
  // windows of one chunk span (105472 stereo samples) of the input and of
  // each of the four stems' overlap-add.
  (void)samples;
  const double work = 2.0 * 3278400 + 1639200 + 4.0 * 1639200;
  const double windows = 5.0 * 8.0 * 105472;
  return work + windows;
}

void print_set_report(FILE *out, const char *set_name, const char *model_dir, const Run *runs,
                      int n_runs) {
  char model_size[64];
  format_model_size(model_dir, model_size, sizeof model_size);
  std::fprintf(out, "\n### Model set `%s` (%s of model files)\n\n", set_name, model_size);
  std::fprintf(out,
               "Seconds per stage and share of the wall time of ombrelt_separate (cpu s: "
               "CPU time of all its threads; rest: what no stage covers):\n\n");
  print_stage_table(out, runs, n_runs);
  std::fprintf(out,
               "\nResident memory, each run in a fresh process. Peak above init: the peak "
               "while separating less the resident size after ombrelt_init. Kept after: "
               "what is still resident when ombrelt_separate has returned (runtime arenas, "
               "allocator caches). Budget: 36 bytes a sample, the decoded block and one "
               "stem buffer.\n\n");
  print_memory_table(out, runs, n_runs);
  std::fflush(out);
}
