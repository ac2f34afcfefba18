// The streaming decoder: any input the media library can read, handed out
// piece by piece as interleaved stereo floats at 44100 Hz.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "audio/audio.h"
#include "engine/stage_timing.h"
#include "frame/frame.h"

// Room for the output of one decoded frame beyond its exact rate ratio.
static constexpr int64_t OUT_SLACK = 8;

struct Decoder {
  AVFormatContext *fmt = nullptr;
  int stream = -1;
  AVCodecContext *dec = nullptr;
  int in_rate = SAMPLE_RATE;
  SwrContext *swr = nullptr;
  // What the resampler was built for; a frame that differs is converted by
  // a resampler rebuilt for it, since reading it with the old set-up would
  // read planes or bytes the frame does not have.
  AVChannelLayout swr_layout{};
  int swr_format = AV_SAMPLE_FMT_NONE;
  AVFrame *frame = nullptr;
  AVPacket *pkt = nullptr;
  // The converted output of the last decoded frame, handed out from `taken`.
  float *pending = nullptr;
  int64_t capacity = 0;  // stereo frames
  int64_t count = 0;
  int64_t taken = 0;
  bool flushed = false;  // the decoder has been told that the input ended
  bool ended = false;    // every frame has been handed out
  int64_t total = 0;     // stereo frames handed out so far
};

namespace {

int build_resampler(Decoder &d, AVChannelLayout *in_layout, int in_format) {
  swr_free(&d.swr);
  av_channel_layout_uninit(&d.swr_layout);
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  if (swr_alloc_set_opts2(&d.swr, &stereo, AV_SAMPLE_FMT_FLT, SAMPLE_RATE, in_layout,
                          (AVSampleFormat)in_format, d.in_rate, 0, nullptr) < 0 ||
      !d.swr || swr_init(d.swr) < 0 || av_channel_layout_copy(&d.swr_layout, in_layout) < 0) {
    set_err("resampler init failed");
    return -1;
  }
  d.swr_format = in_format;
  return 0;
}

int open_decoding(Decoder &d, const char *path) {
  if (avformat_open_input(&d.fmt, path, nullptr, nullptr) < 0) {
    set_err("cannot open %s", path);
    return -1;
  }
  if (avformat_find_stream_info(d.fmt, nullptr) < 0) {
    set_err("no stream info for %s", path);
    return -1;
  }
  d.stream = av_find_best_stream(d.fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (d.stream < 0) {
    set_err("no audio stream in %s", path);
    return -1;
  }
  const AVCodecParameters *par = d.fmt->streams[d.stream]->codecpar;
  const AVCodec *codec = avcodec_find_decoder(par->codec_id);
  if (!codec) {
    set_err("no decoder for codec id %d", (int)par->codec_id);
    return -1;
  }
  d.dec = avcodec_alloc_context3(codec);
  if (!d.dec) {
    set_err("oom");
    return -1;
  }
  avcodec_parameters_to_context(d.dec, par);
  if (avcodec_open2(d.dec, codec, nullptr) < 0) {
    set_err("decoder open failed");
    return -1;
  }
  d.in_rate = d.dec->sample_rate < 1 ? SAMPLE_RATE : d.dec->sample_rate;
  if (build_resampler(d, &d.dec->ch_layout, d.dec->sample_fmt) < 0) return -1;
  d.frame = av_frame_alloc();
  d.pkt = av_packet_alloc();
  if (!d.frame || !d.pkt) {
    set_err("oom");
    return -1;
  }
  return 0;
}

// Makes room for `needed` stereo frames of converted output. Only one decoded
// frame's output is held at a time, so this grows with the longest frame,
// not with the input.
int grow_pending(Decoder &d, int64_t needed) {
  if (needed <= d.capacity) return 0;
  int64_t capacity = std::max<int64_t>(needed, 2 * d.capacity);
  void *grown = std::realloc(d.pending, (size_t)capacity * 2 * sizeof(float));
  if (!grown) {
    set_err("oom (audio buffer)");
    return -1;
  }
  d.pending = static_cast<float *>(grown);
  d.capacity = capacity;
  return 0;
}

// Converts the decoded frame into the pending buffer, whole: output that the
// resampler kept back would be lost at the end, since it is never flushed.
int convert_frame(Decoder &d) {
  AVFrame *f = d.frame;
  if (f->format != d.swr_format || av_channel_layout_compare(&f->ch_layout, &d.swr_layout) != 0) {
    if (build_resampler(d, &f->ch_layout, f->format) < 0) return -1;
  }
  int64_t out_count = (int64_t)f->nb_samples * SAMPLE_RATE / d.in_rate + OUT_SLACK;
  if (out_count > INT_MAX) out_count = INT_MAX;
  if (grow_pending(d, out_count) < 0) return -1;
  uint8_t *out = reinterpret_cast<uint8_t *>(d.pending);
  int got = swr_convert(d.swr, &out, (int)out_count, const_cast<const uint8_t **>(f->extended_data),
                        f->nb_samples);
  if (got < 0) {
    set_err("resample failed");
    return -1;
  }
  d.count = got;
  d.taken = 0;
  return 0;
}

// Decodes the next frame into d.frame. Returns 1, 0 when the input has no
// frame left, -1 never (the media library's own failures end or skip).
int next_frame(Decoder &d) {
  for (;;) {
    if (avcodec_receive_frame(d.dec, d.frame) == 0) return 1;
    if (d.flushed) return 0;
    // A read error ends the input just as the end of the file does.
    for (;;) {
      if (av_read_frame(d.fmt, d.pkt) < 0) {
        avcodec_send_packet(d.dec, nullptr);
        d.flushed = true;
        break;
      }
      if (d.pkt->stream_index != d.stream) {
        av_packet_unref(d.pkt);
        continue;
      }
      // A packet the decoder rejects is lost; decoding goes on with the next.
      avcodec_send_packet(d.dec, d.pkt);
      av_packet_unref(d.pkt);
      break;
    }
  }
}

}  // namespace

Decoder *decoder_open(const char *path) {
  Decoder *d = new (std::nothrow) Decoder;
  if (!d) {
    set_err("oom");
    return nullptr;
  }
  if (open_decoding(*d, path) < 0) {
    decoder_close(d);
    return nullptr;
  }
  return d;
}

int64_t decoder_read(Decoder *d, float *dst, int64_t max) {
  OM_STAGE_START(t_decode);
  int64_t done = 0;
  while (done < max && !d->ended) {
    if (d->taken < d->count) {
      int64_t n = std::min(max - done, d->count - d->taken);
      std::memcpy(dst + 2 * done, d->pending + 2 * d->taken, (size_t)n * 2 * sizeof(float));
      d->taken += n;
      d->total += n;
      done += n;
      continue;
    }
    if (next_frame(*d) == 0) {
      d->ended = true;
      if (d->total < MIN_DECODED_FRAMES) {
        set_err("audio too short (%lld samples)", (long long)d->total);
        return -1;
      }
      break;
    }
    if (convert_frame(*d) < 0) return -1;
  }
  OM_STAGE_STOP(STAGE_DECODE, t_decode);
  return done;
}

void decoder_close(Decoder *d) {
  if (!d) return;
  std::free(d->pending);
  av_frame_free(&d->frame);
  av_packet_free(&d->pkt);
  swr_free(&d->swr);
  av_channel_layout_uninit(&d->swr_layout);
  avcodec_free_context(&d->dec);
  avformat_close_input(&d->fmt);
  delete d;
}
