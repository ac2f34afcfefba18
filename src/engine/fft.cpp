// Radix-2 complex FFT and the two real transforms built on it. The twiddles
// come from one sincosf per stage (complex FFT) or per bin (real split and
// merge) and a rotation recurrence; there are no tables to set up.
#include "engine/fft.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

// The single-precision float nearest to 2*pi.
constexpr float TWO_PI = 6.2831855f;

bool is_pow2(int n) { return n > 0 && (n & (n - 1)) == 0; }

float *at(float *data, std::ptrdiff_t index) { return data + 2 * index; }
const float *at(const float *data, std::ptrdiff_t index) { return data + 2 * index; }

void swap_pair(float *a, float *b) {
  float re = a[0], im = a[1];
  a[0] = b[0];
  a[1] = b[1];
  b[0] = re;
  b[1] = im;
}

// The real-transform angle of bin k, the same in both directions.
void bin_twiddle(int k, int n, float *c, float *s) {
  float theta = ((float)k * -TWO_PI) / (float)n;
  sincosf(theta, s, c);
}

// One output bin of the forward transform from A = Z[k mod h] and
// B = Z[(h - k) mod h] of the half-length complex FFT.
void split_bin(int k, int n, float ar, float ai, float br, float bi, float *dst) {
  float c, s;
  bin_twiddle(k, n, &c, &s);
  float sr = (ar + br) * 0.5f;
  float si = (ai + bi) * 0.5f;
  float dr = (ar - br) * 0.5f;
  float di = (ai - bi) * 0.5f;
  dst[0] = (c * si + s * dr) + sr;
  dst[1] = di - (c * dr - s * si);
}

}  // namespace

void fft_pow2(float *data, int n, int inverse) {
  if (n < 2 || !is_pow2(n)) return;

  int j = 0;
  for (int i = 1; i < n; i++) {
    int bit = n >> 1;
    for (; j & bit; bit >>= 1) j &= ~bit;
    j |= bit;
    if (i < j) swap_pair(at(data, i), at(data, j));
  }

  const float sign = inverse ? 1.0f : -1.0f;
  for (int half = 1; half < n; half <<= 1) {
    const int len = half * 2;
    float theta = (TWO_PI / (float)len) * sign;
    float c, s;
    sincosf(theta, &s, &c);
    for (std::ptrdiff_t b = 0; b < n; b += len) {
      float wr = 1.0f, wi = 0.0f;
      for (int k = 0; k < half; k++) {
        float *u = at(data, b + k);
        float *v = at(data, b + half + k);
        float tr = v[0] * wr - v[1] * wi;
        float ti = v[1] * wr + v[0] * wi;
        float ur = u[0], ui = u[1];
        u[0] = ur + tr;
        u[1] = ui + ti;
        v[0] = ur - tr;
        v[1] = ui - ti;
        float next_wr = c * wr - s * wi;
        float next_wi = wr * s + wi * c;
        wr = next_wr;
        wi = next_wi;
      }
    }
  }

  if (inverse) {
    const float r = 1.0f / (float)n;
    for (std::ptrdiff_t i = 0; i < 2 * (std::ptrdiff_t)n; i++) data[i] *= r;
  }
}

void om_fft_forward(const float *in, int n, float *out) {
  if (n < 2 || !is_pow2(n)) return;
  const int h = n / 2;
  // The samples, read as h complex values, are transformed inside the output
  // buffer; the split then works in place on the pairs (k, h - k), which are
  // the only values each of those two bins needs.
  std::memmove(out, in, (std::size_t)n * sizeof(float));
  fft_pow2(out, h, 0);

  // Bins 0 and h both come from Z[0]; bin h lies past the complex array, so
  // it is written first and Z[0] is still intact for bin 0.
  const float z0r = out[0], z0i = out[1];
  split_bin(h, n, z0r, z0i, z0r, z0i, at(out, h));
  split_bin(0, n, z0r, z0i, z0r, z0i, at(out, 0));

  for (int k = 1; k <= h / 2; k++) {
    const int m = h - k;
    const float ar = at(out, k)[0], ai = at(out, k)[1];
    const float br = at(out, m)[0], bi = at(out, m)[1];
    split_bin(k, n, ar, ai, br, bi, at(out, k));
    if (m != k) split_bin(m, n, br, bi, ar, ai, at(out, m));
  }
}

void om_ifft_inverse(const float *in, int n, float *out) {
  if (n < 2 || !is_pow2(n)) return;
  const int h = n / 2;
  // The half-length complex array is built straight in the output: its h
  // complex values are exactly the n output floats, even samples in the real
  // parts and odd samples in the imaginary parts.
  const float x0 = at(in, 0)[0], xh = at(in, h)[0];
  out[0] = (x0 + xh) * 0.5f;
  out[1] = (x0 - xh) * 0.5f;
  for (int k = 1; k < h; k++) {
    float c, s;
    bin_twiddle(k, n, &c, &s);
    const float *a = at(in, k);
    const float *b = at(in, h - k);
    float g = (a[0] + b[0]) * 0.5f;
    float f = (a[1] - b[1]) * 0.5f;
    float p = g - a[0];
    float q = f - a[1];
    at(out, k)[0] = g + (c * q - s * p);
    at(out, k)[1] = f - (c * p + s * q);
  }
  fft_pow2(out, h, 1);
}
