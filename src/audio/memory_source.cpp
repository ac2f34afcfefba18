// Samples in the caller's memory as an input: read a piece at a time and
// converted by the decoder's own resampler, so that they come out as the
// same samples in a float WAV file would.
extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

#include "audio/audio.h"
#include "audio/resampler.h"
#include "engine/stage_timing.h"
#include "frame/frame.h"

namespace {

constexpr int MIN_CHANNELS = 1, MAX_CHANNELS = 64;
constexpr int MIN_RATE = 1000, MAX_RATE = 768000;
// Input frames converted at a time: what a decoder hands over in a frame.
constexpr int64_t PIECE_FRAMES = 4096;

}  // namespace

struct MemorySource {
  const float *samples = nullptr;
  int64_t frames = 0;
  int channels = 0;
  int64_t next = 0;          // the first input frame not yet converted
  double converted_len = 0;  // the input's length in output frames
  Resampler conv;
};

namespace {

int refill(void *self) {
  MemorySource &m = *static_cast<MemorySource *>(self);
  if (m.next >= m.frames) return 0;
  const int n = (int)std::min(PIECE_FRAMES, m.frames - m.next);
  const uint8_t *piece = reinterpret_cast<const uint8_t *>(m.samples + m.next * m.channels);
  if (resampler_convert(m.conv, &piece, n) < 0) return -1;
  m.next += n;
  return 1;
}

int check_input(const float *samples, int64_t frames, int channels, int sample_rate) {
  if (!samples) {
    set_err("samples is null");
    return -1;
  }
  if (channels < MIN_CHANNELS || channels > MAX_CHANNELS) {
    set_err("channels must be %d to %d", MIN_CHANNELS, MAX_CHANNELS);
    return -1;
  }
  if (sample_rate < MIN_RATE || sample_rate > MAX_RATE) {
    set_err("sample_rate must be %d to %d Hz", MIN_RATE, MAX_RATE);
    return -1;
  }
  if (frames < 0) {
    set_err("frames is negative");
    return -1;
  }
  // Every sample must be addressable: frames * channels floats in bytes.
  if ((uint64_t)frames > SIZE_MAX / sizeof(float) / (size_t)channels) {
    set_err("frames * channels is too large");
    return -1;
  }
  return 0;
}

}  // namespace

MemorySource *memory_source_open(const float *samples, int64_t frames, int channels,
                                 int sample_rate) {
  if (check_input(samples, frames, channels, sample_rate) < 0) return nullptr;
  MemorySource *m = new (std::nothrow) MemorySource;
  if (!m) {
    set_err("oom");
    return nullptr;
  }
  m->samples = samples;
  m->frames = frames;
  m->channels = channels;
  m->converted_len = (double)frames * SAMPLE_RATE / sample_rate;
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channels);
  int rc = resampler_setup(m->conv, &layout, AV_SAMPLE_FMT_FLT, sample_rate);
  av_channel_layout_uninit(&layout);
  if (rc < 0) {
    memory_source_close(m);
    return nullptr;
  }
  return m;
}

int64_t memory_source_read(MemorySource *m, float *dst, int64_t max) {
  OM_STAGE_START(t_decode);
  int64_t done = resampler_read(m->conv, dst, max, refill, m);
  OM_STAGE_STOP(STAGE_DECODE, t_decode);
  return done;
}

double memory_source_progress(const MemorySource *m) {
  if (!m || m->converted_len <= 0) return 0.0;
  return progress_fraction((double)m->conv.total, m->converted_len);
}

void memory_source_close(MemorySource *m) {
  if (!m) return;
  resampler_free(m->conv);
  delete m;
}
