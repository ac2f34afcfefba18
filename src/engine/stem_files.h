// The output files of one separation, open side by side while the stems
// stream out. Each is written under a hidden temporary name beside its final
// one, .<name>.<pid>.tmp, and gets its final name only when the whole
// separation has succeeded: a failure, or a process killed on the way,
// leaves no stem under a final name that is not complete, and never touches
// a file that already had that name.
#pragma once

#include <cstdint>

#include "audio/audio.h"
#include "engine/engine.h"

// Outputs collected in memory: data[o] holds 2 * frames floats of Output o,
// interleaved stereo, or is null when o is not written. Each buffer has room
// for `capacity` frames. Free with memory_stems_free.
struct MemoryStems {
  float *data[N_OUTPUTS];
  int64_t frames;
  int64_t capacity;
};
void memory_stems_free(MemoryStems *memory);

struct StemFiles {
  int count = 0;
  MemoryStems *memory = nullptr;  // set: the outputs go here, not to files
  float *block = nullptr;         // 2 * WRITE_BLOCK floats of work space
  int id[N_OUTPUTS];      // the Output of each file, ascending
  int sources[N_OUTPUTS]; // accumulators summed into it: 1, or 3 for the mix
  int source[N_OUTPUTS][3];  // their indices among the wanted stems
  AudioOut out[N_OUTPUTS];
  const char *path[N_OUTPUTS];  // the final names, in the result
  char temp[N_OUTPUTS][OUTPUT_PATH_SIZE + 32];
};

// Formats <out_dir>/<base>_<suffix>.<extension> into path (OUTPUT_PATH_SIZE
// bytes).
// A name or path that does not fit is refused rather than cut: cut names can
// coincide (a long base name leaves every stem the same first 127
// characters), and each file would then overwrite the one before it while
// the report names them all. Returns 0, or -1 with the message in g_err.
int output_path(char *path, const char *out_dir, const char *base, const char *suffix,
                const char *extension);

// Marks the outputs that will be written and names them into result->path
// (files only); wanted[] receives the Stem of each model to run, ascending.
// Returns the number of models to run, or -1 when a name does not fit.
// Makes nothing on disk.
int plan_outputs(const SeparationRequest &request, SeparationResult *result, int wanted[N_STEMS]);

// Removes, in out_dir, the temporaries of the outputs marked in result that
// no running process is writing: left by a process that was killed, or by
// an earlier call of this one.
void remove_stale_temporaries(const char *out_dir, const SeparationResult &result);

// Opens the temporary of every output marked in result (or sets up the
// memory outputs of the request), with `block` as work space. Returns 0, or
// -1 with the writer's message (naming the final path); nothing is left
// open or on disk then.
int open_stem_files(StemFiles *files, const SeparationRequest &request,
                    const SeparationResult &result, const int wanted[N_STEMS], int n_wanted,
                    float *block);

// Normalises `count` samples of the accumulators (acc[i] of wanted stem i,
// at the first of those samples) by wsum and appends them to every file.
// Returns 0, or -1 with the writer's message ("oom (stems)" in memory).
int write_stem_files(StemFiles *files, const float *const *acc, const float *wsum, int64_t count);

// Completes every file and gives each its final name; the moved output of
// the request goes to its own path first. Returns 0, or -1 with the message
// ("wav write failed", "cannot rename %s -> %s" naming the final name and
// the moved-to path, "cannot move %s into place"); no
// temporary is left then.
int finish_stem_files(StemFiles *files, const SeparationRequest &request);

// After a failure: closes and removes every temporary, and frees the
// memory outputs.
void abandon_stem_files(StemFiles *files);

// Sums the normalised sources acc[0] / wsum + acc[1] / wsum + ... (in that
// order) into out (2 * count floats). Samples whose wsum is at most
// WSUM_FLOOR become 0. One source gives the stem itself.
void normalise_sum(const float *const *acc, int n_acc, const float *wsum, int64_t count,
                   float *out);
