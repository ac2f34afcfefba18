// The one conversion of every input to interleaved stereo float at 44100 Hz.
// The decoder and the memory source both go through it, so a file and the
// same samples in memory come out as the same frames.
#pragma once

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}
#include <cstdint>

struct SwrContext;

struct Resampler {
  SwrContext *swr = nullptr;
  // What swr was built for.
  AVChannelLayout layout{};
  int format = AV_SAMPLE_FMT_NONE;
  int rate = 0;
  // The converted output of the last piece of input, handed out from `taken`.
  float *pending = nullptr;
  int64_t capacity = 0;  // stereo frames
  int64_t count = 0;
  int64_t taken = 0;
  bool ended = false;  // the input is exhausted and every frame handed out
  int64_t total = 0;   // stereo frames handed out so far
};

// (Re)builds the conversion for input of this channel layout, sample format
// and rate (> 0). Channels in no known order are taken as the default layout
// of their count; a count with no such layout is mixed down pairwise (even
// channels to the left, odd ones to the right, each side their mean). Returns
// 0, or -1 with "resampler init failed".
int resampler_setup(Resampler &r, const AVChannelLayout *layout, int format, int rate);
// Whether input of this layout and format can go through the current set-up.
bool resampler_fits(const Resampler &r, const AVChannelLayout *layout, int format);
// Converts `frames` input frames (planes as the sample format has them) into
// the pending output, which must have been handed out. The conversion is
// never flushed, so the output of every piece is taken whole: what the
// resampler kept back is only its filter's tail at the very end. Returns 0,
// or -1 with "oom (audio buffer)" / "resample failed".
int resampler_convert(Resampler &r, const uint8_t **in, int frames);

// Gives the resampler its next piece of input: returns 1 after a
// resampler_convert, 0 when the input has nothing left, -1 on failure.
using ResamplerRefill = int (*)(void *self);
// Hands out up to max frames into dst (2 * max floats), refilling as needed.
// Returns how many (less than max only at the end), 0 once everything is
// handed out, or -1: the refill's failure, or, when the input ends with fewer
// than MIN_DECODED_FRAMES frames in all, "audio too short (%lld samples)".
int64_t resampler_read(Resampler &r, float *dst, int64_t max, ResamplerRefill refill, void *self);

// Releases everything; the struct may be set up again.
void resampler_free(Resampler &r);
