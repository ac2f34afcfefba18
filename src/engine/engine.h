// The separation engine: chunk plan, analysis, model passes, resynthesis by
// overlap-add, and the writing of the stems.
#pragma once

struct yyjson_mut_doc;
struct yyjson_mut_val;

inline constexpr int N_FFT = 4096;
inline constexpr int HOP = 1024;
inline constexpr int N_BINS = 2049;
inline constexpr int T_CHUNK = 100;
inline constexpr int T_STEP = 75;
inline constexpr int T_TRIM = 25;
inline constexpr int SAMPLE_RATE = 44100;
// Output is written in blocks of a tenth of a second.
inline constexpr int WRITE_BLOCK = 4410;
// Below this window-square sum a sample counts as not covered (written as 0).
inline constexpr float WSUM_FLOOR = 0.0001f;

// Frames and chunks for an input of `samples` stereo samples (at least 1).
struct ChunkPlan {
  int n_frames;     // STFT frames synthesised into the output
  int n_chunks;     // model-sized chunks of T_CHUNK frames, T_STEP apart
  int covered_len;  // samples covered by the frames: (n_frames - 1) * HOP + N_FFT
  int work_len;     // max(samples, covered_len)
};

ChunkPlan make_plan(int samples);
// First frame of chunk c.
inline int chunk_start(int c) { return c * T_STEP; }
// Frames of chunk c that exist in the plan (100 for all but the last chunk).
int chunk_frames(const ChunkPlan &plan, int c);
// First frame, counted within chunk c, that chunk c adds to the output.
int keep_from(const ChunkPlan &plan, int c);
// Fills wsum[0 .. work_len) with the summed squared window over the plan.
void compute_wsum(const ChunkPlan &plan, float *wsum);

// Separates `frames` stereo samples into the wanted stems (flags in
// STEM_NAMES order), writes <out_dir>/<base>_<stem>.wav (and the
// instrumental mix when other, bass and drums are wanted), and adds the
// paths and the report to root when doc and root are present.
// Returns 0 (and clears g_err) or -1 with the message in g_err.
int do_separate(const float *samples, int frames, const int stems_wanted[4], const char *out_dir,
                const char *base, yyjson_mut_doc *doc, yyjson_mut_val *root);

// The stages of do_separate, exposed for the tests.

// Runs every chunk of the plan: analysis of both channels, the model of each
// wanted stem (wanted[i] is a STEM_NAMES index, ascending), resynthesis with
// the mixture phase and overlap-add into acc[i] (2 * work_len floats each,
// zeroed by the caller). Returns 0, or -1 when a model call fails.
int run_chunks(const float *samples, int frames, const ChunkPlan &plan, const int *wanted,
               int n_wanted, float *const *acc);

// Sums the normalised sources acc[0] / wsum + acc[1] / wsum + ... (in that
// order) into out (2 * frames floats). Samples whose wsum is at most
// WSUM_FLOOR become 0. One source gives the stem itself.
void normalise_sum(const float *const *acc, int n_acc, const float *wsum, int frames, float *out);

// Opens path, fills a buffer from the sources with normalise_sum, writes it
// in blocks of WRITE_BLOCK and closes the file. Returns 0, or -1 with the
// writer's message (or "oom") in g_err; a file once opened stays on disk.
int write_output_file(const char *path, const float *const *acc, int n_acc, const float *wsum,
                      int frames);
