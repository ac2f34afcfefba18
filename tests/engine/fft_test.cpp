#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <random>
#include <thread>
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
  // Measured: at most 5.1e-7 over three seeds.
  std::vector<float> x = random_signal(N, 1);
  std::vector<float> y = inverse(forward(x));
  for (int i = 0; i < N; i++) ASSERT_NEAR(y[i], x[i], 1e-6) << "sample " << i;
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

TEST(RealFft, BinsZeroAndHalfHaveNoImaginaryPart) {
  for (unsigned seed = 1; seed <= 5; seed++) {
    std::vector<float> spec = forward(random_signal(N, seed));
    EXPECT_EQ(spec[1], 0.0f) << "seed " << seed;
    EXPECT_EQ(spec[2 * H + 1], 0.0f) << "seed " << seed;
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
  // Tolerances a little above the largest errors measured over 20 seeds
  // (3 at 4096 points); the split twiddles are exact to float rounding, so
  // the error hardly grows with the length.
  struct Case {
    int n;
    double forward, inverse;
  };
  const Case cases[] = {{2, 1e-7, 5e-8},   {4, 2e-7, 5e-8},   {8, 4e-7, 1e-7},
                        {16, 7e-7, 1e-7},  {64, 2e-6, 5e-8},  {N, 3e-5, 2e-8}};
  for (const Case &c : cases) {
    const int n = c.n;
    std::vector<float> x = random_signal(n, 4);
    std::vector<float> spec = forward(x);
    std::vector<double> ref = dft(x);
    for (int i = 0; i < n + 2; i++) ASSERT_NEAR(spec[i], ref[i], c.forward) << "n " << n << " float " << i;

    std::vector<float> bins = random_signal(n + 2, 5);
    std::vector<float> y = inverse(bins);
    std::vector<double> y_ref = idft(bins, n);
    for (int m = 0; m < n; m++) ASSERT_NEAR(y[m], y_ref[m], c.inverse) << "n " << n << " sample " << m;
  }
}

TEST(RealFft, TwoPointTransforms) {
  std::vector<float> spec = forward({3.0f, 1.0f});
  EXPECT_EQ(spec[0], 4.0f);
  EXPECT_EQ(spec[1], 0.0f);
  EXPECT_EQ(spec[2], 2.0f);
  EXPECT_EQ(spec[3], 0.0f);
  EXPECT_EQ(inverse({4.0f, 9.0f, 2.0f, 9.0f}), (std::vector<float>{3.0f, 1.0f}));
}

TEST(RealFft, UnsupportedLengthsLeaveTheOutputUntouched) {
  for (int n : {0, 1, -4, 6, 4095, 2 * OM_FFT_MAX_N}) {
    std::vector<float> in(16400, 0.5f);
    std::vector<float> out(16400, 7.0f);
    om_fft_forward(in.data(), n, out.data());
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 7.0f; })) << n;
    om_ifft_inverse(in.data(), n, out.data());
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 7.0f; })) << n;
  }
}

// The plans are made by whichever call comes first, so several threads start
// at once in a fresh copy of this program, where no transform has run yet.
// Each must get exactly what a lone thread gets afterwards. Returns the number
// of results that differ.
int transforms_differ_across_threads() {
  constexpr int THREADS = 4;
  constexpr int ROUNDS = 25;
  const std::vector<int> lengths = {N, 2, 64, 1024};
  auto round_trip = [&](int t, size_t i) { return inverse(forward(random_signal(lengths[i], t))); };
  std::vector<std::vector<std::vector<float>>> got(THREADS);
  std::latch start(THREADS);
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; t++)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < ROUNDS; round++)
        for (size_t i = 0; i < lengths.size(); i++) got[t].push_back(round_trip(t, i));
    });
  for (std::thread &thread : threads) thread.join();
  int differ = 0;
  for (int t = 0; t < THREADS; t++)
    for (size_t j = 0; j < got[t].size(); j++)
      differ += !same_bits(got[t][j], round_trip(t, j % lengths.size()));
  return differ;
}

TEST(RealFft, ThreadsAtOnceFromTheFirstCallGetTheSameResults) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::fprintf(stderr, "differ=%d\n", transforms_differ_across_threads());
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "differ=0");
}

}  // namespace
