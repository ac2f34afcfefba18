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

// The two ways a session gets its threads: from the environment's shared
// pool, or from a pool of its own (for an environment without the shared
// pool, see load_sessions). Either may be null.
struct SessionOptions {
  OrtSessionOptions *shared_pool = nullptr;
  OrtSessionOptions *own_threads = nullptr;
};

// Sessions go before the environment; the options handles (if any) before
// the environment too. g_alloc belongs to the runtime and stays.
void release_all(const OrtApi *ort, const SessionOptions &options) {
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
  if (options.shared_pool) ort->ReleaseSessionOptions(options.shared_pool);
  if (options.own_threads) ort->ReleaseSessionOptions(options.own_threads);
  if (g_env) {
    ort->ReleaseEnv(g_env);
    g_env = nullptr;
  }
}

// A failed option setter only costs performance; initialisation goes on.
void ignore_status(const OrtApi *ort, OrtStatus *status) {
  if (status) ort->ReleaseStatus(status);
}

// The environment with the sessions' shared thread pool. The threading
// options are only read at its creation and go right after, whatever came of
// it.
int create_env(const OrtApi *ort) {
  OrtThreadingOptions *threading = nullptr;
  if (OrtStatus *st = ort->CreateThreadingOptions(&threading)) {
    ort_fail("OrtCreateThreadingOptions", st);
    return -1;
  }
  ignore_status(ort, ort->SetGlobalIntraOpNumThreads(threading, MODEL_POOL_THREADS));
  ignore_status(ort, ort->SetGlobalSpinControl(threading, MODEL_POOL_SPINS));
  OrtStatus *st = ort->CreateEnvWithGlobalThreadPools(ORT_LOGGING_LEVEL_WARNING, "tavrin-ombrelt",
                                                      threading, &g_env);
  ort->ReleaseThreadingOptions(threading);
  if (st) {
    ort_fail("OrtEnvCreate", st);
    g_env = nullptr;
    return -1;
  }
  return 0;
}

int create_options(const OrtApi *ort, bool shared_pool, OrtSessionOptions **out) {
  OrtSessionOptions *options = nullptr;
  if (OrtStatus *st = ort->CreateSessionOptions(&options)) {
    ort_fail("OrtSessionOptionsCreate", st);
    return -1;
  }
  if (shared_pool) {
    ignore_status(ort, ort->DisablePerSessionThreads(options));
  } else {
    ignore_status(ort, ort->SetIntraOpNumThreads(options, OWN_POOL_THREADS));
    ignore_status(ort, ort->AddSessionConfigEntry(options, "session.intra_op.allow_spinning",
                                                  MODEL_POOL_SPINS ? "1" : "0"));
  }
  ignore_status(ort, ort->SetSessionExecutionMode(options, ORT_SEQUENTIAL));
  ignore_status(ort, ort->SetSessionGraphOptimizationLevel(options, ORT_ENABLE_ALL));
  *out = options;
  return 0;
}

OrtStatus *create_session(const OrtApi *ort, const char *model_dir, int stem,
                          const OrtSessionOptions *options) {
  char path[MODEL_PATH_SIZE];
  join_path(path, sizeof path, model_dir, STEM_FILES[stem]);
  OrtStatus *st = ort->CreateSession(g_env, path, options, &g_sess[stem]);
  if (st) g_sess[stem] = nullptr;
  return st;
}

// The runtime keeps one environment per process: when the host made one
// before us, ours is the host's, without the shared pool, and no session can
// be made to use it. The first session tells: if it cannot be made with the
// shared pool, it and all after it get threads of their own. A model that is
// simply broken fails the same way again and reports that second failure.
int load_sessions(const OrtApi *ort, const char *model_dir, const SessionOptions &options) {
  const OrtSessionOptions *chosen = options.shared_pool;
  for (int i = 0; i < N_STEMS; i++) {
    OrtStatus *st = create_session(ort, model_dir, i, chosen);
    if (st && i == 0) {
      ort->ReleaseStatus(st);
      chosen = options.own_threads;
      st = create_session(ort, model_dir, i, chosen);
    }
    if (st) {
      ort_fail("OrtCreateSession", st);
      return -1;
    }
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

  if (create_env(ort) != 0) return -1;

  SessionOptions options;
  if (create_options(ort, true, &options.shared_pool) != 0 ||
      create_options(ort, false, &options.own_threads) != 0) {
    release_all(ort, options);
    return -1;
  }

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

  if (load_sessions(ort, model_dir, options) != 0) {
    release_all(ort, options);
    return -1;
  }
  for (int i = 0; i < N_STEMS; i++) {
    if (run_stem_model(g_sess[i], warmup_block, nullptr, WARMUP_CONTEXTS) != 0) {
      release_all(ort, options);
      return -1;
    }
  }

  ort->ReleaseSessionOptions(options.shared_pool);
  ort->ReleaseSessionOptions(options.own_threads);
  g_err[0] = '\0';
  g_ready = 1;
  return 0;
}

extern "C" void ombrelt_cleanup(void) {
  // With nothing held there is nothing to release and no reason to touch the
  // runtime (it may not even provide our table).
  bool held = g_env || g_mem;
  for (OrtSession *session : g_sess) held = held || session;
  if (held) release_all(ort_api(), SessionOptions{});
  g_ready = 0;
}
