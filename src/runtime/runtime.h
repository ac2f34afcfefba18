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

extern OrtEnv *g_env;
extern OrtMemoryInfo *g_mem;
extern OrtAllocator *g_alloc;
extern OrtSession *g_sess[N_STEMS];  // in Stem order

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
// into outs[i], for i < n_wanted (each output its own block). On failure the
// message is that of the first failing stem in that order, and -1 is
// returned; nothing is left allocated either way.
int run_stem_models(const int *wanted, int n_wanted, const float *in, float *const *outs);
