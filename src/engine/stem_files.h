// The output files of one separation, open side by side while the stems
// stream out.
#pragma once

#include <cstdint>

#include "audio/audio.h"
#include "engine/engine.h"

struct StemFiles {
  int count = 0;
  int id[N_OUTPUTS];      // the OutputId of each file, ascending
  int sources[N_OUTPUTS]; // accumulators summed into it: 1, or 3 for the mix
  int source[N_OUTPUTS][3];  // their indices among the wanted stems
  WavOut wav[N_OUTPUTS];
  const char *path[N_OUTPUTS];  // the final names, in the result
};

// Formats <out_dir>/<base>_<suffix>.wav into path (OUTPUT_PATH_SIZE bytes).
// A name or path that does not fit is refused rather than cut: cut names can
// coincide (a long base name leaves every stem the same first 127
// characters), and each file would then overwrite the one before it while
// the report names them all. Returns 0, or -1 with the message in g_err.
int output_path(char *path, const char *out_dir, const char *base, const char *suffix);

// Names every output of the request into result->path and marks the ones
// that will be written; wanted[] receives the STEM_NAMES index of each wanted
// stem in ascending order. Returns the number of wanted stems, or -1 when a
// name does not fit. Makes nothing on disk.
int plan_outputs(const SeparationRequest &request, SeparationResult *result, int wanted[4]);

// Opens every output marked in result. Returns 0, or -1 with the writer's
// message; nothing is left open then.
int open_stem_files(StemFiles *files, const SeparationResult &result, const int wanted[4],
                    int n_wanted);

// Normalises `count` samples of the accumulators (acc[i] of wanted stem i,
// at the first of those samples) by wsum and appends them to every file.
// Returns 0, or -1 with the writer's message.
int write_stem_files(StemFiles *files, const float *const *acc, const float *wsum, int64_t count);

// Completes every file. Returns 0, or -1 with the writer's message.
int finish_stem_files(StemFiles *files, const SeparationRequest &request);

// After a failure: closes whatever is still open.
void abandon_stem_files(StemFiles *files);

// Sums the normalised sources acc[0] / wsum + acc[1] / wsum + ... (in that
// order) into out (2 * count floats). Samples whose wsum is at most
// WSUM_FLOOR become 0. One source gives the stem itself.
void normalise_sum(const float *const *acc, int n_acc, const float *wsum, int64_t count,
                   float *out);
