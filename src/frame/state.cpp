// Process-wide state of the library and the setter of the error message.
#include <cstdarg>
#include <cstdio>

#include "frame/frame.h"

int g_ready = 0;
char g_err[ERR_SIZE] = "";
char g_json_sink[JSON_SINK_SIZE] = "";

void set_err(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(g_err, sizeof g_err, fmt, args);
  va_end(args);
}
