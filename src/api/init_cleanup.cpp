// ombrelt_init and ombrelt_cleanup: the runtime environment, the four stem
// sessions and their warm-up, and the release of all of it.
#include "engine/window.h"
#include "frame/frame.h"
#include "ombrelt.h"
#include "runtime/model_threads.h"
#include "runtime/runtime.h"

OrtEnv *g_env = nullptr;
OrtMemoryInfo *g_mem = nullptr;
OrtAllocator *g_alloc = nullptr;
OrtSession *g_sess[N_STEMS] = {};

namespace {

constexpr std::size_t MODEL_PATH_SIZE = 1024;

// The warm-up input: one block of silence. Never written.
float warmup_block[MODEL_BLOCK_FLOATS];

// Sessions go before the environment; the options handle (if any) before the
// environment too. g_alloc belongs to the runtime and stays.
void release_all(const OrtApi *ort, OrtSessionOptions *options) {
  for (OrtSession *&session : g_sess) {
    if (session) {
      ort->ReleaseSession(session);
      session = nullptr;
    }
  }
  if (g_mem) {
    ort->ReleaseMemoryInfo(g_mem);
    g_mem = nullptr;
  }
  if (options) ort->ReleaseSessionOptions(options);
  if (g_env) {
    ort->ReleaseEnv(g_env);
    g_env = nullptr;
  }
}

// A failed option setter only costs performance; initialisation goes on.
void ignore_status(const OrtApi *ort, OrtStatus *status) {
  if (status) ort->ReleaseStatus(status);
}

int load_session(const OrtApi *ort, const char *model_dir, int stem, OrtSessionOptions *options) {
  char path[MODEL_PATH_SIZE];
  join_path(path, sizeof path, model_dir, STEM_FILES[stem]);
  if (OrtStatus *st = ort->CreateSession(g_env, path, options, &g_sess[stem])) {
    ort_fail("OrtCreateSession", st);
    g_sess[stem] = nullptr;
    return -1;
  }
  return 0;
}

}  // namespace

extern "C" int ombrelt_init(const char *model_dir) {
  if (g_ready) return 0;
  if (!model_dir || !*model_dir) {
    set_err("model_dir is empty");
    return -1;
  }
  build_windows();

  const OrtApi *ort = ort_api();
  if (!ort) {
    set_err("onnx runtime does not provide api version %u", OMBRELT_ORT_API_VERSION);
    return -1;
  }

  if (OrtStatus *st = ort->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "tavrin-ombrelt", &g_env)) {
    ort_fail("OrtEnvCreate", st);
    g_env = nullptr;
    return -1;
  }

  OrtSessionOptions *options = nullptr;
  if (OrtStatus *st = ort->CreateSessionOptions(&options)) {
    ort_fail("OrtSessionOptionsCreate", st);
    release_all(ort, nullptr);
    return -1;
  }
  ignore_status(ort, ort->SetIntraOpNumThreads(options, INTRA_OP_THREADS));
  ignore_status(ort, ort->SetSessionExecutionMode(options, ORT_SEQUENTIAL));
  ignore_status(ort, ort->SetSessionGraphOptimizationLevel(options, ORT_ENABLE_ALL));
  // Should a session get worker threads, they sleep when idle instead of
  // spinning: each session has its own pool, and spinning pools steal the
  // cores from the next model run and from the resynthesis (about twice the
  // wall time on two cores).
  ignore_status(ort, ort->AddSessionConfigEntry(options, "session.intra_op.allow_spinning", "0"));

  if (OrtStatus *st = ort->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &g_mem)) {
    ort_fail("OrtCreateCpuMemoryInfo", st);
    g_mem = nullptr;
    release_all(ort, options);
    return -1;
  }
  if (OrtStatus *st = ort->GetAllocatorWithDefaultOptions(&g_alloc)) {
    ort_fail("OrtGetAllocatorWithDefaultOptions", st);
    release_all(ort, options);
    return -1;
  }

  for (int i = 0; i < N_STEMS; i++) {
    if (load_session(ort, model_dir, i, options) != 0) {
      release_all(ort, options);
      return -1;
    }
  }
  for (int i = 0; i < N_STEMS; i++) {
    if (run_stem_model(g_sess[i], warmup_block, nullptr, WARMUP_CONTEXTS) != 0) {
      release_all(ort, options);
      return -1;
    }
  }

  ort->ReleaseSessionOptions(options);
  g_err[0] = '\0';
  g_ready = 1;
  return 0;
}

extern "C" void ombrelt_cleanup(void) {
  // With nothing held there is nothing to release and no reason to touch the
  // runtime (it may not even provide our table).
  bool held = g_env || g_mem;
  for (OrtSession *session : g_sess) held = held || session;
  if (held) release_all(ort_api(), nullptr);
  g_ready = 0;
}
