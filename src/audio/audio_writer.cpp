// The stem writer: stereo 44100 Hz WAV and FLAC through the media library's
// PCM and FLAC encoders and its wav and flac muxers.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
}
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "audio/audio.h"
#include "frame/frame.h"

namespace {

constexpr AVRational ENCODER_TIME_BASE = {1, SAMPLE_RATE};

// How a format is encoded, and the words its messages use.
struct Encoding {
  AVCodecID codec;
  AVSampleFormat sample_fmt;
  int raw_bits;           // bits_per_raw_sample to declare; 0 leaves the encoder's
  const char *family;     // "<family> encoder open failed", "<family> encode failed"
  const char *container;  // the muxer; "<container> write failed" and the like
};

// In the order of AudioFormat. The 24-bit formats carry their samples in the
// top 24 bits of 32-bit ones, as both encoders take them.
constexpr Encoding ENCODINGS[] = {
    {AV_CODEC_ID_PCM_S16LE, AV_SAMPLE_FMT_S16, 0, "pcm", "wav"},
    {AV_CODEC_ID_PCM_S24LE, AV_SAMPLE_FMT_S32, 24, "pcm", "wav"},
    {AV_CODEC_ID_PCM_F32LE, AV_SAMPLE_FMT_FLT, 0, "pcm", "wav"},
    {AV_CODEC_ID_FLAC, AV_SAMPLE_FMT_S16, 0, "flac", "flac"},
    {AV_CODEC_ID_FLAC, AV_SAMPLE_FMT_S32, 24, "flac", "flac"},
};
static_assert(std::size(ENCODINGS) == N_AUDIO_FORMATS);

const Encoding &encoding_of(AudioFormat format) { return ENCODINGS[(int)format]; }

// The failures after the file is open; report() words them. Helpers return
// these instead of setting the message, so that closing a writer after a
// failure keeps the message of that failure.
enum Status { OK, NO_MEMORY, NO_FRAME_MEMORY, ENCODE_FAILED, WRITE_FAILED };

int report(AudioFormat format, Status status) {
  const Encoding &e = encoding_of(format);
  switch (status) {
    case OK: return 0;
    case NO_MEMORY: set_err("oom"); break;
    case NO_FRAME_MEMORY: set_err("oom (frame)"); break;
    case ENCODE_FAILED: set_err("%s encode failed", e.family); break;
    case WRITE_FAILED: set_err("%s write failed", e.container); break;
  }
  return -1;
}

// Clipped to full scale, which is symmetric: the lowest integer of each
// sample type never appears.
float clip(float x) { return x > 1.0f ? 1.0f : std::fmax(-1.0f, x); }

// A NaN carries no level and becomes silence in every sample type.
int16_t to_s16(float x) {
  if (std::isnan(x)) return 0;
  return (int16_t)lrintf(clip(x) * 32767.0f);
}

// 24 bits, in the top of the 32-bit sample.
int32_t to_s32(float x) {
  if (std::isnan(x)) return 0;
  return (int32_t)lrintf(clip(x) * 8388607.0f) * 256;
}


void convert(AVSampleFormat fmt, const float *in, uint8_t *data, int n) {
  switch (fmt) {
    case AV_SAMPLE_FMT_S16:
      std::transform(in, in + n, reinterpret_cast<int16_t *>(data), to_s16);
      break;
    case AV_SAMPLE_FMT_S32:
      std::transform(in, in + n, reinterpret_cast<int32_t *>(data), to_s32);
      break;
    default:
      std::transform(in, in + n, reinterpret_cast<float *>(data), float_sample);
      break;
  }
}

// A frame for `samples` stereo samples in the encoder's format, or null.
AVFrame *new_frame(const AVCodecContext *enc, int samples, Status *status) {
  AVFrame *frame = av_frame_alloc();
  if (!frame) {
    *status = NO_MEMORY;
    return nullptr;
  }
  frame->nb_samples = samples;
  frame->format = enc->sample_fmt;
  av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
  if (av_frame_get_buffer(frame, 0) < 0) {
    *status = NO_FRAME_MEMORY;
    av_frame_free(&frame);
  }
  return frame;
}

void open_failed(AudioOut *w) {
  if (w->fmt && w->fmt->pb) avio_closep(&w->fmt->pb);
  av_audio_fifo_free(w->pending);
  avcodec_free_context(&w->enc);
  avformat_free_context(w->fmt);
  *w = {};
}

// Hands every packet the encoder has ready to the muxer; stops at the first
// packet the muxer refuses.
int write_packets(AudioOut *w, AVPacket *pkt) {
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

// Encodes frame, stamped with its first sample's place in the file, and
// hands the packets to the muxer.
Status send(AudioOut *w, AVFrame *frame) {
  AVPacket *pkt = av_packet_alloc();
  if (!pkt) return NO_MEMORY;
  frame->pts = w->sent;
  Status status = OK;
  if (avcodec_send_frame(w->enc, frame) < 0) {
    status = ENCODE_FAILED;
  } else {
    w->sent += frame->nb_samples;
    if (write_packets(w, pkt) < 0) status = WRITE_FAILED;
  }
  av_packet_free(&pkt);
  return status;
}

// Sends the buffered samples of a fixed-frame encoder in frames of its size;
// with `all`, the rest too, as the one shorter frame it allows at the end.
Status send_pending(AudioOut *w, bool all) {
  const int size = w->enc->frame_size;
  for (;;) {
    const int n = std::min(av_audio_fifo_size(w->pending), size);
    if (n == 0 || (n < size && !all)) return OK;
    Status status = OK;
    AVFrame *frame = new_frame(w->enc, n, &status);
    if (!frame) return status;
    if (av_audio_fifo_read(w->pending, reinterpret_cast<void **>(frame->data), n) < n)
      status = NO_MEMORY;
    else
      status = send(w, frame);
    av_frame_free(&frame);
    if (status != OK) return status;
  }
}

// Output paths name local files. Handed over bare, a directory called
// "pipe:" or "tcp:" would make the media library write the stem to one of
// the host's descriptors or to a socket.
int open_file(AudioOut *w, const char *path) {
  char *url = av_asprintf("file:%s", path);
  if (!url) return -1;
  int rc = avio_open(&w->fmt->pb, url, AVIO_FLAG_WRITE);
  av_free(url);
  return rc;
}

// Sends what is buffered, flushes the encoder, completes the file and
// releases the writer. Returns -1 when anything failed to reach the file:
// the muxer holds the end of the data and the header in its buffer until the
// trailer and the close.
int complete(AudioOut *w) {
  int rc = 0;
  if (w->pending && send_pending(w, true) != OK) rc = -1;
  avcodec_send_frame(w->enc, nullptr);
  if (AVPacket *pkt = av_packet_alloc()) {
    // A packet the muxer refuses does not stop the draining.
    while (write_packets(w, pkt) < 0) rc = -1;
    av_packet_free(&pkt);
  }
  if (av_write_trailer(w->fmt) < 0) rc = -1;
  if (w->fmt->pb && avio_closep(&w->fmt->pb) < 0) rc = -1;
  av_audio_fifo_free(w->pending);
  avcodec_free_context(&w->enc);
  avformat_free_context(w->fmt);
  *w = {};
  return rc;
}

}  // namespace

int audio_out_open(AudioOut *w, const char *path, AudioFormat format, const char *shown_as) {
  *w = {};
  w->format = format;
  const Encoding &e = encoding_of(format);
  const char *shown = shown_as ? shown_as : path;
  const AVOutputFormat *ofmt = av_guess_format(e.container, path, nullptr);
  if (!ofmt) {
    set_err("%s muxer not available", e.container);
    return -1;
  }
  if (avformat_alloc_output_context2(&w->fmt, ofmt, e.container, path) < 0 || !w->fmt) {
    w->fmt = nullptr;
    set_err("cannot create %s context for %s", e.container, shown);
    return -1;
  }
  w->st = avformat_new_stream(w->fmt, nullptr);
  const AVCodec *codec = avcodec_find_encoder(e.codec);
  if (!w->st || !codec) {
    set_err("%s encoder not available", avcodec_get_name(e.codec));
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
  w->enc->codec_id = e.codec;
  w->enc->sample_rate = SAMPLE_RATE;
  w->enc->sample_fmt = e.sample_fmt;
  if (e.raw_bits) w->enc->bits_per_raw_sample = e.raw_bits;
  av_channel_layout_copy(&w->enc->ch_layout, &stereo);
  w->enc->time_base = ENCODER_TIME_BASE;
  if (avcodec_open2(w->enc, codec, nullptr) < 0) {
    set_err("%s encoder open failed", e.family);
    open_failed(w);
    return -1;
  }
  const bool fixed_frames =
      w->enc->frame_size > 0 && !(codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  if (fixed_frames &&
      !(w->pending = av_audio_fifo_alloc(e.sample_fmt, 2, w->enc->frame_size))) {
    set_err("oom");
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
    set_err("%s header write failed for %s", e.container, shown);
    open_failed(w);
    return -1;
  }
  return 0;
}

int audio_out_write(AudioOut *w, const float *interleaved, int frames) {
  Status status = OK;
  AVFrame *block = new_frame(w->enc, frames, &status);
  if (!block) return report(w->format, status);
  convert(w->enc->sample_fmt, interleaved, block->data[0], 2 * frames);
  if (!w->pending)
    status = send(w, block);
  else if (av_audio_fifo_write(w->pending, reinterpret_cast<void **>(block->data), frames) <
           frames)
    status = NO_MEMORY;
  else
    status = send_pending(w, false);
  av_frame_free(&block);
  return report(w->format, status);
}

void audio_out_close(AudioOut *w) {
  if (w->fmt) (void)complete(w);
}

int audio_out_finish(AudioOut *w) {
  if (!w->fmt) return 0;
  const AudioFormat format = w->format;
  return complete(w) == 0 ? 0 : report(format, WRITE_FAILED);
}
