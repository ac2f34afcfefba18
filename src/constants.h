// The dimensions of the signal and of the model blocks, shared by the
// engine, the runtime and the audio input.
#pragma once

// Working rate of everything, in stereo samples per second.
inline constexpr int SAMPLE_RATE = 44100;
// Frame length of the transforms and of the Hann window.
inline constexpr int N_FFT = 4096;
// Distance between the starts of consecutive frames.
inline constexpr int HOP = 1024;
// Frequency bins of a frame: N_FFT / 2 + 1.
inline constexpr int N_BINS = N_FFT / 2 + 1;
// Frames per chunk: the time extent of one model block.
inline constexpr int T_CHUNK = 100;
// Distance in frames between the starts of consecutive chunks.
inline constexpr int T_STEP = 75;
// Leading frames of a later chunk that only give the model context.
inline constexpr int T_TRIM = T_CHUNK - T_STEP;

// Model block: [1, 2, N_BINS, T_CHUNK] floats, frame index fastest.
inline constexpr int MODEL_CHANNELS = 2;
inline constexpr long MODEL_BLOCK_FLOATS = (long)MODEL_CHANNELS * N_BINS * T_CHUNK;
