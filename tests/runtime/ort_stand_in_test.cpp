// This program brings its own OrtGetApiBase, so every runtime call the
// library makes goes through a copy of the runtime's function table that
// counts the objects handed out and given back. The same stand-in can also
// play a runtime that cannot serve our table version, or one whose calls
// fail one by one. Model runs may come from several threads at once, so the
// counts are kept under a lock.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <string>
#include <type_traits>

#include "frame/frame.h"
#include "ombrelt.h"
#include "runtime/runtime.h"
#include "support/test_support.h"

namespace {

using testing_support::models;

// Runtime objects currently held by their kind, and all calls made.
struct Live {
  long env, threading, options, memory, session, value, type_info, status;
  bool operator==(const Live &) const = default;
};
void PrintTo(const Live &l, std::ostream *os) {
  *os << "{env " << l.env << ", threading " << l.threading << ", options " << l.options
      << ", memory " << l.memory << ", session " << l.session << ", value " << l.value
      << ", type_info " << l.type_info << ", status " << l.status << "}";
}
Live live;
long calls;
std::mutex counting;
bool refuse_api;
const OrtApi *real_api;

constexpr const char *REFUSAL = "refused by the stand-in";

template <typename T>
T first(T value, ...) {
  return value;
}

// Wraps one slot of the table. With a counter, a call that succeeds with a
// new object (the last argument) counts it up; a release counts it down.
// A status-returning slot can be made to fail (`refuse`) without calling
// the runtime.
template <auto Slot, long Live::*Counter, class R, class... A>
struct HookImpl {
  static inline R (*real)(A...) = nullptr;
  static inline bool refuse = false;

