// The stem writer: 16-bit stereo 44100 Hz WAV through the media library's
// pcm_s16le encoder and wav muxer.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
}
#include <cmath>
#include <cstdint>

#include "audio/audio.h"
#include "frame/frame.h"

namespace {

constexpr AVRational ENCODER_TIME_BASE = {1, SAMPLE_RATE};

// Frames the encoder has accepted on this writer so far.
int64_t frames_accepted(const AVCodecContext *enc) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 0, 0)
  return enc->frame_num;
#else
  return enc->frame_number;
#endif
}

// Full scale is symmetric, so -32768 never appears; a NaN carries no level
// and becomes silence.
int16_t to_s16(float x) {
  if (std::isnan(x)) return 0;
  float c = x > 1.0f ? 1.0f : std::fmax(-1.0f, x);
  return (int16_t)lrintf(c * 32767.0f);
}

void open_failed(WavOut *w) {
  if (w->fmt && w->fmt->pb) avio_closep(&w->fmt->pb);
  avcodec_free_context(&w->enc);
  avformat_free_context(w->fmt);
  *w = {};
}

// Hands every packet the encoder has ready to the muxer; stops at the first
// packet the muxer refuses.
int write_packets(WavOut *w, AVPacket *pkt) {
  while (avcodec_receive_packet(w->enc, pkt) == 0) {
    av_packet_rescale_ts(pkt, w->enc->time_base, w->st->time_base);
    pkt->stream_index = 0;
    if (av_interleaved_write_frame(w->fmt, pkt) < 0) {
      av_packet_unref(pkt);
      return -1;
    }
    av_packet_unref(pkt);
  }
  return 0;
}

// Output paths name local files. Handed over bare, a directory called
// "pipe:" or "tcp:" would make the media library write the stem to one of
// the host's descriptors or to a socket.
int open_file(WavOut *w, const char *path) {
  char *url = av_asprintf("file:%s", path);
  if (!url) return -1;
  int rc = avio_open(&w->fmt->pb, url, AVIO_FLAG_WRITE);
  av_free(url);
  return rc;
}

// Flushes the encoder, completes the file and releases the writer. Returns
// -1 when anything failed to reach the file: the muxer holds the end of the
// data and the header sizes in its buffer until the trailer and the close.
int complete(WavOut *w) {
  int rc = 0;
  avcodec_send_frame(w->enc, nullptr);
  if (AVPacket *pkt = av_packet_alloc()) {
    // A packet the muxer refuses does not stop the draining.
    while (write_packets(w, pkt) < 0) rc = -1;
    av_packet_free(&pkt);
  }
  if (av_write_trailer(w->fmt) < 0) rc = -1;
  if (w->fmt->pb && avio_closep(&w->fmt->pb) < 0) rc = -1;
  avcodec_free_context(&w->enc);
  avformat_free_context(w->fmt);
  *w = {};
  return rc;
}

}  // namespace

int wav_open(WavOut *w, const char *path, const char *shown_as) {
  *w = {};
  const char *shown = shown_as ? shown_as : path;
  const AVOutputFormat *ofmt = av_guess_format("wav", path, nullptr);
  if (!ofmt) {
    set_err("wav muxer not available");
    return -1;
  }
  if (avformat_alloc_output_context2(&w->fmt, ofmt, "wav", path) < 0 || !w->fmt) {
    w->fmt = nullptr;
    set_err("cannot create wav context for %s", shown);
    return -1;
  }
  w->st = avformat_new_stream(w->fmt, nullptr);
  const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
  if (!w->st || !codec) {
    set_err("pcm_s16le encoder not available");
    open_failed(w);
    return -1;
  }
  w->enc = avcodec_alloc_context3(codec);
  if (!w->enc) {
    set_err("oom");
    open_failed(w);
    return -1;
  }
  const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  w->enc->codec_id = AV_CODEC_ID_PCM_S16LE;
  w->enc->sample_rate = SAMPLE_RATE;
  w->enc->sample_fmt = AV_SAMPLE_FMT_S16;
  av_channel_layout_copy(&w->enc->ch_layout, &stereo);
  w->enc->time_base = ENCODER_TIME_BASE;
  if (avcodec_open2(w->enc, codec, nullptr) < 0) {
    set_err("pcm encoder open failed");
    open_failed(w);
    return -1;
  }
  avcodec_parameters_from_context(w->st->codecpar, w->enc);
  w->st->time_base = w->enc->time_base;
  if (!(ofmt->flags & AVFMT_NOFILE) && open_file(w, path) < 0) {
    set_err("cannot open %s for writing", shown);
    open_failed(w);
    return -1;
  }
  if (avformat_write_header(w->fmt, nullptr) < 0) {
    set_err("wav header write failed for %s", shown);
    open_failed(w);
    return -1;
  }
  return 0;
}

int wav_write(WavOut *w, const float *interleaved, int frames) {
  AVFrame *frame = av_frame_alloc();
  AVPacket *pkt = av_packet_alloc();
  int rc = -1;
  if (!frame || !pkt) {
    set_err("oom");
    av_frame_free(&frame);
    av_packet_free(&pkt);
    return -1;
  }
  const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  frame->nb_samples = frames;
  frame->format = AV_SAMPLE_FMT_S16;
  av_channel_layout_copy(&frame->ch_layout, &stereo);
  if (av_frame_get_buffer(frame, 0) < 0) {
    set_err("oom (frame)");
  } else {
    int16_t *out = reinterpret_cast<int16_t *>(frame->data[0]);
    for (int i = 0; i < frames * 2; i++) out[i] = to_s16(interleaved[i]);
    // The stamp counts blocks, not samples; the wav muxer lays the data out
    // in arrival order whatever the stamps say.
    frame->pts = frames_accepted(w->enc);
    if (avcodec_send_frame(w->enc, frame) < 0)
      set_err("pcm encode failed");
    else if (write_packets(w, pkt) < 0)
      set_err("wav write failed");
    else
      rc = 0;
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  return rc;
}

void wav_close(WavOut *w) {
  if (w->fmt) (void)complete(w);
}

int wav_finish(WavOut *w) {
  if (!w->fmt || complete(w) == 0) return 0;
  set_err("wav write failed");
  return -1;
}
