// The streaming decoder: any input the media library can read, handed out
// piece by piece as interleaved stereo floats at 44100 Hz.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

#include "audio/audio.h"
#include "audio/resampler.h"
#include "engine/stage_timing.h"
#include "frame/frame.h"

struct Decoder {
  AVFormatContext *fmt = nullptr;
  int stream = -1;
  AVCodecContext *dec = nullptr;
  // Rebuilt for a frame whose layout or format differs from the last one,
  // since reading it with the old set-up would read planes or bytes the
  // frame does not have.
  Resampler conv;
  AVFrame *frame = nullptr;
  AVPacket *pkt = nullptr;
  bool flushed = false;  // the decoder has been told that the input ended
  // What the progress estimate divides by: the stated duration in output
  // frames, else the input's size in bytes; 0 when unknown.
  int64_t expected_frames = 0;
  int64_t size_bytes = 0;
};

namespace {

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
  const int rate = d.dec->sample_rate < 1 ? SAMPLE_RATE : d.dec->sample_rate;
  if (resampler_setup(d.conv, &d.dec->ch_layout, d.dec->sample_fmt, rate) < 0) return -1;
  d.frame = av_frame_alloc();
  d.pkt = av_packet_alloc();
  if (!d.frame || !d.pkt) {
    set_err("oom");
    return -1;
  }
  // A duration so long that its frames overflow counts as none.
  double expected = stated_duration_s(d.fmt, d.fmt->streams[d.stream]) * SAMPLE_RATE;
  if (expected >= 1.0 && expected < 9e18) d.expected_frames = std::llround(expected);
  if (d.fmt->pb) d.size_bytes = std::max<int64_t>(avio_size(d.fmt->pb), 0);
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

// The resampler's refill: decodes the next frame and converts it.
int refill(void *self) {
  Decoder &d = *static_cast<Decoder *>(self);
  if (next_frame(d) == 0) return 0;
  AVFrame *f = d.frame;
  if (!resampler_fits(d.conv, &f->ch_layout, f->format) &&
      resampler_setup(d.conv, &f->ch_layout, f->format, d.conv.rate) < 0)
    return -1;
  if (resampler_convert(d.conv, const_cast<const uint8_t **>(f->extended_data), f->nb_samples) < 0)
    return -1;
  return 1;
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
  int64_t done = resampler_read(d->conv, dst, max, refill, d);
  OM_STAGE_STOP(STAGE_DECODE, t_decode);
  return done;
}

double decoder_progress(const Decoder *d) {
  if (!d) return 0.0;
  if (d->expected_frames > 0)
    return progress_fraction((double)d->conv.total, (double)d->expected_frames);
  if (d->size_bytes > 0)
    return progress_fraction((double)avio_tell(d->fmt->pb), (double)d->size_bytes);
  return 0.0;
}

void decoder_close(Decoder *d) {
  if (!d) return;
  av_frame_free(&d->frame);
  av_packet_free(&d->pkt);
  resampler_free(d->conv);
  avcodec_free_context(&d->dec);
  avformat_close_input(&d->fmt);
  delete d;
}
