// The library's 4096-point real transforms against KissFFT's own real
// transforms (kiss_fftr / kiss_fftri) and FFTW's single-precision r2c/c2r
// plans (FFTW_MEASURE, one thread), on the same data. FFTW is only the
// yardstick: its licence would bind the library's.
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <kiss_fftr.h>

#include <cmath>
#include <cstring>
#include <random>

#include "engine/fft.h"

namespace {

constexpr int N = 4096;
constexpr int BINS = N / 2 + 1;

void fill_signal(float *x) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int i = 0; i < N; i++) x[i] = u(rng);
}

void BM_om_fft_forward(benchmark::State &state) {
  static float in[N], out[2 * BINS];
  fill_signal(in);
  for (auto _ : state) {
    om_fft_forward(in, N, out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
}

void BM_om_ifft_inverse(benchmark::State &state) {
  static float sig[N], in[2 * BINS], out[N];
  fill_signal(sig);
  om_fft_forward(sig, N, in);
  for (auto _ : state) {
    om_ifft_inverse(in, N, out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
}

void BM_fftw_r2c(benchmark::State &state) {
  float *in = fftwf_alloc_real(N);
  fftwf_complex *out = fftwf_alloc_complex(BINS);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(N, in, out, FFTW_MEASURE);
  fill_signal(in);  // planning with FFTW_MEASURE overwrites the arrays
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  // Both must compute the same transform for the times to compare.
  static float ours[2 * BINS];
  om_fft_forward(in, N, ours);
  float diff = 0;
  for (int k = 0; k < 2 * BINS; k++) diff = std::fmax(diff, std::fabs(ours[k] - (&out[0][0])[k]));
  state.counters["max_abs_diff"] = diff;
  fftwf_destroy_plan(plan);
  fftwf_free(out);
  fftwf_free(in);
}

// KissFFT's real transforms as the library gets them from the package: one
// configuration per direction, made once.
void BM_kiss_fftr(benchmark::State &state) {
  kiss_fftr_cfg cfg = kiss_fftr_alloc(N, 0, nullptr, nullptr);
  static float in[N];
  static kiss_fft_cpx out[BINS];
  fill_signal(in);
  for (auto _ : state) {
    kiss_fftr(cfg, in, out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  static float ours[2 * BINS];
  om_fft_forward(in, N, ours);
  float diff = 0;
  for (int k = 0; k < BINS; k++)
    diff = std::fmax(diff, std::fmax(std::fabs(ours[2 * k] - out[k].r),
                                     std::fabs(ours[2 * k + 1] - out[k].i)));
  state.counters["max_abs_diff"] = diff;
  kiss_fftr_free(cfg);
}

// kiss_fftri leaves out the 1/n too.
void BM_kiss_fftri(benchmark::State &state) {
  kiss_fftr_cfg cfg = kiss_fftr_alloc(N, 1, nullptr, nullptr);
  static float sig[N], out[N];
  static kiss_fft_cpx in[BINS];
  fill_signal(sig);
  om_fft_forward(sig, N, &in[0].r);
  for (auto _ : state) {
    kiss_fftri(cfg, in, out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  static float ours[N];
  om_ifft_inverse(&in[0].r, N, ours);
  float diff = 0;
  for (int i = 0; i < N; i++) diff = std::fmax(diff, std::fabs(out[i] / N - ours[i]));
  state.counters["max_abs_diff"] = diff;
  kiss_fftr_free(cfg);
}

// An FFTW c2r plan destroys its input, so the spectrum is copied back before
// every transform (one 16 KiB copy, as a caller keeping its spectrum would
// pay); BM_copy_spectrum shows what that copy costs alone.
void BM_fftw_c2r(benchmark::State &state) {
  float *sig = fftwf_alloc_real(N);
  fftwf_complex *spectrum = fftwf_alloc_complex(BINS);
  fftwf_complex *in = fftwf_alloc_complex(BINS);
  float *out = fftwf_alloc_real(N);
  fftwf_plan plan = fftwf_plan_dft_c2r_1d(N, in, out, FFTW_MEASURE);
  fill_signal(sig);
  om_fft_forward(sig, N, (float *)spectrum);
  for (auto _ : state) {
    std::memcpy(in, spectrum, sizeof(fftwf_complex) * BINS);
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  // FFTW leaves out the 1/n that om_ifft_inverse applies.
  static float ours[N];
  om_ifft_inverse((const float *)spectrum, N, ours);
  float diff = 0;
  for (int i = 0; i < N; i++) diff = std::fmax(diff, std::fabs(out[i] / N - ours[i]));
  state.counters["max_abs_diff"] = diff;
  fftwf_destroy_plan(plan);
  fftwf_free(out);
  fftwf_free(in);
  fftwf_free(spectrum);
  fftwf_free(sig);
}

void BM_copy_spectrum(benchmark::State &state) {
  static float from[2 * BINS], to[2 * BINS];
  fill_signal(from);
  for (auto _ : state) {
    std::memcpy(to, from, sizeof to);
    benchmark::DoNotOptimize(to);
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(BM_om_fft_forward);
BENCHMARK(BM_kiss_fftr);
BENCHMARK(BM_fftw_r2c);
BENCHMARK(BM_om_ifft_inverse);
BENCHMARK(BM_kiss_fftri);
BENCHMARK(BM_fftw_c2r);
BENCHMARK(BM_copy_spectrum);

BENCHMARK_MAIN();
