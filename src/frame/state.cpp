// Process-wide state of the library and the two reporting exports.
#include <cstdarg>
#include <cstdio>

#include "frame/frame.h"
#include "ombrelt.h"

int g_ready = 0;
char g_err[ERR_SIZE] = "";
char g_json_sink[JSON_SINK_SIZE] = "";

void set_err(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(g_err, sizeof g_err, fmt, args);
  va_end(args);
}

extern "C" const char *ombrelt_version(void) { return "1.0.0"; }

extern "C" const char *ombrelt_last_error(void) { return g_err; }
