// What a session owns: its models, its work buffers, its message and its
// result text, and the flag that cancels its running separation.
#pragma once

#include <atomic>

#include "engine/engine.h"
#include "frame/frame.h"
#include "ombrelt_session.h"
#include "runtime/runtime.h"

struct ombrelt_session {
  OrtSession *sessions[N_STEMS] = {};
  ModelSet models{sessions, 1};
  bool has_models = false;      // holds a runtime share and the four sessions
  EngineBuffers *buffers = nullptr;
  char err[ERR_SIZE] = "";
  char *json = nullptr;         // the last result text, from write_json
  std::atomic<bool> cancel{false};
};

// Every call on a session starts with one of these: from then on the call's
// messages go to the session, and the previous message is gone.
struct SessionCall {
  explicit SessionCall(ombrelt_session *session) : target(session->err) { clear_err(); }
  ErrorTarget target;
};

// Makes doc (freed here) the session's result text and points *json_out at
// it. Returns OMBRELT_SESSION_OK, or OMBRELT_SESSION_ERROR with "json build
// failed".
int keep_result(ombrelt_session *session, yyjson_mut_doc *doc, const char **json_out);
