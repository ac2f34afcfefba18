#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/fft.h"

namespace {

constexpr int N = 4096;
constexpr int H = N / 2;
constexpr int BINS = H + 1;

std::vector<float> random_signal(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> x(n);
  for (float &v : x) v = dist(rng);
  return x;
}

// Exactly sized buffers, so that the sanitizer sees any access past them.
std::vector<float> forward(const std::vector<float> &x) {
  std::vector<float> spec(x.size() + 2);
  om_fft_forward(x.data(), (int)x.size(), spec.data());
  return spec;
}

std::vector<float> inverse(const std::vector<float> &spec) {
  std::vector<float> y(spec.size() - 2);
  om_ifft_inverse(spec.data(), (int)y.size(), y.data());
  return y;
}

bool same_bits(const std::vector<float> &a, const std::vector<float> &b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(RealFft, RoundTripGivesTheSamplesBack) {
  std::vector<float> x = random_signal(N, 1);
  std::vector<float> y = inverse(forward(x));
  for (int i = 0; i < N; i++) ASSERT_NEAR(y[i], x[i], 1e-4) << "sample " << i;
}

TEST(RealFft, ImpulseGivesAFlatSpectrum) {
  std::vector<float> x(N, 0.0f);
  x[0] = 1.0f;
  std::vector<float> spec = forward(x);
  for (int k = 0; k < BINS; k++) {
    ASSERT_EQ(spec[2 * k], 1.0f) << "bin " << k;
    ASSERT_EQ(spec[2 * k + 1], 0.0f) << "bin " << k;
  }
}

TEST(RealFft, ConstantGoesToBinZeroOnly) {
  std::vector<float> spec = forward(std::vector<float>(N, 1.0f));
  EXPECT_EQ(spec[0], (float)N);
  EXPECT_EQ(spec[1], 0.0f);
  for (int k = 1; k < BINS; k++)
    ASSERT_LT(std::hypot(spec[2 * k], spec[2 * k + 1]), 1e-3) << "bin " << k;
}

TEST(RealFft, BinZeroHasNoImaginaryPart) {
  for (unsigned seed = 1; seed <= 5; seed++) {
    std::vector<float> spec = forward(random_signal(N, seed));
    EXPECT_EQ(spec[1], 0.0f) << "seed " << seed;
  }
}

TEST(RealFft, InverseIgnoresImaginaryPartsOfBinsZeroAndHalf) {
  std::vector<float> spec = forward(random_signal(N, 2));
  std::vector<float> plain = inverse(spec);
  spec[1] = 123.0f;
  spec[2 * H + 1] = -7.5f;
  EXPECT_TRUE(same_bits(inverse(spec), plain));
}

TEST(RealFft, WritesExactlyItsOutputAndLeavesTheInputAlone) {
  constexpr float GUARD = -12345.0f;
  constexpr int GUARDS = 16;
  std::vector<float> x = random_signal(N, 3);
  const std::vector<float> x_copy = x;

  std::vector<float> spec(2 * BINS + GUARDS, NAN);
  std::fill(spec.begin() + 2 * BINS, spec.end(), GUARD);
  om_fft_forward(x.data(), N, spec.data());
  EXPECT_TRUE(same_bits(x, x_copy));
  for (int i = 0; i < 2 * BINS; i++) ASSERT_FALSE(std::isnan(spec[i])) << "float " << i;
  for (int i = 2 * BINS; i < 2 * BINS + GUARDS; i++) ASSERT_EQ(spec[i], GUARD) << "float " << i;

  spec.resize(2 * BINS);
  const std::vector<float> spec_copy = spec;
  std::vector<float> y(N + GUARDS, NAN);
  std::fill(y.begin() + N, y.end(), GUARD);
  om_ifft_inverse(spec.data(), N, y.data());
  EXPECT_TRUE(same_bits(spec, spec_copy));
  for (int i = 0; i < N; i++) ASSERT_FALSE(std::isnan(y[i])) << "float " << i;
  for (int i = N; i < N + GUARDS; i++) ASSERT_EQ(y[i], GUARD) << "float " << i;
}

// Straightforward double-precision DFT of a real signal, bins 0 to n/2.
std::vector<double> dft(const std::vector<float> &x) {
  const int n = (int)x.size();
  std::vector<double> out(n + 2);
  for (int k = 0; k <= n / 2; k++) {
    double re = 0, im = 0;
    for (int m = 0; m < n; m++) {
      double a = -2.0 * M_PI * (double)((long)k * m % n) / n;
      re += x[m] * std::cos(a);
      im += x[m] * std::sin(a);
    }
    out[2 * k] = re;
    out[2 * k + 1] = im;
  }
  return out;
}

// The 1/n-scaled inverse DFT of the conjugate-symmetric extension of bins.
std::vector<double> idft(const std::vector<float> &bins, int n) {
  std::vector<double> out(n);
  for (int m = 0; m < n; m++) {
    double sum = bins[0] + (m % 2 ? -1.0 : 1.0) * bins[n];
    for (int k = 1; k < n / 2; k++) {
      double a = 2.0 * M_PI * (double)((long)k * m % n) / n;
      sum += 2.0 * (bins[2 * k] * std::cos(a) - bins[2 * k + 1] * std::sin(a));
    }
    out[m] = sum / n;
  }
  return out;
}

TEST(RealFft, MatchesADoublePrecisionDft) {
  for (int n : {2, 4, 8, 64, N}) {
    std::vector<float> x = random_signal(n, 4);
    std::vector<float> spec = forward(x);
    std::vector<double> ref = dft(x);
    double tolerance = 1e-5 * n;
    for (int i = 0; i < n + 2; i++) ASSERT_NEAR(spec[i], ref[i], tolerance) << "n " << n << " float " << i;

    std::vector<float> bins = random_signal(n + 2, 5);
    std::vector<float> y = inverse(bins);
    std::vector<double> y_ref = idft(bins, n);
    for (int m = 0; m < n; m++) ASSERT_NEAR(y[m], y_ref[m], 1e-5) << "n " << n << " sample " << m;
  }
}

// The split and merge steps written the plain way, on a separate scratch
// array; the library works inside the output buffer instead and must not
// change a single bit of the result.
void scratch_forward(const float *in, int n, float *out) {
  const int h = n / 2;
  std::vector<float> z(in, in + n);
  fft_pow2(z.data(), h, 0);
  for (int k = 0; k <= h; k++) {
    float theta = ((float)k * -6.2831855f) / (float)n, c, s;
    sincosf(theta, &s, &c);
    const float *a = &z[2 * (k % h)], *b = &z[2 * ((h - k) % h)];
    float sr = (a[0] + b[0]) * 0.5f, si = (a[1] + b[1]) * 0.5f;
    float dr = (a[0] - b[0]) * 0.5f, di = (a[1] - b[1]) * 0.5f;
    out[2 * k] = (c * si + s * dr) + sr;
    out[2 * k + 1] = di - (c * dr - s * si);
  }
}

void scratch_inverse(const float *in, int n, float *out) {
  const int h = n / 2;
  std::vector<float> z(n);
  z[0] = (in[0] + in[2 * h]) * 0.5f;
  z[1] = (in[0] - in[2 * h]) * 0.5f;
  for (int k = 1; k < h; k++) {
    float theta = ((float)k * -6.2831855f) / (float)n, c, s;
    sincosf(theta, &s, &c);
    const float *a = &in[2 * k], *b = &in[2 * (h - k)];
    float g = (a[0] + b[0]) * 0.5f, f = (a[1] - b[1]) * 0.5f;
    float p = g - a[0], q = f - a[1];
    z[2 * k] = g + (c * q - s * p);
    z[2 * k + 1] = f - (c * p + s * q);
  }
  fft_pow2(z.data(), h, 1);
  std::memcpy(out, z.data(), n * sizeof(float));
}

TEST(RealFft, InPlaceWorkIsBitIdenticalToAScratchArray) {
  for (int n : {2, 4, 8, 16, N}) {
    std::vector<float> x = random_signal(n, 6);
    std::vector<float> expected(n + 2);
    scratch_forward(x.data(), n, expected.data());
    EXPECT_TRUE(same_bits(forward(x), expected)) << "forward, n " << n;

    std::vector<float> bins = random_signal(n + 2, 7);
    std::vector<float> expected_y(n);
    scratch_inverse(bins.data(), n, expected_y.data());
    EXPECT_TRUE(same_bits(inverse(bins), expected_y)) << "inverse, n " << n;
  }
}

TEST(RealFft, TwoPointTransforms) {
  std::vector<float> spec = forward({3.0f, 1.0f});
  EXPECT_EQ(spec[0], 4.0f);
  EXPECT_EQ(spec[1], 0.0f);
  EXPECT_EQ(spec[2], 2.0f);
  // The angle of bin n/2 is the float nearest to -pi, so its sine is not 0.
  EXPECT_NEAR(spec[3], 0.0f, 1e-6);
  EXPECT_EQ(inverse({4.0f, 9.0f, 2.0f, 9.0f}), (std::vector<float>{3.0f, 1.0f}));
}

TEST(RealFft, UnsupportedLengthsLeaveTheOutputUntouched) {
  for (int n : {0, 1, -4, 6, 4095}) {
    std::vector<float> in(8200, 0.5f);
    std::vector<float> out(8200, 7.0f);
    om_fft_forward(in.data(), n, out.data());
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 7.0f; })) << n;
    om_ifft_inverse(in.data(), n, out.data());
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 7.0f; })) << n;
  }
}

TEST(ComplexFft, ShortCountsLeaveTheDataUnchanged) {
  for (int n : {1, 0, -1, -8}) {
    for (int inverse_flag : {0, 1}) {
      std::vector<float> data = {0.25f, -3.0f, 1.5f, 2.0f};
      fft_pow2(data.data(), n, inverse_flag);
      EXPECT_EQ(data, (std::vector<float>{0.25f, -3.0f, 1.5f, 2.0f}))
          << "n " << n << " inverse " << inverse_flag;
    }
  }
}

TEST(ComplexFft, ForwardThenInverseGivesTheValuesBack) {
  std::vector<float> data = random_signal(2 * 1024, 8);
  const std::vector<float> start = data;
  fft_pow2(data.data(), 1024, 0);
  fft_pow2(data.data(), 1024, 1);
  for (size_t i = 0; i < data.size(); i++) ASSERT_NEAR(data[i], start[i], 1e-5) << i;
}

}  // namespace
