// The chunk loop: STFT analysis of 100 frames, one model run per wanted stem,
// resynthesis with the mixture's phase and windowed overlap-add.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/chunk_loop.h"
#include "engine/fft.h"
#include "engine/stage_timing.h"
#include "engine/window.h"
#include "runtime/runtime.h"

namespace {

constexpr int SPEC_FLOATS = 2 * T_CHUNK * N_BINS * 2;  // [ch][frame][bin] complex

// Work buffers sized for exactly one chunk, reused by every chunk of every
// call, so the loop allocates nothing. Calls into the library never overlap.
float frame_l[N_FFT];
float frame_r[N_FFT];
float spec[SPEC_FLOATS];
float mag[MODEL_BLOCK_FLOATS];       // [ch][bin][frame]
float masked[N_STEMS * MODEL_BLOCK_FLOATS];
float out_spec[SPEC_FLOATS];
float ybuf[N_FFT];
float *const masked_blocks[N_STEMS] = {masked, masked + MODEL_BLOCK_FLOATS,
                                       masked + 2 * MODEL_BLOCK_FLOATS,
                                       masked + 3 * MODEL_BLOCK_FLOATS};

inline float *spec_frame(float *buf, int ch, int f) {
  return buf + ((long)ch * T_CHUNK + f) * N_BINS * 2;
}

// Windows frame f of the chunk (both channels) into frame_l/frame_r,
// zero-padded past the last sample the input holds.
void load_frame(const ChunkInput &in, int f) {
  int64_t off = (int64_t)f * HOP;
  int m = 0;
  if (off < in.available) {
    m = (int)std::min<int64_t>(N_FFT, in.available - off);
    const float *src = in.samples + 2 * off;
    for (int j = 0; j < m; j++) {
      frame_l[j] = src[2 * j] * g_win[j];
      frame_r[j] = src[2 * j + 1] * g_win[j];
    }
  }
  std::memset(frame_l + m, 0, sizeof(float) * (N_FFT - m));
  std::memset(frame_r + m, 0, sizeof(float) * (N_FFT - m));
}

void analyse_chunk(const ChunkInput &in) {
  for (int f = 0; f < T_CHUNK; f++) {
    load_frame(in, f);
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
// the mixture phase, and overlap-adds it at dst (the frame's first sample).
void resynthesise_frame(const float *stem_mag, int ch, int f, float *dst) {
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
  dst += ch;
  for (int j = 0; j < N_FFT; j++) dst[2 * j] += g_win[j] * ybuf[j];
}

}  // namespace

int run_chunk(const ChunkInput &in, const int *wanted, int n_wanted, int keep, int frames,
              float *const *acc) {
  OM_STAGE_START(t_analysis);
  analyse_chunk(in);
  OM_STAGE_STOP(STAGE_ANALYSIS, t_analysis);
  if (n_wanted == 0) return 0;
  OM_STAGE_START(t_model);
  if (run_stem_models(wanted, n_wanted, mag, masked_blocks) != 0) return -1;
  OM_STAGE_STOP(STAGE_MODEL, t_model);
  OM_STAGE_START(t_resynth);
  for (int i = 0; i < n_wanted; i++)
    for (int ch = 0; ch < 2; ch++)
      for (int f = keep; f < frames; f++)
        resynthesise_frame(masked + i * MODEL_BLOCK_FLOATS, ch, f, acc[i] + 2 * (int64_t)f * HOP);
  OM_STAGE_STOP(STAGE_RESYNTH, t_resynth);
  return 0;
}
