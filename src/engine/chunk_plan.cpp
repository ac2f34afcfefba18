// The frame grid, its division into model-sized chunks, and the summed
// squared window by which the overlap-added stems are normalised.
#include <algorithm>

#include "engine/engine.h"
#include "runtime/runtime.h"

ChunkPlan make_plan(int samples) {
  ChunkPlan plan{};
  if (samples <= N_FFT) {
    // One zero-padded frame.
    plan.n_frames = 1;
    plan.n_chunks = 1;
    plan.covered_len = N_FFT;
  } else {
    // Only frames that lie wholly inside the input are synthesised.
    int whole_hops = samples / HOP;
    plan.n_frames = whole_hops - 3;
    plan.n_chunks = 1 + std::max(0, (plan.n_frames - T_TRIM) / T_STEP);
    plan.covered_len = whole_hops * HOP;
  }
  plan.work_len = std::max(samples, plan.covered_len);
  return plan;
}

int chunk_frames(const ChunkPlan &plan, int c) {
  int start = chunk_start(c);
  return start + T_CHUNK - 1 < plan.n_frames ? T_CHUNK : plan.n_frames - start;
}

int keep_from(const ChunkPlan &plan, int c) {
  // The first T_TRIM frames of a later chunk are context for the model only:
  // the previous chunk has already added them.
  return c == 0 ? 0 : std::min(T_TRIM, chunk_frames(plan, c));
}

void compute_wsum(const ChunkPlan &plan, float *wsum) {
  for (int n = 0; n < plan.covered_len; n++) {
    int k_lo = n < N_FFT ? 0 : (n - (N_FFT - HOP)) / HOP;
    int k_hi = std::min(n / HOP, plan.n_frames - 1);
    float sum = 0.0f;
    for (int k = k_lo; k <= k_hi; k++) sum += g_win2[n - k * HOP];
    wsum[n] = sum;
  }
  std::fill(wsum + plan.covered_len, wsum + plan.work_len, 0.0f);
}
