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

struct ChunkBuffers;
struct ModelSet;

// What every chunk of one separation runs: the models of the wanted stems
// (wanted[i] is a Stem, ascending), on which buffers, and whether the bins
// are shared out so that the stems add up to the mixture (then all four
// stems are wanted).
struct ChunkJob {
  const ModelSet *models;
  ChunkBuffers *buffers;
  const int *wanted;
  int n_wanted;
  bool sum_to_mix;
  bool wiener;  // one iteration of the multichannel Wiener filter (all four stems)
};

// The Wiener path of run_chunk: filters the chunk's frames keep .. frames - 1
// by the models' estimates and overlap-adds stem s into acc[s].
void wiener_resynthesise(ChunkBuffers &b, int keep, int frames, float *const *acc);

// Analyses the chunk's 100 frames, runs the model of each wanted stem and
// overlap-adds the chunk's frames keep .. frames - 1 of stem i into acc[i],
// whose float 0 is the left channel of the chunk's first sample. Returns 0,
// or -1 when a model call fails (its message set with set_err).
int run_chunk(const ChunkJob &job, const ChunkInput &in, int keep, int frames,
              float *const *acc);
