// The inference runtime: ONNX Runtime handles and the one sequence of calls
// that runs a stem model on a block.
#pragma once

#include <onnxruntime_c_api.h>

#include "constants.h"
#include "frame/frame.h"
#include "stems.h"

// The table version we ask the runtime for. The headers we compile against
// may be older: we only call functions that sit in their prefix of the table.
inline constexpr uint32_t OMBRELT_ORT_API_VERSION = 27;

// The one environment of the process and its memory description, made with
// the first model set and released with the last (runtime_acquire/release).
extern OrtEnv *g_env;
extern OrtMemoryInfo *g_mem;
extern OrtAllocator *g_alloc;
// The models of ombrelt_init, in Stem order.
extern OrtSession *g_sess[N_STEMS];

// The stem models one separation runs: a session per stem, and how many of
// them run at once.
struct ModelSet {
  OrtSession *const *sessions;  // N_STEMS, in Stem order
  int at_once;                  // 1 to MODELS_AT_ONCE
};

// The runtime's function table (API version 27), fetched on first use.
// Null when the runtime cannot serve that version.
const OrtApi *ort_api();

// Reports a failing runtime call as "<context>: <runtime message>" through
// set_err, then releases status. status must be non-null.
void ort_fail(const char *context, OrtStatus *status);

// The failure message of a call that may run beside others (g_err exists
// once): the caller hands it on with set_err when its turn comes.
struct CallError {
  char text[ERR_SIZE];
};

// ort_fail into `error` instead of g_err.
void ort_fail_into(CallError *error, const char *context, OrtStatus *status);

// Context strings of one call site of the stem model call.
struct StemCallContexts {
  const char *create_tensor;
  const char *input_data;
  const char *output_name;
  const char *run;
  const char *output_data;
};
extern const StemCallContexts WARMUP_CONTEXTS;
extern const StemCallContexts ENGINE_CONTEXTS;

// Runs one stem model on one block of MODEL_BLOCK_FLOATS floats. Copies
// output 0 into `out` when it is non-null (the warm-up passes null). Output 0
// must be a float tensor of exactly one block, otherwise the call fails under
// contexts.output_data and nothing is read from it.
// Returns 0, or -1 with the message in g_err; nothing is left allocated.
int run_stem_model(OrtSession *session, const float *in, float *out,
                   const StemCallContexts &contexts);

// run_stem_model with the message written into `error` instead of g_err, so
// that it may run on several threads at once (on different sessions).
int run_stem_model_into(OrtSession *session, const float *in, float *out,
                        const StemCallContexts &contexts, CallError *error);

// The model stage of one chunk: runs the session of stem wanted[i] on `in`
// into outs[i], for i < n_wanted (each output its own block),
// models.at_once of them at a time. On failure the message is that of the
// first failing stem in that order, and -1 is returned; nothing is left
// allocated either way.
int run_stem_models(const ModelSet &models, const int *wanted, int n_wanted, const float *in,
                    float *const *outs);
// The same on the models of ombrelt_init.
int run_stem_models(const int *wanted, int n_wanted, const float *in, float *const *outs);

// Takes a share of the process's runtime: the first share makes the
// environment (with the shared pool), g_mem and g_alloc. Thread-safe.
// Returns 0, or -1 with the message ("onnx runtime does not provide api
// version 27", "OrtEnvCreate: ...", ...); nothing is held then.
int runtime_acquire();
// Gives a share back; the last one releases the environment. Thread-safe.
void runtime_release();
// Whether the environment or its memory description exists.
bool runtime_held();

// How a session of `threads` threads (0: the shared pool) runs its models:
// how many at once, and with how many intra-op threads each (0: the pool).
void model_threads_for(int threads, int *at_once, int *intra_threads);

// Loads the four models of model_dir into sessions (in Stem order) with the
// threads that `threads` gives (see model_threads_for), and warms each up.
// Needs a runtime share. Returns 0, or -1 with the runtime's message behind
// "OrtCreateSession: " or "warmup OrtRun: "; no session is held then.
int load_models(const char *model_dir, int threads, OrtSession *sessions[N_STEMS]);
// Releases the sessions that are held and nulls them.
void release_models(OrtSession *sessions[N_STEMS]);
