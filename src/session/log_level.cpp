// The media library's log level, for hosts that show their own messages.
extern "C" {
#include <libavutil/log.h>
}
#include <algorithm>

#include "ombrelt_session.h"

extern "C" void ombrelt_session_set_log_level(int level) {
  static constexpr int FFMPEG_LEVELS[] = {AV_LOG_QUIET, AV_LOG_ERROR, AV_LOG_WARNING, AV_LOG_INFO};
  av_log_set_level(FFMPEG_LEVELS[std::clamp(level, OMBRELT_LOG_QUIET, OMBRELT_LOG_INFO)]);
}
