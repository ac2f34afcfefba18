// The chunk loop: STFT analysis of 100 frames, one model run per wanted stem,
// resynthesis with the mixture's phase and windowed overlap-add.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/chunk_loop.h"
#include "engine/engine_buffers.h"
#include "engine/fft.h"
#include "engine/stage_timing.h"
#include "engine/window.h"
#include "runtime/runtime.h"

namespace {

// Windows frame f of the chunk (both channels) into frame_l/frame_r,
// zero-padded past the last sample the input holds.
void load_frame(ChunkBuffers &b, const ChunkInput &in, int f) {
  float *frame_l = b.frame_l;
  float *frame_r = b.frame_r;
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

void analyse_chunk(ChunkBuffers &b, const ChunkInput &in) {
  float *spec = b.spec;
  float *mag = b.mag;
  for (int f = 0; f < T_CHUNK; f++) {
    load_frame(b, in, f);
    om_fft_forward(b.frame_l, N_FFT, spec_frame(spec, 0, f));
    om_fft_forward(b.frame_r, N_FFT, spec_frame(spec, 1, f));
  }
  for (int ch = 0; ch < 2; ch++)
    for (int f = 0; f < T_CHUNK; f++) {
      const float *x = spec_frame(spec, ch, f);
      for (int k = 0; k < N_BINS; k++) {
        float re = x[2 * k], im = x[2 * k + 1];
        mag[block_index(ch, k, f)] = std::sqrt(re * re + im * im);
      }
    }
}

// Rebuilds frame f of channel ch of one stem from its model magnitudes and
// the mixture phase, and overlap-adds it at dst (the frame's first sample).
void resynthesise_frame(ChunkBuffers &b, const float *stem_mag, int ch, int f, float *dst) {
  const float *x = spec_frame(b.spec, ch, f);
  float *y = spec_frame(b.out_spec, ch, f);
  for (int k = 0; k < N_BINS; k++) {
    float re = x[2 * k], im = x[2 * k + 1];
    float p = re * re + im * im;
    if (p > 1e-18f) {
      float m = stem_mag[block_index(ch, k, f)];
      float r = 1.0f / std::sqrt(p);
      y[2 * k] = (re * m) * r;
      y[2 * k + 1] = (im * m) * r;
    } else {
      // Silence (or a non-number) has no phase to borrow.
      y[2 * k] = 0.0f;
      y[2 * k + 1] = 0.0f;
    }
  }
  om_ifft_inverse(y, N_FFT, b.ybuf);
  dst += ch;
  for (int j = 0; j < N_FFT; j++) dst[2 * j] += g_win[j] * b.ybuf[j];
}

// Shares every bin of the mixture out between the four stems in proportion
// to their model magnitudes: stem i gets |X| * m_i / (m_0 + ... + m_3), so
// that, with the mixture's phase, the four add up to the mixture. Where the
// models give nothing to go by (a sum that is not positive, or not a
// number) each stem gets a quarter.
void share_out(ChunkBuffers &b) {
  for (long n = 0; n < MODEL_BLOCK_FLOATS; n++) {
    float sum = 0.0f;
    for (int s = 0; s < N_STEMS; s++) sum += b.masked[s][n];
    const float mixture = b.mag[n];
    if (sum > 0.0f && std::isfinite(sum)) {
      for (int s = 0; s < N_STEMS; s++) b.masked[s][n] = mixture * (b.masked[s][n] / sum);
    } else {
      for (int s = 0; s < N_STEMS; s++) b.masked[s][n] = mixture * 0.25f;
    }
  }
}

}  // namespace

int run_chunk(const ChunkJob &job, const ChunkInput &in, int keep, int frames,
              float *const *acc) {
  ChunkBuffers &b = *job.buffers;
  OM_STAGE_START(t_analysis);
  analyse_chunk(b, in);
  OM_STAGE_STOP(STAGE_ANALYSIS, t_analysis);
  if (job.n_wanted == 0) return 0;
  OM_STAGE_START(t_model);
  float *const blocks[N_STEMS] = {b.masked[0], b.masked[1], b.masked[2], b.masked[3]};
  if (run_stem_models(*job.models, job.wanted, job.n_wanted, b.mag, blocks) != 0) return -1;
  OM_STAGE_STOP(STAGE_MODEL, t_model);
  OM_STAGE_START(t_resynth);
  if (job.wiener) {
    wiener_resynthesise(b, keep, frames, acc);
    OM_STAGE_STOP(STAGE_RESYNTH, t_resynth);
    return 0;
  }
  if (job.sum_to_mix) share_out(b);
  for (int i = 0; i < job.n_wanted; i++)
    for (int ch = 0; ch < 2; ch++)
      for (int f = keep; f < frames; f++)
        resynthesise_frame(b, b.masked[i], ch, f, acc[i] + 2 * (int64_t)f * HOP);
  OM_STAGE_STOP(STAGE_RESYNTH, t_resynth);
  return 0;
}
