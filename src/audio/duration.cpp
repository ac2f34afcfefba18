// The duration an input states, for probing and for the decoder's progress.
extern "C" {
#include <libavformat/avformat.h>
}

#include "audio/audio.h"

double stated_duration_s(const AVFormatContext *fmt, const AVStream *st) {
  if (fmt->duration >= 1) return (double)fmt->duration / 1000000.0;
  if (st->duration == AV_NOPTS_VALUE || st->time_base.den == 0) return 0.0;
  return (double)st->duration * st->time_base.num / st->time_base.den;
}
