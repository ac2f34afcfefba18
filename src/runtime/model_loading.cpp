// The runtime environment that every model set of the process shares, and
// the loading, warm-up and release of one model set.
#include <pthread.h>

#include <algorithm>

#include "engine/window.h"
#include "runtime/model_threads.h"
#include "runtime/runtime.h"

OrtEnv *g_env = nullptr;
OrtMemoryInfo *g_mem = nullptr;
OrtAllocator *g_alloc = nullptr;

namespace {

constexpr std::size_t MODEL_PATH_SIZE = 1024;

// Model sets opened and not yet released, over all threads. The environment
// lives while any does.
pthread_mutex_t runtime_lock = PTHREAD_MUTEX_INITIALIZER;
int runtime_users = 0;

// The warm-up input: one block of silence. Never written.
float warmup_block[MODEL_BLOCK_FLOATS];

// A failed option setter only costs performance; loading goes on.
void ignore_status(const OrtApi *ort, OrtStatus *status) {
  if (status) ort->ReleaseStatus(status);
}

// The environment with the shared thread pool. The threading options are only
// read at its creation and go right after, whatever came of it.
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

void release_env(const OrtApi *ort) {
  if (g_mem) {
    ort->ReleaseMemoryInfo(g_mem);
    g_mem = nullptr;
  }
  if (g_env) {
    ort->ReleaseEnv(g_env);
    g_env = nullptr;
  }
}

// g_alloc belongs to the runtime and is never released.
int create_runtime(const OrtApi *ort) {
  if (create_env(ort) != 0) return -1;
  if (OrtStatus *st = ort->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &g_mem)) {
    ort_fail("OrtCreateCpuMemoryInfo", st);
    g_mem = nullptr;
    release_env(ort);
    return -1;
  }
  if (OrtStatus *st = ort->GetAllocatorWithDefaultOptions(&g_alloc)) {
    ort_fail("OrtGetAllocatorWithDefaultOptions", st);
    release_env(ort);
    return -1;
  }
  return 0;
}

// Options for sessions on the environment's shared pool, or on a pool of
// their own of `threads` threads.
int create_options(const OrtApi *ort, bool shared_pool, int threads, OrtSessionOptions **out) {
  OrtSessionOptions *options = nullptr;
  if (OrtStatus *st = ort->CreateSessionOptions(&options)) {
    ort_fail("OrtSessionOptionsCreate", st);
    return -1;
  }
  if (shared_pool) {
    ignore_status(ort, ort->DisablePerSessionThreads(options));
  } else {
    ignore_status(ort, ort->SetIntraOpNumThreads(options, threads));
    ignore_status(ort, ort->AddSessionConfigEntry(options, "session.intra_op.allow_spinning",
                                                  MODEL_POOL_SPINS ? "1" : "0"));
  }
  ignore_status(ort, ort->SetSessionExecutionMode(options, ORT_SEQUENTIAL));
  ignore_status(ort, ort->SetSessionGraphOptimizationLevel(options, ORT_ENABLE_ALL));
  *out = options;
  return 0;
}

OrtStatus *create_session(const OrtApi *ort, const char *model_dir, int stem,
                          const OrtSessionOptions *options, OrtSession **out) {
  char path[MODEL_PATH_SIZE];
  join_path(path, sizeof path, model_dir, STEM_FILES[stem]);
  OrtStatus *st = ort->CreateSession(g_env, path, options, out);
  if (st) *out = nullptr;
  return st;
}

// The two ways a session gets its threads: from the environment's shared
// pool, or from a pool of its own. Either may be null.
struct SessionOptions {
  OrtSessionOptions *shared_pool = nullptr;
  OrtSessionOptions *own_threads = nullptr;
};

void release_options(const OrtApi *ort, const SessionOptions &options) {
  if (options.shared_pool) ort->ReleaseSessionOptions(options.shared_pool);
  if (options.own_threads) ort->ReleaseSessionOptions(options.own_threads);
}

// The runtime keeps one environment per process: when the host made one
// before us, ours is the host's, without the shared pool, and no session can
// be made to use it. The first session tells: if it cannot be made with the
// shared pool, it and all after it get threads of their own. A model that is
// simply broken fails the same way again and reports that second failure.
int create_sessions(const OrtApi *ort, const char *model_dir, const SessionOptions &options,
                    OrtSession *sessions[N_STEMS]) {
  const OrtSessionOptions *chosen = options.shared_pool ? options.shared_pool : options.own_threads;
  for (int i = 0; i < N_STEMS; i++) {
    OrtStatus *st = create_session(ort, model_dir, i, chosen, &sessions[i]);
    if (st && i == 0 && chosen == options.shared_pool) {
      ort->ReleaseStatus(st);
      chosen = options.own_threads;
      st = create_session(ort, model_dir, i, chosen, &sessions[i]);
    }
    if (st) {
      ort_fail("OrtCreateSession", st);
      return -1;
    }
  }
  return 0;
}

}  // namespace

int runtime_acquire() {
  build_windows();
  const OrtApi *ort = ort_api();
  if (!ort) {
    set_err("onnx runtime does not provide api version %u", OMBRELT_ORT_API_VERSION);
    return -1;
  }
  pthread_mutex_lock(&runtime_lock);
  int rc = runtime_users > 0 || create_runtime(ort) == 0 ? 0 : -1;
  if (rc == 0) runtime_users++;
  pthread_mutex_unlock(&runtime_lock);
  return rc;
}

void runtime_release() {
  pthread_mutex_lock(&runtime_lock);
  if (runtime_users > 0 && --runtime_users == 0) release_env(ort_api());
  pthread_mutex_unlock(&runtime_lock);
}

bool runtime_held() { return g_env || g_mem; }

void model_threads_for(int threads, int *at_once, int *intra_threads) {
  if (threads <= 0) {
    *at_once = MODELS_AT_ONCE;
    *intra_threads = 0;
    return;
  }
  *at_once = std::min(MODELS_AT_ONCE, threads);
  *intra_threads = std::max(1, threads / *at_once);
}

int load_models(const char *model_dir, int threads, OrtSession *sessions[N_STEMS]) {
  const OrtApi *ort = ort_api();
  for (int i = 0; i < N_STEMS; i++) sessions[i] = nullptr;
  int at_once = 0, intra_threads = 0;
  model_threads_for(threads, &at_once, &intra_threads);
  SessionOptions options;
  bool shared = intra_threads == 0;
  if ((shared && create_options(ort, true, 0, &options.shared_pool) != 0) ||
      create_options(ort, false, shared ? OWN_POOL_THREADS : intra_threads,
                     &options.own_threads) != 0) {
    release_options(ort, options);
    return -1;
  }
  int rc = create_sessions(ort, model_dir, options, sessions);
  for (int i = 0; rc == 0 && i < N_STEMS; i++)
    rc = run_stem_model(sessions[i], warmup_block, nullptr, WARMUP_CONTEXTS);
  if (rc != 0) release_models(sessions);
  release_options(ort, options);
  return rc;
}

void release_models(OrtSession *sessions[N_STEMS]) {
  for (int i = 0; i < N_STEMS; i++) {
    if (sessions[i]) {
      ort_api()->ReleaseSession(sessions[i]);
      sessions[i] = nullptr;
    }
  }
}
