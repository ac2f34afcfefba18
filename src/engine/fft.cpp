// The real transforms on KissFFT's complex FFT of half the length: the n
// samples are read as n/2 complex values, transformed, and split into the
// n/2 + 1 bins (forward); the inverse merges the bins into n/2 complex values
// first. KissFFT's own real wrapper keeps a work buffer inside its
// configuration, so it could not serve two threads at once; the split and merge
// are done here instead, on the caller's buffers and the stack.
#include "engine/fft.h"

#include <kiss_fft.h>

#include <cmath>
#include <cstddef>
#include <numbers>

namespace {

constexpr int MAX_H = OM_FFT_MAX_N / 2;
// Plans exist for half lengths 2, 4, ..., MAX_H (level = log2 of the half
// length); a half length of 1 needs no complex transform.
constexpr int LEVELS = 12;
static_assert(1 << (LEVELS - 1) == MAX_H);

// Static room for all configurations, so that making the plans cannot fail:
// each holds its twiddles (one complex value per point) after a small header.
constexpr std::size_t HEADER_ROOM = 1024;
constexpr std::size_t ARENA_BYTES = 2 * ((LEVELS - 1) * HEADER_ROOM + sizeof(kiss_fft_cpx) * MAX_H * 2);
alignas(16) unsigned char arena[ARENA_BYTES];

struct Plans {
  kiss_fft_cfg forward[LEVELS];
  kiss_fft_cfg inverse[LEVELS];
  // e^(-2*pi*i*k/OM_FFT_MAX_N) for k < MAX_H, computed in double; a shorter
  // transform takes every (OM_FFT_MAX_N / n)-th value.
  float twiddle[2 * MAX_H];
};

kiss_fft_cfg make_config(int h, int inverse, std::size_t &used) {
  std::size_t need = 0;
  kiss_fft_alloc(h, inverse, nullptr, &need);  // only asks for the size
  need = (need + 15) & ~(std::size_t)15;
  if (need > 0 && used + need <= ARENA_BYTES) {
    std::size_t len = need;
    kiss_fft_cfg cfg = kiss_fft_alloc(h, inverse, arena + used, &len);
    used += need;
    if (cfg) return cfg;
  }
  // A KissFFT build with a larger header than foreseen; never on Debian's.
  return kiss_fft_alloc(h, inverse, nullptr, nullptr);
}

Plans make_plans() {
  Plans p{};
  std::size_t used = 0;
  for (int level = 1; level < LEVELS; level++) {
    p.forward[level] = make_config(1 << level, 0, used);
    p.inverse[level] = make_config(1 << level, 1, used);
  }
  for (int k = 0; k < MAX_H; k++) {
    double angle = -2.0 * std::numbers::pi * (double)k / (double)OM_FFT_MAX_N;
    p.twiddle[2 * k] = (float)std::cos(angle);
    p.twiddle[2 * k + 1] = (float)std::sin(angle);
  }
  return p;
}

// Made on the first call from whichever thread; read-only afterwards.
const Plans &plans() {
  static const Plans p = make_plans();
  return p;
}

// log2(n) - 1 for a supported length n, else -1.
int level_of(int n) {
  if (n < 2 || n > OM_FFT_MAX_N || (n & (n - 1)) != 0) return -1;
  int level = 0;
  while ((2 << level) < n) level++;
  return level;
}

kiss_fft_cpx *as_complex(float *data) { return reinterpret_cast<kiss_fft_cpx *>(data); }
const kiss_fft_cpx *as_complex(const float *data) {
  return reinterpret_cast<const kiss_fft_cpx *>(data);
}

// One output bin from A = Z[k] and B = Z[h - k] of the half-length transform
// and the bin's twiddle (c, s): the even-sample spectrum (Sr, Di) plus the
// odd-sample spectrum (Si, -Dr) turned by the twiddle.
void split_bin(float ar, float ai, float br, float bi, const float *w, float *dst) {
  const float c = w[0], s = w[1];
  float sr = (ar + br) * 0.5f;
  float si = (ai + bi) * 0.5f;
  float dr = (ar - br) * 0.5f;
  float di = (ai - bi) * 0.5f;
  dst[0] = (c * si + s * dr) + sr;
  dst[1] = di - (c * dr - s * si);
}

}  // namespace

void om_fft_forward(const float *in, int n, float *out) {
  const int level = level_of(n);
  if (level < 0) return;
  const Plans &p = plans();
  const int h = n / 2;
  if (level > 0) {
    if (!p.forward[level]) return;
    kiss_fft(p.forward[level], as_complex(in), as_complex(out));
  } else {
    out[0] = in[0];
    out[1] = in[1];
  }

  // The split works in place on the pairs (k, h - k), the only values each of
  // those two bins needs. Bins 0 and h both come from Z[0].
  const float z0r = out[0], z0i = out[1];
  out[2 * h] = z0r - z0i;
  out[2 * h + 1] = 0.0f;
  out[0] = z0r + z0i;
  out[1] = 0.0f;
  const int stride = OM_FFT_MAX_N / n;
  for (int k = 1; k <= h / 2; k++) {
    const int m = h - k;
    const float ar = out[2 * k], ai = out[2 * k + 1];
    const float br = out[2 * m], bi = out[2 * m + 1];
    split_bin(ar, ai, br, bi, &p.twiddle[2 * k * stride], &out[2 * k]);
    if (m != k) split_bin(br, bi, ar, ai, &p.twiddle[2 * m * stride], &out[2 * m]);
  }
}

void om_ifft_inverse(const float *in, int n, float *out) {
  const int level = level_of(n);
  if (level < 0) return;
  const Plans &p = plans();
  const int h = n / 2;
  // The merged values are scaled by 1/n on the way (a power of two, so no
  // rounding of its own): KissFFT's inverse is unscaled.
  const float r = 1.0f / (float)n;
  float *z = level > 0 ? nullptr : out;
  float scratch[OM_FFT_MAX_N];
  if (level > 0) {
    if (!p.inverse[level]) return;
    z = scratch;
  }
  const float x0 = in[0], xh = in[2 * h];
  z[0] = (x0 + xh) * r;
  z[1] = (x0 - xh) * r;
  const int stride = OM_FFT_MAX_N / n;
  for (int k = 1; k < h; k++) {
    const float c = p.twiddle[2 * k * stride], s = p.twiddle[2 * k * stride + 1];
    const float *a = &in[2 * k];
    const float *b = &in[2 * (h - k)];
    const float g = (a[0] + b[0]) * r;
    const float f = (a[1] - b[1]) * r;
    const float q = -((a[1] + b[1]) * r);
    const float pr = (b[0] - a[0]) * r;
    z[2 * k] = g + (c * q - s * pr);
    z[2 * k + 1] = f - (c * pr + s * q);
  }
  if (level > 0) kiss_fft(p.inverse[level], as_complex(z), as_complex(out));
}
