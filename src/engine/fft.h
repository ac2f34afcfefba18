// Real FFT of power-of-two lengths from 2 to OM_FFT_MAX_N, in single
// precision, on KissFFT's complex transform of half the length.
//
// The plans (KissFFT configurations and the split twiddles) are made once per
// process, on the first call, in static storage, and only read afterwards: the
// transforms may run on several threads at once. A call allocates nothing and
// cannot fail. `in` and `out` of a transform must not overlap. Lengths that are
// not a power of two, below 2 or above OM_FFT_MAX_N leave the output untouched.
#pragma once

// The longest transform; the engine uses exactly this length.
inline constexpr int OM_FFT_MAX_N = 4096;

// Forward real FFT of n samples into n/2 + 1 complex bins (n + 2 floats),
// unscaled. Writes nothing past bin n/2. The imaginary parts of bins 0 and n/2
// are exactly 0.
void om_fft_forward(const float *in, int n, float *out);

// Inverse of om_fft_forward: n/2 + 1 bins back to n samples, scaled by 1/n.
// The imaginary parts of bins 0 and n/2 are not read; the input is not written.
void om_ifft_inverse(const float *in, int n, float *out);
