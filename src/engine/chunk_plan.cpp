// The frame grid, its division into model-sized chunks, and the summed
// squared window by which the overlap-added stems are normalised.
#include <algorithm>

#include "engine/engine.h"
#include "engine/window.h"

ChunkPlan make_plan(int64_t samples) {
  ChunkPlan plan{};
  if (samples <= N_FFT) {
    // One zero-padded frame.
    plan.n_frames = 1;
    plan.n_chunks = 1;
    plan.covered_len = N_FFT;
  } else {
    // Only frames that lie wholly inside the input are synthesised.
    int64_t whole_hops = samples / HOP;
    plan.n_frames = whole_hops - 3;
    plan.n_chunks = 1 + std::max<int64_t>(0, (plan.n_frames - T_TRIM) / T_STEP);
    plan.covered_len = whole_hops * HOP;
  }
  plan.work_len = std::max(samples, plan.covered_len);
  return plan;
}

int chunk_frames(const ChunkPlan &plan, int64_t c) {
  int64_t start = chunk_start(c);
  return start + T_CHUNK - 1 < plan.n_frames ? T_CHUNK : (int)(plan.n_frames - start);
}

int keep_from(const ChunkPlan &plan, int64_t c) {
  // The first T_TRIM frames of a later chunk are context for the model only:
  // the previous chunk has already added them.
  return c == 0 ? 0 : std::min(T_TRIM, chunk_frames(plan, c));
}

void compute_wsum_range(const ChunkPlan &plan, int64_t from, int64_t to, float *out) {
  for (int64_t n = from; n < to; n++) {
    if (n >= plan.covered_len) {
      out[n - from] = 0.0f;
      continue;
    }
    int64_t k_lo = n < N_FFT ? 0 : (n - (N_FFT - HOP)) / HOP;
    int64_t k_hi = std::min<int64_t>(n / HOP, plan.n_frames - 1);
    float sum = 0.0f;
    for (int64_t k = k_lo; k <= k_hi; k++) sum += g_win2[n - k * HOP];
    out[n - from] = sum;
  }
}

void compute_wsum(const ChunkPlan &plan, float *wsum) {
  compute_wsum_range(plan, 0, plan.work_len, wsum);
}