  static R call(A... args) noexcept {
    if constexpr (std::is_same_v<R, OrtStatus *>) {
      OrtStatus *st = refuse ? real_api->CreateStatus(ORT_FAIL, REFUSAL) : real(args...);
      std::lock_guard<std::mutex> lock(counting);
      calls++;
      if (st)
        live.status++;
      else if constexpr (Counter != nullptr)
        live.*Counter += 1;
      return st;
    } else if constexpr (std::is_void_v<R>) {
      {
        std::lock_guard<std::mutex> lock(counting);
        calls++;
        if constexpr (Counter != nullptr)
          if (first(args...)) live.*Counter -= 1;
      }
      real(args...);
    } else {
      {
        std::lock_guard<std::mutex> lock(counting);
        calls++;
      }
      return real(args...);
    }
  }
  static void install(OrtApi &table) {
    real = table.*Slot;
    table.*Slot = call;
  }
};

// Most slots are noexcept, the release functions are not.
template <auto Slot, long Live::*Counter = nullptr>
struct Hook;
template <class R, class... A, bool E, R (*OrtApi::*Slot)(A...) noexcept(E), long Live::*Counter>
struct Hook<Slot, Counter> : HookImpl<Slot, Counter, R, A...> {};

decltype(OrtApi::Run) real_run;
OrtStatus *ORT_API_CALL counted_run(OrtSession *session, const OrtRunOptions *options,
                                    const char *const *input_names, const OrtValue *const *inputs,
                                    size_t n_inputs, const char *const *output_names,
                                    size_t n_outputs, OrtValue **outputs) noexcept {
  OrtStatus *st =
      real_run(session, options, input_names, inputs, n_inputs, output_names, n_outputs, outputs);
  std::lock_guard<std::mutex> lock(counting);
  calls++;
  if (st) live.status++;
  for (size_t i = 0; i < n_outputs; i++)
    if (outputs[i]) live.value++;
  return st;
}

decltype(OrtApi::ReleaseStatus) real_release_status;
void ORT_API_CALL counted_release_status(OrtStatus *status) {
  {
    std::lock_guard<std::mutex> lock(counting);
    calls++;
    if (status) live.status--;
  }
  real_release_status(status);
}

using ThreadingHook = Hook<&OrtApi::CreateThreadingOptions, &Live::threading>;
using PooledEnvHook = Hook<&OrtApi::CreateEnvWithGlobalThreadPools, &Live::env>;

OrtApi counting_table(const OrtApi &real) {
  real_api = &real;
  OrtApi t = real;  // the part of the table our headers know
  Hook<&OrtApi::CreateEnv, &Live::env>::install(t);
  PooledEnvHook::install(t);
  Hook<&OrtApi::ReleaseEnv, &Live::env>::install(t);
  ThreadingHook::install(t);
  Hook<&OrtApi::ReleaseThreadingOptions, &Live::threading>::install(t);
  Hook<&OrtApi::SetGlobalIntraOpNumThreads>::install(t);
  Hook<&OrtApi::SetGlobalSpinControl>::install(t);
  Hook<&OrtApi::CreateSessionOptions, &Live::options>::install(t);
  Hook<&OrtApi::ReleaseSessionOptions, &Live::options>::install(t);
  Hook<&OrtApi::DisablePerSessionThreads>::install(t);
  Hook<&OrtApi::SetSessionExecutionMode>::install(t);
  Hook<&OrtApi::SetSessionGraphOptimizationLevel>::install(t);
  Hook<&OrtApi::CreateCpuMemoryInfo, &Live::memory>::install(t);
  Hook<&OrtApi::ReleaseMemoryInfo, &Live::memory>::install(t);
  Hook<&OrtApi::GetAllocatorWithDefaultOptions>::install(t);
  Hook<&OrtApi::CreateSession, &Live::session>::install(t);
  Hook<&OrtApi::ReleaseSession, &Live::session>::install(t);
  Hook<&OrtApi::CreateTensorAsOrtValue, &Live::value>::install(t);
  Hook<&OrtApi::ReleaseValue, &Live::value>::install(t);
  Hook<&OrtApi::GetTensorMutableData>::install(t);
  Hook<&OrtApi::SessionGetOutputName>::install(t);
  Hook<&OrtApi::AllocatorFree>::install(t);
  Hook<&OrtApi::GetTensorTypeAndShape, &Live::type_info>::install(t);
  Hook<&OrtApi::ReleaseTensorTypeAndShapeInfo, &Live::type_info>::install(t);
  Hook<&OrtApi::GetTensorElementType>::install(t);
  Hook<&OrtApi::GetTensorShapeElementCount>::install(t);
  Hook<&OrtApi::GetErrorMessage>::install(t);
  Hook<&OrtApi::CreateStatus>::install(t);
  real_run = t.Run;
  t.Run = counted_run;
  real_release_status = t.ReleaseStatus;
  t.ReleaseStatus = counted_release_status;
  return t;
}

// With this definition in the program nothing links the runtime in by name,
// so it is opened here (found through the program's run path) and kept.
const OrtApiBase *real_base() {
  using Entry = const OrtApiBase *(ORT_API_CALL *)(void);
  static void *library = dlopen("libonnxruntime.so.1", RTLD_NOW | RTLD_LOCAL);
  static Entry entry = library ? reinterpret_cast<Entry>(dlsym(library, "OrtGetApiBase")) : nullptr;
  if (!entry) {
    std::fprintf(stderr, "cannot reach the onnx runtime: %s\n", dlerror());
    std::abort();
  }
  return entry();
}

const OrtApi *ORT_API_CALL get_api(uint32_t version) NO_EXCEPTION {
  if (refuse_api) return nullptr;
  const OrtApi *real = real_base()->GetApi(version);
  if (!real) return nullptr;
  static OrtApi table = counting_table(*real);
  return &table;
}

const char *ORT_API_CALL version_string() NO_EXCEPTION { return real_base()->GetVersionString(); }

const OrtApiBase stand_in = {get_api, version_string};

}  // namespace

extern "C" const OrtApiBase *ORT_API_CALL OrtGetApiBase(void) NO_EXCEPTION { return &stand_in; }

namespace {

// The table is fetched once per process, so the refusal must come at the
// first fetch: the check runs in a freshly started copy of this program.
TEST(OrtStandIn, MissingTableFailsInitWithoutAnyRuntimeCall) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        refuse_api = true;
        int rc = ombrelt_init(models("identity").c_str());
        bool none_held = !g_env && !g_mem && !g_sess[0] && !g_sess[1] && !g_sess[2] && !g_sess[3];
        ombrelt_cleanup();  // would crash if it touched the missing table
        std::fprintf(stderr, "rc=%d held=%s err=[%s]\n", rc, none_held ? "none" : "some", g_err);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0),
      "rc=-1 held=none err=\\[onnx runtime does not provide api version 27\\]");
}

TEST(OrtStandIn, CleanupWithNothingHeldMakesNoRuntimeCall) {
  ombrelt_cleanup();
  long before = calls;
  ombrelt_cleanup();
  ombrelt_cleanup();
  EXPECT_EQ(calls, before);
}

