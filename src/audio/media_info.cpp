// What an audio file holds, read from its container without decoding it.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include <cstdint>

#include <yyjson.h>

#include "frame/frame.h"
#include "audio/audio.h"

int probe_document(const char *path, yyjson_mut_doc **out) {
  *out = nullptr;
  if (!path || !*path) {
    set_err("empty input path");
    return -1;
  }
  AVFormatContext *fmt = nullptr;
  if (avformat_open_input(&fmt, path, nullptr, nullptr) < 0) {
    set_err("cannot open %s", path);
    return -1;
  }
  if (avformat_find_stream_info(fmt, nullptr) < 0) {
    set_err("no stream info for %s", path);
    avformat_close_input(&fmt);
    return -1;
  }
  int index = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) {
    set_err("no audio stream in %s", path);
    avformat_close_input(&fmt);
    return -1;
  }
  const AVStream *st = fmt->streams[index];
  const AVCodecParameters *par = st->codecpar;

  yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
  yyjson_mut_val *root = yyjson_mut_obj(doc);
  yyjson_mut_doc_set_root(doc, root);
  yyjson_mut_obj_add_real(doc, root, "duration_s", stated_duration_s(fmt, st));
  yyjson_mut_obj_add_int(doc, root, "sample_rate", par->sample_rate);
  int channels = par->ch_layout.nb_channels < 1 ? 2 : par->ch_layout.nb_channels;
  yyjson_mut_obj_add_int(doc, root, "channels", channels);
  if (const char *codec = avcodec_get_name(par->codec_id))
    yyjson_mut_obj_add_strcpy(doc, root, "codec", codec);
  // A positive 64-bit rate keeps its low 32 bits, as a signed value.
  int32_t bitrate = fmt->bit_rate > 0 ? (int32_t)(uint32_t)(uint64_t)fmt->bit_rate : 0;
  yyjson_mut_obj_add_int(doc, root, "bitrate", bitrate);
  avformat_close_input(&fmt);
  *out = doc;
  return 0;
}
