// The work buffers of one separation, sized for exactly one chunk and reused
// by every chunk of every call on them, so that the chunk loop allocates
// nothing. About 20 MB; one set per session, and one for the process's
// ombrelt_separate and ombrelt_mute.
#pragma once

#include "engine/engine.h"

// Spectra of one chunk: [channel][frame][bin] complex values.
inline constexpr long SPEC_FLOATS = 2L * T_CHUNK * N_BINS * 2;

// Frame f of channel ch in a chunk's spectra: N_BINS complex values.
inline float *spec_frame(float *spectra, int ch, int f) {
  return spectra + ((long)ch * T_CHUNK + f) * N_BINS * 2;
}
inline const float *spec_frame(const float *spectra, int ch, int f) {
  return spectra + ((long)ch * T_CHUNK + f) * N_BINS * 2;
}
// Where bin k of frame f of channel ch lies in a model block ([ch][bin][frame]).
inline long block_index(int ch, int k, int f) { return ((long)ch * N_BINS + k) * T_CHUNK + f; }

// A stem's 2x2 spatial covariance in one bin, normalised by its power:
// [[r00, r01], [conj(r01), r11]].
struct SpatialCovariance {
  double r00, r11;
  double r01_re, r01_im;
};

struct ChunkBuffers {
  float frame_l[N_FFT];
  float frame_r[N_FFT];
  float spec[SPEC_FLOATS];
  float mag[MODEL_BLOCK_FLOATS];  // [ch][bin][frame]
  float masked[N_STEMS][MODEL_BLOCK_FLOATS];
  float out_spec[SPEC_FLOATS];
  float ybuf[N_FFT];
  // The Wiener filter's covariance of every stem in every bin.
  SpatialCovariance wiener_cov[N_STEMS][N_BINS];
};

struct EngineBuffers {
  // The input from the current chunk's first sample on, and one overlap-add
  // accumulator per wanted stem over the same stretch.
  float input[2 * CHUNK_SPAN];
  float acc_window[N_STEMS][2 * CHUNK_SPAN];
  // The window-square sum of one block of finished samples.
  float wsum[WRITE_BLOCK];
  // One block of normalised samples on its way to a writer.
  float block[2 * WRITE_BLOCK];
  ChunkBuffers chunk;
};
