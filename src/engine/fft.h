// Real FFT of power-of-two lengths, in single precision, without tables.
//
// None of these functions allocates: the real transforms use the output
// buffer itself as their half-length complex work array, so they cannot fail
// at run time. In exchange, `in` and `out` of a real transform must not
// overlap. Lengths that are not a power of two (or below 2 for the real
// transforms) leave the data and the output untouched.
#pragma once

// In-place radix-2 complex FFT of n complex values (re, im pairs).
// inverse = 0: unscaled forward; inverse = 1: inverse scaled by 1/n.
// Leaves data unchanged when n < 2.
void fft_pow2(float *data, int n, int inverse);

// Forward real FFT of n samples into n/2 + 1 complex bins (n + 2 floats),
// unscaled. Writes nothing past bin n/2.
void om_fft_forward(const float *in, int n, float *out);

// Inverse of om_fft_forward: n/2 + 1 bins back to n samples, scaled by 1/n.
// The imaginary parts of bins 0 and n/2 are not read.
void om_ifft_inverse(const float *in, int n, float *out);
