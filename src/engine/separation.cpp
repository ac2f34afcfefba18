// separate_stream: the chunks run as the input streams in, and each stretch
// of the stems is written as soon as no later chunk can add to it. Memory
// stays at a few chunks whatever the length of the input.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "engine/chunk_loop.h"
#include "engine/engine.h"
#include "engine/engine_buffers.h"
#include "engine/stage_timing.h"
#include "engine/stem_files.h"
#include "frame/frame.h"
#include "runtime/runtime.h"

namespace {

// Chunk c reads samples 75c * 1024 to 75c * 1024 + CHUNK_SPAN - 1; once it has
// run, what lies before the first frame that chunk c + 1 adds is final.
constexpr int64_t WINDOW = CHUNK_SPAN;
constexpr int64_t FINAL_AFTER_CHUNK = (int64_t)(T_STEP + T_TRIM) * HOP;

double seconds_now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

// The input window: samples [start, start + held) of the input, in
// buffers.input.
struct InputWindow {
  const SampleSource *src;
  EngineBuffers *buffers;
  int64_t start = 0;
  int64_t held = 0;
  bool ended = false;
};

// Reads until the window holds a whole chunk or the input has ended.
int fill(InputWindow &in) {
  float *input = in.buffers->input;
  while (in.held < WINDOW && !in.ended) {
    int64_t got = in.src->read(in.src->self, input + 2 * in.held, WINDOW - in.held);
    if (got < 0) return -1;
    if (got == 0) in.ended = true;
    in.held += got;
  }
  return 0;
}

// Moves both windows on by one chunk step.
void advance(InputWindow &in, int n_wanted) {
  float *input = in.buffers->input;
  std::memmove(input, input + 2 * CHUNK_STEP, sizeof(float) * 2 * (size_t)(in.held - CHUNK_STEP));
  in.held -= CHUNK_STEP;
  in.start += CHUNK_STEP;
  const size_t kept = 2 * (size_t)(WINDOW - CHUNK_STEP);
  for (int i = 0; i < n_wanted; i++) {
    float *acc = in.buffers->acc_window[i];
    std::memmove(acc, acc + 2 * CHUNK_STEP, sizeof(float) * kept);
    std::memset(acc + kept, 0, sizeof(float) * (2 * WINDOW - kept));
  }
}

// Writes samples [from, to) of the stems, which lie in the current window.
int write_finished(StemFiles &files, const ChunkPlan &plan, const InputWindow &in, int n_wanted,
                   int64_t from, int64_t to) {
  float *wsum = in.buffers->wsum;
  const float *acc[N_STEMS];
  for (int64_t at = from; at < to; at += WRITE_BLOCK) {
    int64_t n = std::min<int64_t>(WRITE_BLOCK, to - at);
    compute_wsum_range(plan, at, at + n, wsum);
    for (int i = 0; i < n_wanted; i++) acc[i] = in.buffers->acc_window[i] + 2 * (at - in.start);
    if (write_stem_files(&files, acc, wsum, n) != 0) return -1;
  }
  engine_point("write");
  return 0;
}

// Reports the fraction done; true when the separation is to stop there.
bool cancelled(const EngineContext &context, const SampleSource &src) {
  if (context.progress) {
    // The sources keep their estimates below 1; 1.0 is said only at the end.
    double fraction = src.progress ? src.progress(src.self) : 0.0;
    if (context.progress(std::clamp(fraction, 0.0, PROGRESS_CAP), context.progress_user) != 0)
      return true;
  }
  return context.cancel && context.cancel->load(std::memory_order_relaxed);
}

}  // namespace

int separate_stream(const SampleSource &src, const SeparationRequest &request,
                    SeparationResult *result) {
  return separate_stream(process_context(), src, request, result);
}

int separate_stream(const EngineContext &context, const SampleSource &src,
                    const SeparationRequest &request, SeparationResult *result) {
  const double start_time = seconds_now();
  *result = SeparationResult{};
  EngineBuffers *buffers = context.buffers;
  InputWindow in{&src, buffers};
  // Nothing is judged or made before the input has shown it can start.
  if (fill(in) != 0) return -1;

  int wanted[N_STEMS];
  int n_wanted = plan_outputs(request, result, wanted);
  if (n_wanted < 0) return -1;
  if (cancelled(context, src)) {
    set_err("cancelled");
    return SEPARATION_CANCELLED;
  }

  // The writers report a directory that cannot be made when they open files.
  // One made here goes again when the separation fails: a failure leaves
  // nothing behind.
  const bool to_files = !request.memory;
  const bool made_dir = to_files && mkdir(request.out_dir, 0777) == 0;
  StemFiles files;
  if (to_files) remove_stale_temporaries(request.out_dir, *result);
  if (open_stem_files(&files, request, *result, wanted, n_wanted, buffers->block) != 0) {
    if (made_dir) (void)rmdir(request.out_dir);
    return -1;
  }

  for (int i = 0; i < n_wanted; i++)
    std::memset(buffers->acc_window[i], 0, sizeof buffers->acc_window[i]);
  float *acc[N_STEMS] = {buffers->acc_window[0], buffers->acc_window[1], buffers->acc_window[2],
                         buffers->acc_window[3]};
  const ChunkJob job{context.models, &buffers->chunk, wanted, n_wanted, request.sum_to_mix,
                     request.wiener};
  int status = -1;
  int64_t written = 0;  // samples of the stems already written
  for (int64_t c = 0;; c++) {
    if (c > 0 && fill(in) != 0) break;
    const int64_t available = in.start + in.held;
    const bool last = in.ended && is_last_chunk(c, available);
    // Until the input has ended, a plan for a longer input gives the same
    // frames, windows and sums for everything this chunk finishes.
    const ChunkPlan plan = make_plan(last ? available : c * CHUNK_STEP + WINDOW);
    const ChunkInput chunk{buffers->input, in.held};
    if (run_chunk(job, chunk, keep_from(plan, c), chunk_frames(plan, c), acc) != 0) break;
    engine_point("chunk");
    const int64_t finished = last ? available : in.start + FINAL_AFTER_CHUNK;
    if (write_finished(files, plan, in, n_wanted, written, finished) != 0) break;
    written = finished;
    if (last) {
      result->samples = available;
      result->chunks = c + 1;
      status = 0;
      break;
    }
    if (cancelled(context, src)) {
      set_err("cancelled");
      status = SEPARATION_CANCELLED;
      break;
    }
    advance(in, n_wanted);
  }

  if (status != 0 || finish_stem_files(&files, request) != 0) {
    abandon_stem_files(&files);
    if (made_dir) (void)rmdir(request.out_dir);
    return status == SEPARATION_CANCELLED ? status : -1;
  }
  result->duration_s = (double)result->samples / SAMPLE_RATE;
  result->elapsed_s = seconds_now() - start_time;
  clear_err();
  if (context.progress) (void)context.progress(1.0, context.progress_user);
  return 0;
}