TEST(OrtStandIn, EveryRuntimeObjectIsGivenBack) {
  ombrelt_cleanup();
  const Live start = live;
  const long calls_before = calls;

  static float silence[MODEL_BLOCK_FLOATS], signal[MODEL_BLOCK_FLOATS], out[MODEL_BLOCK_FLOATS];
  signal[100] = 1.0f;
  for (const char *set : {"missing_bass", "wrong_input_name", "short_output", "double_output"}) {
    EXPECT_EQ(ombrelt_init(models(set).c_str()), -1) << set;
    EXPECT_EQ(live, start) << set << ": " << g_err;
  }
  ASSERT_EQ(ombrelt_init(models("fails_on_signal").c_str()), 0) << g_err;
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(run_stem_model(g_sess[i], silence, out, ENGINE_CONTEXTS), 0) << g_err;
    EXPECT_EQ(run_stem_model(g_sess[i], signal, out, ENGINE_CONTEXTS), -1);
  }
  // The chunk's model stage, stems side by side: all pass, all fail.
  static float outs[N_STEMS][MODEL_BLOCK_FLOATS];
  float *const blocks[N_STEMS] = {outs[0], outs[1], outs[2], outs[3]};
  const int all[N_STEMS] = {0, 1, 2, 3}, some[2] = {1, 2};
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(run_stem_models(all, N_STEMS, silence, blocks), 0) << g_err;
    EXPECT_EQ(run_stem_models(all, N_STEMS, signal, blocks), -1);
    EXPECT_EQ(run_stem_models(some, 2, signal, blocks), -1);
  }
  EXPECT_EQ(live.value, start.value);
  EXPECT_EQ(live.status, start.status);
  ombrelt_cleanup();
  EXPECT_EQ(live, start);
  EXPECT_GT(calls, calls_before) << "the library's calls come through the stand-in";
}

// Beside a host's own environment the sessions are made a second way; both
// ways give everything back, whether the models load or not.
TEST(OrtStandIn, BesideAHostsEnvironmentEveryObjectIsGivenBack) {
  ombrelt_cleanup();
  const Live start = live;
  const OrtApi *ort = ort_api();
  OrtEnv *host_env = nullptr;
  ASSERT_EQ(ort->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "host", &host_env), nullptr);
  struct Failure {
    const char *set, *message_start;
  };
  // The first session fails both ways; a later one; the warm-up.
  const Failure failures[] = {{"no_such_set", "OrtCreateSession: "},
                              {"missing_bass", "OrtCreateSession: "},
                              {"wrong_input_name", "warmup OrtRun: "}};
  for (const Failure &f : failures) {
    EXPECT_EQ(ombrelt_init(models(f.set).c_str()), -1) << f.set;
    EXPECT_EQ(std::string(g_err).rfind(f.message_start, 0), 0u) << f.set << ": " << g_err;
    EXPECT_EQ(live.session, start.session) << f.set;
  }
  ASSERT_EQ(ombrelt_init(models("fails_on_signal").c_str()), 0) << g_err;
  static float silence[MODEL_BLOCK_FLOATS], outs[N_STEMS][MODEL_BLOCK_FLOATS];
  float *const blocks[N_STEMS] = {outs[0], outs[1], outs[2], outs[3]};
  const int all[N_STEMS] = {0, 1, 2, 3};
  EXPECT_EQ(run_stem_models(all, N_STEMS, silence, blocks), 0) << g_err;
  ombrelt_cleanup();
  ort->ReleaseEnv(host_env);
  EXPECT_EQ(live, start);
}

// The environment's creation fails before any session exists: the threading
// options must go all the same, and the failing call is named.
TEST(OrtStandIn, EnvironmentFailuresGiveBackTheThreadingOptions) {
  struct Case {
    bool *refuse;
    const char *message;
  };
  const Case cases[] = {
      {&ThreadingHook::refuse, "OrtCreateThreadingOptions: refused by the stand-in"},
      {&PooledEnvHook::refuse, "OrtEnvCreate: refused by the stand-in"},
  };
  ombrelt_cleanup();
  const Live start = live;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    *c.refuse = true;
    const int rc = ombrelt_init(models("identity").c_str());
    *c.refuse = false;
    EXPECT_EQ(rc, -1);
    EXPECT_STREQ(g_err, c.message);
    EXPECT_EQ(live, start);
    ASSERT_EQ(ombrelt_init(models("identity").c_str()), 0) << g_err;
    ombrelt_cleanup();
    EXPECT_EQ(live, start);
  }
}

}  // namespace
