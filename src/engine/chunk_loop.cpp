// The chunk loop: STFT analysis of 100 frames, one model run per wanted stem,
// resynthesis with the mixture's phase and windowed overlap-add.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/engine.h"
#include "engine/fft.h"
#include "engine/stage_timing.h"
#include "runtime/runtime.h"

namespace {

constexpr int SPEC_FLOATS = 2 * T_CHUNK * N_BINS * 2;  // [ch][frame][bin] complex
constexpr long BLOCK_FLOATS = MODEL_BLOCK_FLOATS;      // [ch][bin][frame]
static_assert(BLOCK_FLOATS == 2L * N_BINS * T_CHUNK);

// Work buffers sized for exactly one chunk, reused by every chunk of every
// call, so the loop allocates nothing. Calls into the library never overlap.
float frame_l[N_FFT];
float frame_r[N_FFT];
float spec[SPEC_FLOATS];
float mag[BLOCK_FLOATS];
float masked[N_STEMS * BLOCK_FLOATS];
float out_spec[SPEC_FLOATS];
float ybuf[N_FFT];
float *const masked_blocks[N_STEMS] = {masked, masked + BLOCK_FLOATS, masked + 2 * BLOCK_FLOATS,
                                       masked + 3 * BLOCK_FLOATS};

inline float *spec_frame(float *buf, int ch, int f) {
  return buf + ((long)ch * T_CHUNK + f) * N_BINS * 2;
}

// Windows frame `frame` of both channels into frame_l/frame_r, zero-padded
// past the end of the input.
void load_frame(const float *samples, int64_t total, int64_t frame) {
  int64_t off = frame * HOP;
  int m = 0;
  if (off < total) {
    m = (int)std::min<int64_t>(N_FFT, total - off);
    const float *src = samples + 2 * off;
    for (int j = 0; j < m; j++) {
      frame_l[j] = src[2 * j] * g_win[j];
      frame_r[j] = src[2 * j + 1] * g_win[j];
    }
  }
  std::memset(frame_l + m, 0, sizeof(float) * (N_FFT - m));
  std::memset(frame_r + m, 0, sizeof(float) * (N_FFT - m));
}

void analyse_chunk(const float *samples, int64_t total, int u) {
  for (int f = 0; f < T_CHUNK; f++) {
    load_frame(samples, total, (int64_t)u + f);
    om_fft_forward(frame_l, N_FFT, spec_frame(spec, 0, f));
    om_fft_forward(frame_r, N_FFT, spec_frame(spec, 1, f));
  }
  for (int ch = 0; ch < 2; ch++)
    for (int f = 0; f < T_CHUNK; f++) {
      const float *x = spec_frame(spec, ch, f);
      for (int k = 0; k < N_BINS; k++) {
        float re = x[2 * k], im = x[2 * k + 1];
        mag[((long)ch * N_BINS + k) * T_CHUNK + f] = std::sqrt(re * re + im * im);
      }
    }
}

// Rebuilds frame f of channel ch of one stem from its model magnitudes and
// the mixture phase, and overlap-adds it into acc.
void resynthesise_frame(const float *stem_mag, int ch, int f, int64_t frame, float *acc) {
  const float *x = spec_frame(spec, ch, f);
  float *y = spec_frame(out_spec, ch, f);
  for (int k = 0; k < N_BINS; k++) {
    float re = x[2 * k], im = x[2 * k + 1];
    float p = re * re + im * im;
    if (p > 1e-18f) {
      float m = stem_mag[((long)ch * N_BINS + k) * T_CHUNK + f];
      float r = 1.0f / std::sqrt(p);
      y[2 * k] = (re * m) * r;
      y[2 * k + 1] = (im * m) * r;
    } else {
      // Silence (or a non-number) has no phase to borrow.
      y[2 * k] = 0.0f;
      y[2 * k + 1] = 0.0f;
    }
  }
  om_ifft_inverse(y, N_FFT, ybuf);
  float *dst = acc + 2 * (frame * HOP) + ch;
  for (int j = 0; j < N_FFT; j++) dst[2 * j] += g_win[j] * ybuf[j];
}

}  // namespace

int run_chunks(const float *samples, int frames, const ChunkPlan &plan, const int *wanted,
               int n_wanted, float *const *acc) {
  for (int c = 0; c < plan.n_chunks; c++) {
    int u = chunk_start(c);
    OM_STAGE_START(t_analysis);
    analyse_chunk(samples, frames, u);
    OM_STAGE_STOP(STAGE_ANALYSIS, t_analysis);
    if (n_wanted == 0) continue;
    OM_STAGE_START(t_model);
    if (run_stem_models(wanted, n_wanted, mag, masked_blocks) != 0) return -1;
    OM_STAGE_STOP(STAGE_MODEL, t_model);
    int n = chunk_frames(plan, c);
    OM_STAGE_START(t_resynth);
    for (int i = 0; i < n_wanted; i++)
      for (int ch = 0; ch < 2; ch++)
        for (int f = keep_from(plan, c); f < n; f++)
          resynthesise_frame(masked + i * BLOCK_FLOATS, ch, f, (int64_t)u + f, acc[i]);
    OM_STAGE_STOP(STAGE_RESYNTH, t_resynth);
  }
  return 0;
}
