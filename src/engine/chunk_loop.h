// One chunk of the separation: analysis, the wanted models, resynthesis.
#pragma once

#include <cstdint>

#include "engine/engine.h"

// The input of one chunk: its first sample onwards, interleaved stereo.
// Frames reaching past `available` samples are zero-padded there.
struct ChunkInput {
  const float *samples;
  int64_t available;
};

// Analyses the chunk's 100 frames, runs the model of each wanted stem
// (wanted[i] is a Stem, ascending) and overlap-adds the chunk's
// frames keep .. frames - 1 of stem i into acc[i], whose float 0 is the left
// channel of the chunk's first sample. Returns 0, or -1 when a model call
// fails (its message in g_err).
int run_chunk(const ChunkInput &in, const int *wanted, int n_wanted, int keep, int frames,
              float *const *acc);
