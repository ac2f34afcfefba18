// Audio input and output: decoding any input to 44.1 kHz stereo float, and
// the 16-bit stereo WAV writer for the stems.
#pragma once

struct AVFormatContext;
struct AVStream;
struct AVCodecContext;

inline constexpr int DECODE_RATE = 44100;
inline constexpr int MIN_DECODED_FRAMES = 4410;

// Decodes the best audio stream of path into one heap block of interleaved
// stereo floats at 44100 Hz (released by the caller with free). On success
// *samples and *frames (stereo pairs, at least 4410) are set; on failure they
// are untouched and the reason is in g_err.
int decode_audio(const char *path, float **samples, int *frames);

// State of one open WAV file; all three members null while closed.
struct WavOut {
  AVFormatContext *fmt;
  AVStream *st;
  AVCodecContext *enc;
};

// Creates path and writes a 16-bit stereo 44100 Hz WAV header.
int wav_open(WavOut *w, const char *path);
// Appends `frames` interleaved stereo float frames, converted to 16 bits.
// A failure leaves the writer open; wav_close still has to be called.
int wav_write(WavOut *w, const float *interleaved, int frames);
// Completes the file and releases the writer. Does nothing when closed.
void wav_close(WavOut *w);
// wav_close for a file that is meant to be kept: reports whether everything
// reached the file. Data still in the writer's buffer is written only here,
// so a full disk may show itself nowhere else. Returns 0 (also when closed
// already), or -1 with "wav write failed"; the writer is closed either way.
int wav_finish(WavOut *w);
