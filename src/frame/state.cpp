// Process-wide state of the library and the setter of the error message.
#include <cstdarg>
#include <cstdio>

#include "frame/frame.h"

int g_ready = 0;
char g_err[ERR_SIZE] = "";
char g_json_sink[JSON_SINK_SIZE] = "";

namespace {

// Constant-initialised: no thread pays for it until a session sets it.
constinit thread_local char *t_err_target = nullptr;

char *err_buffer() { return t_err_target ? t_err_target : g_err; }

}  // namespace

void set_err(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(err_buffer(), ERR_SIZE, fmt, args);
  va_end(args);
}

void clear_err() { err_buffer()[0] = '\0'; }

ErrorTarget::ErrorTarget(char *buffer) : previous_(t_err_target) { t_err_target = buffer; }

ErrorTarget::~ErrorTarget() { t_err_target = previous_; }
