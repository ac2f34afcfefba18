// FFmpeg's own log lines (damaged frames, guessed durations): the library's
// messages already say what matters, so they are shown only on request.
#include "cli.h"

void set_media_log(bool verbose) {
  ombrelt_session_set_log_level(verbose ? OMBRELT_LOG_WARNINGS : OMBRELT_LOG_QUIET);
}
