// One iteration of the multichannel Wiener filter over a chunk: the stems'
// first estimates (the models' magnitudes with the mixture's phase) give
// each stem a power per bin and frame and a 2x2 spatial covariance per bin;
// the filter then shares the complex stereo mixture out between the stems
// by those, so that a source off the centre goes with the stem whose
// estimates lie where it lies. The four filters add up to the identity: the
// stems add up to the mixture.
#include <cmath>
#include <complex>

#include "engine/chunk_loop.h"
#include "engine/engine_buffers.h"
#include "engine/fft.h"
#include "engine/window.h"

namespace {

using cd = std::complex<double>;

// Keeps the inverse of a silent bin finite; relative to full-scale power
// it is far below anything audible.
constexpr double POWER_FLOOR = 1e-12;

// The first estimate of stem s, channel ch, bin k, frame f: the model's
// magnitude with the mixture's phase.
inline cd first_estimate(const ChunkBuffers &b, int s, int ch, int k, int f) {
  const float *x = spec_frame(b.spec, ch, f) + 2 * k;
  const double mixture = b.mag[block_index(ch, k, f)];
  if (!(mixture > 0.0)) return 0.0;
  const double gain = b.masked[s][block_index(ch, k, f)] / mixture;
  return std::isfinite(gain) ? cd(x[0], x[1]) * gain : 0.0;
}

}  // namespace

void wiener_resynthesise(ChunkBuffers &b, int keep, int frames, float *const *acc) {
  // The spatial covariance of every stem in every bin over the chunk's
  // frames, normalised by the stem's power there; a stem silent in a bin
  // gets the identity.
  for (int s = 0; s < N_STEMS; s++)
    for (int k = 0; k < N_BINS; k++) {
      double r00 = 0.0, r11 = 0.0, power = 0.0;
      cd r01 = 0.0;
      for (int f = 0; f < frames; f++) {
        const cd y0 = first_estimate(b, s, 0, k, f), y1 = first_estimate(b, s, 1, k, f);
        r00 += std::norm(y0);
        r11 += std::norm(y1);
        r01 += y0 * std::conj(y1);
        power += 0.5 * (std::norm(y0) + std::norm(y1));
      }
      SpatialCovariance &c = b.wiener_cov[s][k];
      if (power > POWER_FLOOR)
        c = {r00 / power, r11 / power, r01.real() / power, r01.imag() / power};
      else
        c = {1.0, 1.0, 0.0, 0.0};
    }

  for (int f = keep; f < frames; f++) {
    // out_spec holds this frame's filtered stems: slot 2s + ch.
    for (int k = 0; k < N_BINS; k++) {
      const float *x0p = spec_frame(b.spec, 0, f) + 2 * k;
      const float *x1p = spec_frame(b.spec, 1, f) + 2 * k;
      const cd x0(x0p[0], x0p[1]), x1(x1p[0], x1p[1]);
      double v[N_STEMS];
      double c00 = POWER_FLOOR, c11 = POWER_FLOOR;
      cd c01 = 0.0;
      for (int s = 0; s < N_STEMS; s++) {
        const cd y0 = first_estimate(b, s, 0, k, f), y1 = first_estimate(b, s, 1, k, f);
        v[s] = 0.5 * (std::norm(y0) + std::norm(y1));
        const SpatialCovariance &r = b.wiener_cov[s][k];
        c00 += v[s] * r.r00;
        c11 += v[s] * r.r11;
        c01 += v[s] * cd(r.r01_re, r.r01_im);
      }
      const double det = c00 * c11 - std::norm(c01);
      // C^-1 x, shared by every stem's filter v_s R_s C^-1. Where the
      // mixture's covariance cannot be inverted, each stem gets a quarter.
      const bool invertible = det > 0.0 && std::isfinite(det);
      cd z0 = 0.0, z1 = 0.0;
      if (invertible) {
        z0 = (c11 * x0 - c01 * x1) / det;
        z1 = (-std::conj(c01) * x0 + c00 * x1) / det;
      }
      for (int s = 0; s < N_STEMS; s++) {
        const SpatialCovariance &r = b.wiener_cov[s][k];
        const cd r01(r.r01_re, r.r01_im);
        const cd y0 = invertible ? v[s] * (r.r00 * z0 + r01 * z1) : x0 * 0.25;
        const cd y1 = invertible ? v[s] * (std::conj(r01) * z0 + r.r11 * z1) : x1 * 0.25;
        float *o0 = b.out_spec + ((long)(2 * s) * N_BINS + k) * 2;
        float *o1 = b.out_spec + ((long)(2 * s + 1) * N_BINS + k) * 2;
        o0[0] = (float)y0.real();
        o0[1] = (float)y0.imag();
        o1[0] = (float)y1.real();
        o1[1] = (float)y1.imag();
      }
    }
    for (int s = 0; s < N_STEMS; s++)
      for (int ch = 0; ch < 2; ch++) {
        om_ifft_inverse(b.out_spec + (long)(2 * s + ch) * N_BINS * 2, N_FFT, b.ybuf);
        float *dst = acc[s] + 2 * (int64_t)f * HOP + ch;
        for (int j = 0; j < N_FFT; j++) dst[2 * j] += g_win[j] * b.ybuf[j];
      }
  }
}
