// The conversion of any input to interleaved stereo float at 44100 Hz, and
// the handing out of its output piece by piece.
extern "C" {
#include <libswresample/swresample.h>
}
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/audio.h"
#include "audio/resampler.h"
#include "frame/frame.h"

// Room for the output of one piece beyond its exact rate ratio.
static constexpr int64_t OUT_SLACK = 8;

namespace {

// Whether the resampler can mix these channels down on its own: a known
// order, or an unknown one whose count has a default layout.
bool has_known_layout(const AVChannelLayout *layout) {
  if (layout->order != AV_CHANNEL_ORDER_UNSPEC) return true;
  AVChannelLayout guess{};
  av_channel_layout_default(&guess, layout->nb_channels);
  bool known = guess.order != AV_CHANNEL_ORDER_UNSPEC;
  av_channel_layout_uninit(&guess);
  return known;
}

// Even channels to the left, odd ones to the right, each side their mean.
int set_pairwise_matrix(SwrContext *swr, int channels) {
  std::vector<double> matrix(2 * (size_t)channels, 0.0);
  const int left = (channels + 1) / 2, right = channels / 2;
  for (int c = 0; c < channels; c++) {
    if (c % 2 == 0)
      matrix[(size_t)c] = 1.0 / left;
    else
      matrix[(size_t)channels + (size_t)c] = 1.0 / right;
  }
  return swr_set_matrix(swr, matrix.data(), channels);
}

// Makes room for `needed` stereo frames of converted output. Only one piece's
// output is held at a time, so this grows with the longest piece, not with
// the input.
int grow_pending(Resampler &r, int64_t needed) {
  if (needed <= r.capacity) return 0;
  int64_t capacity = std::max<int64_t>(needed, 2 * r.capacity);
  void *grown = std::realloc(r.pending, (size_t)capacity * 2 * sizeof(float));
  if (!grown) {
    set_err("oom (audio buffer)");
    return -1;
  }
  r.pending = static_cast<float *>(grown);
  r.capacity = capacity;
  return 0;
}

}  // namespace

int resampler_setup(Resampler &r, const AVChannelLayout *layout, int format, int rate) {
  swr_free(&r.swr);
  av_channel_layout_uninit(&r.layout);
  r.format = AV_SAMPLE_FMT_NONE;
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  // This version of the library takes the layouts by non-const pointer but
  // only reads them.
  int rc = swr_alloc_set_opts2(&r.swr, &stereo, AV_SAMPLE_FMT_FLT, SAMPLE_RATE,
                               const_cast<AVChannelLayout *>(layout), (AVSampleFormat)format, rate,
                               0, nullptr);
  if (rc >= 0 && !r.swr) rc = -1;
  if (rc >= 0 && !has_known_layout(layout)) rc = set_pairwise_matrix(r.swr, layout->nb_channels);
  if (rc >= 0) rc = swr_init(r.swr);
  if (rc >= 0) rc = av_channel_layout_copy(&r.layout, layout);
  if (rc < 0) {
    set_err("resampler init failed");
    return -1;
  }
  r.format = format;
  r.rate = rate;
  return 0;
}

bool resampler_fits(const Resampler &r, const AVChannelLayout *layout, int format) {
  return format == r.format && av_channel_layout_compare(layout, &r.layout) == 0;
}

int resampler_convert(Resampler &r, const uint8_t **in, int frames) {
  int64_t out_count = (int64_t)frames * SAMPLE_RATE / r.rate + OUT_SLACK;
  if (out_count > INT_MAX) out_count = INT_MAX;
  if (grow_pending(r, out_count) < 0) return -1;
  uint8_t *out = reinterpret_cast<uint8_t *>(r.pending);
  int got = swr_convert(r.swr, &out, (int)out_count, in, frames);
  if (got < 0) {
    set_err("resample failed");
    return -1;
  }
  r.count = got;
  r.taken = 0;
  return 0;
}

int64_t resampler_read(Resampler &r, float *dst, int64_t max, ResamplerRefill refill, void *self) {
  int64_t done = 0;
  while (done < max && !r.ended) {
    if (r.taken < r.count) {
      int64_t n = std::min(max - done, r.count - r.taken);
      std::memcpy(dst + 2 * done, r.pending + 2 * r.taken, (size_t)n * 2 * sizeof(float));
      r.taken += n;
      r.total += n;
      done += n;
      continue;
    }
    int more = refill(self);
    if (more < 0) return -1;
    if (more == 0) {
      r.ended = true;
      if (r.total < MIN_DECODED_FRAMES) {
        set_err("audio too short (%lld samples)", (long long)r.total);
        return -1;
      }
    }
  }
  return done;
}

void resampler_free(Resampler &r) {
  std::free(r.pending);
  r.pending = nullptr;
  r.capacity = r.count = r.taken = 0;
  swr_free(&r.swr);
  av_channel_layout_uninit(&r.layout);
  r.format = AV_SAMPLE_FMT_NONE;
}
