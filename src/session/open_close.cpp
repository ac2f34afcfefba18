// Opening and closing sessions, their messages, and cancellation.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "ombrelt_version.h"
#include "session/session.h"

static_assert(std::atomic<bool>::is_always_lock_free,
              "ombrelt_session_cancel must be async-signal-safe");

namespace {

constexpr int MAX_THREADS = 64;

void release(ombrelt_session *session) {
  if (session->has_models) {
    release_models(session->sessions);
    runtime_release();
  }
  engine_buffers_free(session->buffers);
  std::free(session->json);
  delete session;
}

int load(ombrelt_session *session, const ombrelt_session_options &options) {
  if (runtime_acquire() != 0) return -1;
  if (load_models(options.model_dir, options.threads, session->sessions) != 0) {
    runtime_release();
    return -1;
  }
  session->has_models = true;
  int intra_threads = 0;
  model_threads_for(options.threads, &session->models.at_once, &intra_threads);
  session->buffers = engine_buffers_new();
  if (!session->buffers) {
    set_err("oom");
    return -1;
  }
  return 0;
}

void copy_error(char *error, size_t error_size, const char *message) {
  if (error && error_size > 0) std::snprintf(error, error_size, "%s", message);
}

}  // namespace

extern "C" const char *ombrelt_session_version(void) { return OMBRELT_VERSION_STRING; }

extern "C" ombrelt_session *ombrelt_session_open(const ombrelt_session_options *options,
                                                 char *error, size_t error_size) {
  copy_error(error, error_size, "");
  const ombrelt_session_options none{};
  const ombrelt_session_options &o = options ? *options : none;
  if (o.threads < 0 || o.threads > MAX_THREADS) {
    copy_error(error, error_size, "threads must be 0 to 64");
    return nullptr;
  }
  ombrelt_session *session = new (std::nothrow) ombrelt_session;
  if (!session) {
    copy_error(error, error_size, "oom");
    return nullptr;
  }
  if (o.model_dir && *o.model_dir) {
    SessionCall call(session);
    if (load(session, o) != 0) {
      copy_error(error, error_size, session->err);
      release(session);
      return nullptr;
    }
  }
  return session;
}

extern "C" void ombrelt_session_close(ombrelt_session *session) {
  if (session) release(session);
}

extern "C" const char *ombrelt_session_last_error(const ombrelt_session *session) {
  return session ? session->err : "session is null";
}

extern "C" void ombrelt_session_cancel(ombrelt_session *session) {
  if (session) session->cancel.store(true, std::memory_order_relaxed);
}

int keep_result(ombrelt_session *session, yyjson_mut_doc *doc, const char **json_out) {
  char *text = write_json(doc);
  if (!text) return OMBRELT_SESSION_ERROR;
  std::free(session->json);
  session->json = text;
  *json_out = text;
  return OMBRELT_SESSION_OK;
}
