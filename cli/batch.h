// The files of one 'ombrelt separate', run on one or more sessions.
#pragma once

#include <string>
#include <vector>

#include "cli.h"

struct Batch {
  std::vector<std::string> files;
  std::string out_dir;
  unsigned outputs = OMBRELT_OUTPUT_ALL;
  ombrelt_format format = OMBRELT_FORMAT_WAV16;
  bool sum_to_mix = false;
  bool wiener = false;
  bool json = false;
};

// Separates the files, each session on a thread of its own taking the next
// file from one queue, and prints a line per file as it ends. Ctrl-C
// cancels the files running and starts no other. Returns the exit status.
int run_batch(const Batch &batch, const SessionSet &sessions);
