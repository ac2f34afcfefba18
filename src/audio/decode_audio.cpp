// decode_audio: any input the media library can read, as one block of
// interleaved stereo floats at 44100 Hz.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "audio/audio.h"
#include "frame/frame.h"

namespace {

// The first block holds about 95 s; longer signals double it as they grow.
constexpr int64_t FIRST_CAPACITY = 4194304;
// Room for the output of one decoded frame beyond its exact rate ratio.
constexpr int64_t OUT_SLACK = 8;

struct Decoding {
  AVFormatContext *fmt = nullptr;
  int stream = -1;
  AVCodecContext *dec = nullptr;
  int in_rate = DECODE_RATE;
  SwrContext *swr = nullptr;
  // What the resampler was built for; a frame that differs is converted by
  // a resampler rebuilt for it, since reading it with the old set-up would
  // read planes or bytes the frame does not have.
  AVChannelLayout swr_layout{};
  int swr_format = AV_SAMPLE_FMT_NONE;
  AVFrame *frame = nullptr;
  AVPacket *pkt = nullptr;
  float *block = nullptr;
  int64_t capacity = 0;  // stereo frames
  int64_t count = 0;     // stereo frames
};

void release(Decoding &d) {
  std::free(d.block);
  d.block = nullptr;
  av_frame_free(&d.frame);
  av_packet_free(&d.pkt);
  swr_free(&d.swr);
  av_channel_layout_uninit(&d.swr_layout);
  avcodec_free_context(&d.dec);
  avformat_close_input(&d.fmt);
}

int build_resampler(Decoding &d, AVChannelLayout *in_layout, int in_format) {
  swr_free(&d.swr);
  av_channel_layout_uninit(&d.swr_layout);
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  if (swr_alloc_set_opts2(&d.swr, &stereo, AV_SAMPLE_FMT_FLT, DECODE_RATE, in_layout,
                          (AVSampleFormat)in_format, d.in_rate, 0, nullptr) < 0 ||
      !d.swr || swr_init(d.swr) < 0 || av_channel_layout_copy(&d.swr_layout, in_layout) < 0) {
    set_err("resampler init failed");
    return -1;
  }
  d.swr_format = in_format;
  return 0;
}

int open_decoding(Decoding &d, const char *path) {
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
  d.in_rate = d.dec->sample_rate < 1 ? DECODE_RATE : d.dec->sample_rate;
  if (build_resampler(d, &d.dec->ch_layout, d.dec->sample_fmt) < 0) return -1;
  d.frame = av_frame_alloc();
  d.pkt = av_packet_alloc();
  if (!d.frame || !d.pkt) {
    set_err("oom");
    return -1;
  }
  return 0;
}

// Makes room for `needed` stereo frames; the old block stays owned on failure.
int grow_block(Decoding &d, int64_t needed) {
  if (needed <= d.capacity) return 0;
  int64_t capacity = d.capacity == 0 ? FIRST_CAPACITY : d.capacity;
  while (capacity < needed) capacity *= 2;
  void *grown = std::realloc(d.block, (size_t)capacity * 2 * sizeof(float));
  if (!grown) {
    set_err("oom (audio buffer)");
    return -1;
  }
  d.block = static_cast<float *>(grown);
  d.capacity = capacity;
  return 0;
}

// Converts the decoded frame straight into its place in the block.
int convert_frame(Decoding &d) {
  AVFrame *f = d.frame;
  if (f->format != d.swr_format || av_channel_layout_compare(&f->ch_layout, &d.swr_layout) != 0) {
    if (build_resampler(d, &f->ch_layout, f->format) < 0) return -1;
  }
  int64_t out_count = (int64_t)f->nb_samples * DECODE_RATE / d.in_rate + OUT_SLACK;
  // The count is handed back as an int: let the conversion write at most
  // one frame past that limit, so that passing it is seen without the block
  // ever growing beyond 2^31 frames.
  if (out_count > (int64_t)INT_MAX - d.count + 1) out_count = (int64_t)INT_MAX - d.count + 1;
  if (out_count > INT_MAX) out_count = INT_MAX;
  if (grow_block(d, d.count + out_count) < 0) return -1;
  uint8_t *out = reinterpret_cast<uint8_t *>(d.block + d.count * 2);
  int got = swr_convert(d.swr, &out, (int)out_count, const_cast<const uint8_t **>(f->extended_data),
                        f->nb_samples);
  if (got < 0) {
    set_err("resample failed");
    return -1;
  }
  d.count += got;
  if (d.count > INT_MAX) {
    set_err("audio too long (%lld samples)", (long long)d.count);
    return -1;
  }
  return 0;
}

// Converts every frame the decoder has ready.
int drain_decoder(Decoding &d) {
  while (avcodec_receive_frame(d.dec, d.frame) == 0)
    if (convert_frame(d) < 0) return -1;
  return 0;
}

int decode_all(Decoding &d) {
  // A read error ends the input just as the end of the file does.
  while (av_read_frame(d.fmt, d.pkt) >= 0) {
    if (d.pkt->stream_index != d.stream) {
      av_packet_unref(d.pkt);
      continue;
    }
    // A packet the decoder rejects is lost; decoding goes on with the next.
    avcodec_send_packet(d.dec, d.pkt);
    av_packet_unref(d.pkt);
    if (drain_decoder(d) < 0) return -1;
  }
  avcodec_send_packet(d.dec, nullptr);
  return drain_decoder(d);
}

}  // namespace

int decode_audio(const char *path, float **samples, int *frames) {
  Decoding d;
  if (open_decoding(d, path) < 0 || decode_all(d) < 0) {
    release(d);
    return -1;
  }
  if (d.count < MIN_DECODED_FRAMES) {
    set_err("audio too short (%lld samples)", (long long)d.count);
    release(d);
    return -1;
  }
  *samples = d.block;
  *frames = (int)d.count;
  d.block = nullptr;
  release(d);
  return 0;
}
