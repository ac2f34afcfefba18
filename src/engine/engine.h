// The separation engine: chunk plan, analysis, model passes, resynthesis by
// overlap-add, and the writing of the stems, all while the input streams in.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "audio/audio.h"
#include "constants.h"
#include "stems.h"

// Output is written in blocks of at most a tenth of a second.
inline constexpr int WRITE_BLOCK = 4410;
// Below this window-square sum a sample counts as not covered (written as 0).
inline constexpr float WSUM_FLOOR = 0.0001f;

// Samples a chunk reads: its 100 frames, the last one 4096 samples long.
inline constexpr int64_t CHUNK_SPAN = (int64_t)(T_CHUNK - 1) * HOP + N_FFT;
// Samples between the starts of consecutive chunks.
inline constexpr int64_t CHUNK_STEP = (int64_t)T_STEP * HOP;

// Frames and chunks for an input of `samples` stereo samples (at least 1).
struct ChunkPlan {
  int64_t n_frames;     // STFT frames synthesised into the output
  int64_t n_chunks;     // model-sized chunks of T_CHUNK frames, T_STEP apart
  int64_t covered_len;  // samples covered by the frames: (n_frames - 1) * HOP + N_FFT
  int64_t work_len;     // max(samples, covered_len)
};

ChunkPlan make_plan(int64_t samples);
// First frame of chunk c.
inline int64_t chunk_start(int64_t c) { return c * T_STEP; }
// Frames of chunk c that exist in the plan (100 for all but the last chunk).
int chunk_frames(const ChunkPlan &plan, int64_t c);
// First frame, counted within chunk c, that chunk c adds to the output.
int keep_from(const ChunkPlan &plan, int64_t c);
// Chunk c is the last one exactly when the input ends before the last sample
// that its 100 frames read: the plan needs the length only to tell that.
inline bool is_last_chunk(int64_t c, int64_t samples) {
  return samples < c * CHUNK_STEP + CHUNK_SPAN;
}
// Fills out[0 .. to - from) with the summed squared window of samples from to
// to - 1 over the plan.
void compute_wsum_range(const ChunkPlan &plan, int64_t from, int64_t to, float *out);
// Fills wsum[0 .. work_len) with the summed squared window over the plan.
void compute_wsum(const ChunkPlan &plan, float *wsum);

// Where the engine's input comes from. read fills dst with up to max
// interleaved stereo samples and returns how many, 0 at the end of the
// input, or -1 with the reason set with set_err. progress, when set, tells
// the fraction of the input read so far, below 1.
struct SampleSource {
  int64_t (*read)(void *self, float *dst, int64_t max);
  void *self;
  double (*progress)(const void *self) = nullptr;
};

struct EngineBuffers;
struct ModelSet;

// What a separation runs on and reports to: the models, the work buffers,
// and for a session's calls the progress callback and the cancel flag.
struct EngineContext {
  const ModelSet *models;
  EngineBuffers *buffers;
  // Called after every chunk with the fraction done, and with 1.0 after a
  // success; a non-zero return cancels the separation (ignored at 1.0).
  int (*progress)(double fraction, void *user) = nullptr;
  void *progress_user = nullptr;
  // Checked after every chunk: once true, the separation stops as cancelled.
  const std::atomic<bool> *cancel = nullptr;
};

// The context of ombrelt_separate and ombrelt_mute: the models of
// ombrelt_init and the process's one set of work buffers.
const EngineContext &process_context();
// A set of work buffers of its own, for a session; null when memory is short.
EngineBuffers *engine_buffers_new();
void engine_buffers_free(EngineBuffers *buffers);

// The status of a separation that was cancelled, with the message "cancelled".
inline constexpr int SEPARATION_CANCELLED = -2;

inline constexpr std::size_t OUTPUT_PATH_SIZE = 1200;

struct MemoryStems;

struct SeparationRequest {
  // The stems wanted, in Stem order: each is written, and the instrumental
  // mix too when other, bass and drums all are. Ignored when `outputs` is set.
  int stems_wanted[N_STEMS];
  const char *out_dir;
  const char *base;     // output files are <out_dir>/<base>_<stem>.<ext>
  // One output that goes to a path of its own instead of its name in
  // out_dir (the kept part of a mute), or -1.
  int moved_output = -1;
  const char *moved_to = nullptr;
  // Bit 1 << o for each Output o to write; the models run are those the
  // outputs need. 0: as stems_wanted says.
  unsigned outputs = 0;
  // Share every bin out between the four stems so that they add up to the
  // mixture; all four models run.
  bool sum_to_mix = false;
  // One iteration of the multichannel Wiener filter on top: the stems still
  // add up to the mixture.
  bool wiener = false;
  // Set: the outputs are collected here instead of written to files, and
  // out_dir, base, format and the moved output are not used.
  MemoryStems *memory = nullptr;
  AudioFormat format = AudioFormat::WAV16;
};

struct SeparationResult {
  bool written[N_OUTPUTS];
  // The output's path in out_dir (also for the moved output).
  char path[N_OUTPUTS][OUTPUT_PATH_SIZE];
  int64_t samples;
  int64_t chunks;
  double duration_s;
  double elapsed_s;
};

// Reads the input from src and separates it into the wanted outputs,
// written as <out_dir>/<base>_<stem>.<ext> (or into request.memory). Nothing is
// made on disk before the input has delivered its first chunk or ended with
// a valid length. Returns 0 (and clears the message), -1 with the message
// set with set_err, or SEPARATION_CANCELLED; a failure or a cancellation
// leaves nothing behind.
int separate_stream(const EngineContext &context, const SampleSource &src,
                    const SeparationRequest &request, SeparationResult *result);
// The same in the process context.
int separate_stream(const SampleSource &src, const SeparationRequest &request,
                    SeparationResult *result);

// A test-only hook, null by default: called with the name of each point the
// engine passes ("chunk" after every chunk's models, "write" after every
// stretch of finished samples, "rename" before the files get their names).
inline void (*g_engine_hook)(const char *point) = nullptr;
inline void engine_point(const char *point) {
  if (g_engine_hook) g_engine_hook(point);
}
