// The tables of a model set: time per stage and peak memory per input.
#pragma once

#include <cstdio>

#include "run_result.h"

struct Run {
  const char *label;  // name of the input, e.g. "120s"
  bool ok;
  RunResult result;
};

// Prints the tables of one model set in Markdown.
void print_set_report(FILE *out, const char *set_name, const char *model_dir, const Run *runs,
                      int n_runs);

// What the library promises to hold beyond the models for S samples: 36
// bytes a sample of per-call arrays, the decoded block (4194304 stereo
// frames of 8 bytes first, doubling while short) and one stem buffer.
double memory_budget_bytes(long samples);
