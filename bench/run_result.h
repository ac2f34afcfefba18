// The figures of one separation run, as the child process measures them and
// hands them to the driver on one line of text.
#pragma once

#include <cstdio>

#include "engine/stage_timing.h"

struct RunResult {
  double audio_s;     // input duration, from the result's "duration_s"
  long samples;       // stereo samples of the decoded input
  int chunks;         // from the result's "chunks"
  double init_s;      // ombrelt_init: model loading and warm-up
  double total_s;     // wall time of ombrelt_separate
  double cpu_s;       // CPU time of ombrelt_separate, all threads, user + system
  double stage_s[STAGE_COUNT];
  long rss_init_kb;   // resident after ombrelt_init
  long rss_after_kb;  // resident right after ombrelt_separate, before cleanup
  long hwm_kb;        // peak resident of the whole process
  long hwm_sep_kb;    // peak resident while separating (peak reset after init), or -1
};

// Writes the result as one line "result key=value ...".
void print_result(FILE *out, const RunResult &r);
// Reads a line written by print_result; false when it is not one.
bool parse_result(const char *line, RunResult *r);
