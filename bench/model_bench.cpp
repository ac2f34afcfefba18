// Milliseconds per chunk of the model stage: the wanted stem models (all
// four by default) run once each on one block of magnitudes, repeated, with
// the runtime's session options given on the command line, so that settings
// can be compared on the same binary.
//
//   ombrelt_model_bench MODEL_DIR [--runs N] [--stems LIST] [options]
//
//   --stems LIST            the wanted stems, comma-separated names in the
//                           order of the call, e.g. vocals (what mute's
//                           instrumental mode runs) or other,bass,drums (its
//                           vocal mode); default vocals,other,bass,drums
//   --intra N               intra-op threads per session (default 2)
//   --inter N               inter-op threads per session (runtime default)
//   --spin 0|1              session.intra_op.allow_spinning (default 0)
//   --inter-spin 0|1        session.inter_op.allow_spinning (runtime default)
//   --parallel              ORT_PARALLEL execution mode (default sequential)
//   --opt 0|1|2|99          graph optimisation level (default 99, all)
//   --no-arena              DisableCpuMemArena
//   --no-mem-pattern        DisableMemPattern
//   --block-base N          session.dynamic_block_base
//   --denormal-zero         session.set_denormal_as_zero
//   --at-once K             K models at once on K threads of this program (1, 2, 4)
//   --global-pool           one environment-wide intra-op pool shared by all
//                           sessions (DisablePerSessionThreads), sized by --intra
//                           and spinning by --spin
//   --profile PREFIX        EnableProfiling; the JSON files are named on stderr
//   --library               none of the above: ombrelt_init and run_stem_models,
//                           the library's own setting and model stage
//
// Prints one line: the settings, the minimum and median wall time of the
// runs, the CPU time of all threads per run (mean), and the load average at
// the end. The minimum is the figure to compare on a shared machine; the CPU
// time shows what spinning or waking threads cost whatever the load.
#include <onnxruntime_c_api.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "frame/frame.h"
#include "ombrelt.h"
#include "runtime/runtime.h"

namespace {

struct Settings {
  int runs = 15;
  int intra = 2;
  int inter = -1;
  int spin = 0;
  int inter_spin = -1;
  bool parallel = false;
  int opt = 99;
  bool no_arena = false;
  bool no_mem_pattern = false;
  int block_base = -1;
  bool denormal_zero = false;
  int at_once = 1;
  bool global_pool = false;
  const char *profile = nullptr;
  bool library = false;
  int wanted[N_STEMS] = {STEM_VOCALS, STEM_OTHER, STEM_BASS, STEM_DRUMS};
  int n_wanted = N_STEMS;
};

[[noreturn]] void die(const char *what, OrtStatus *st) {
  std::fprintf(stderr, "ombrelt_model_bench: %s: %s\n", what,
               st ? ort_api()->GetErrorMessage(st) : "failed");
  std::exit(1);
}

void check(const char *what, OrtStatus *st) {
  if (st) die(what, st);
}

void config(OrtSessionOptions *o, const char *key, int value) {
  check(key, ort_api()->AddSessionConfigEntry(o, key, std::to_string(value).c_str()));
}

// "vocals,other": each name once, at most the four stems.
bool parse_stems(const char *list, Settings &s) {
  s.n_wanted = 0;
  std::string rest = list;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string name = rest.substr(0, comma);
    rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    int stem = 0;
    while (stem < N_STEMS && name != OUTPUT_NAMES[stem]) stem++;
    if (stem == N_STEMS || s.n_wanted == N_STEMS) return false;
    for (int i = 0; i < s.n_wanted; i++)
      if (s.wanted[i] == stem) return false;
    s.wanted[s.n_wanted++] = stem;
  }
  return s.n_wanted > 0;
}

std::string stem_list(const Settings &s) {
  std::string d;
  for (int i = 0; i < s.n_wanted; i++) d += std::string(i ? "," : "") + OUTPUT_NAMES[s.wanted[i]];
  return d;
}

std::string describe(const Settings &s) {
  std::string d = std::to_string(s.n_wanted) + " (" + stem_list(s) + "): ";
  if (s.library) return d + "library";
  d += "intra " + std::to_string(s.intra) + ", spin " + std::to_string(s.spin);
  if (s.inter >= 0) d += ", inter " + std::to_string(s.inter);
  if (s.inter_spin >= 0) d += ", inter spin " + std::to_string(s.inter_spin);
  if (s.parallel) d += ", parallel mode";
  if (s.opt != 99) d += ", opt " + std::to_string(s.opt);
  if (s.no_arena) d += ", no arena";
  if (s.no_mem_pattern) d += ", no mem pattern";
  if (s.block_base >= 0) d += ", block base " + std::to_string(s.block_base);
  if (s.denormal_zero) d += ", denormal zero";
  if (s.global_pool) d += ", global pool";
  if (s.at_once > 1) d += ", " + std::to_string(s.at_once) + " models at once";
  return d;
}

// The bare runtime: one environment, four sessions, and the library's own
// model call (run_stem_model) on each.
struct Bare {
  OrtEnv *env = nullptr;
  OrtSession *sessions[N_STEMS] = {};
};

Bare open_bare(const Settings &s, const char *model_dir) {
  const OrtApi *ort = ort_api();
  Bare b;
  if (s.global_pool) {
    OrtThreadingOptions *tp = nullptr;
    check("CreateThreadingOptions", ort->CreateThreadingOptions(&tp));
    check("SetGlobalIntraOpNumThreads", ort->SetGlobalIntraOpNumThreads(tp, s.intra));
    check("SetGlobalSpinControl", ort->SetGlobalSpinControl(tp, s.spin));
    if (s.inter >= 0) check("SetGlobalInterOpNumThreads", ort->SetGlobalInterOpNumThreads(tp, s.inter));
    if (s.denormal_zero) check("SetGlobalDenormalAsZero", ort->SetGlobalDenormalAsZero(tp));
    check("CreateEnvWithGlobalThreadPools",
          ort->CreateEnvWithGlobalThreadPools(ORT_LOGGING_LEVEL_WARNING, "bench", tp, &b.env));
    ort->ReleaseThreadingOptions(tp);
  } else {
    check("CreateEnv", ort->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "bench", &b.env));
  }
  OrtSessionOptions *o = nullptr;
  check("CreateSessionOptions", ort->CreateSessionOptions(&o));
  if (s.global_pool) {
    check("DisablePerSessionThreads", ort->DisablePerSessionThreads(o));
  } else {
    check("SetIntraOpNumThreads", ort->SetIntraOpNumThreads(o, s.intra));
    if (s.inter >= 0) check("SetInterOpNumThreads", ort->SetInterOpNumThreads(o, s.inter));
    config(o, "session.intra_op.allow_spinning", s.spin);
    if (s.inter_spin >= 0) config(o, "session.inter_op.allow_spinning", s.inter_spin);
    if (s.denormal_zero) config(o, "session.set_denormal_as_zero", 1);
  }
  check("SetSessionExecutionMode",
        ort->SetSessionExecutionMode(o, s.parallel ? ORT_PARALLEL : ORT_SEQUENTIAL));
  check("SetSessionGraphOptimizationLevel",
        ort->SetSessionGraphOptimizationLevel(o, (GraphOptimizationLevel)s.opt));
  if (s.no_arena) check("DisableCpuMemArena", ort->DisableCpuMemArena(o));
  if (s.no_mem_pattern) check("DisableMemPattern", ort->DisableMemPattern(o));
  if (s.block_base >= 0) config(o, "session.dynamic_block_base", s.block_base);
  if (s.profile) check("EnableProfiling", ort->EnableProfiling(o, s.profile));
  for (int i = 0; i < N_STEMS; i++) {
    std::string path = std::string(model_dir) + "/" + STEM_FILES[i];
    check("CreateSession", ort->CreateSession(b.env, path.c_str(), o, &b.sessions[i]));
  }
  ort->ReleaseSessionOptions(o);
  // The library's model call takes its tensors from g_alloc.
  check("GetAllocatorWithDefaultOptions", ort->GetAllocatorWithDefaultOptions(&g_alloc));
  return b;
}

void close_bare(Bare &b, bool profiled) {
  const OrtApi *ort = ort_api();
  for (OrtSession *session : b.sessions) {
    if (profiled) {
      char *file = nullptr;
      check("SessionEndProfiling", ort->SessionEndProfiling(session, g_alloc, &file));
      std::fprintf(stderr, "profile: %s\n", file);
      check("AllocatorFree", ort->AllocatorFree(g_alloc, file));
    }
    ort->ReleaseSession(session);
  }
  ort->ReleaseEnv(b.env);
}

// One chunk: every wanted model once, K at a time, the i-th wanted on
// thread i % K (as the library shares them out).
void bare_chunk(const Bare &b, const Settings &s, const float *in, std::vector<float> *outs) {
  const int at_once = std::min(s.at_once, s.n_wanted);
  auto run_share = [&](int t) {
    for (int i = t; i < s.n_wanted; i += at_once)
      if (run_stem_model(b.sessions[s.wanted[i]], in, outs[i].data(), ENGINE_CONTEXTS) != 0) {
        std::fprintf(stderr, "ombrelt_model_bench: %s\n", g_err);
        std::exit(1);
      }
  };
  std::vector<std::thread> helpers;
  for (int t = 1; t < at_once; t++) helpers.emplace_back(run_share, t);
  run_share(0);
  for (std::thread &h : helpers) h.join();
}

void library_chunk(const Settings &s, const float *in, std::vector<float> *outs) {
  float *blocks[N_STEMS];
  for (int i = 0; i < s.n_wanted; i++) blocks[i] = outs[i].data();
  if (run_stem_models(s.wanted, s.n_wanted, in, blocks) != 0) {
    std::fprintf(stderr, "ombrelt_model_bench: %s\n", g_err);
    std::exit(1);
  }
}

bool parse(int argc, char **argv, Settings &s) {
  for (int i = 2; i < argc; i++) {
    const char *a = argv[i];
    const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto number = [&](int &field) {
      if (!v) return false;
      field = std::atoi(v);
      i++;
      return true;
    };
    bool ok = true;
    if (!std::strcmp(a, "--runs")) ok = number(s.runs);
    else if (!std::strcmp(a, "--intra")) ok = number(s.intra);
    else if (!std::strcmp(a, "--inter")) ok = number(s.inter);
    else if (!std::strcmp(a, "--spin")) ok = number(s.spin);
    else if (!std::strcmp(a, "--inter-spin")) ok = number(s.inter_spin);
    else if (!std::strcmp(a, "--opt")) ok = number(s.opt);
    else if (!std::strcmp(a, "--block-base")) ok = number(s.block_base);
    else if (!std::strcmp(a, "--at-once")) ok = number(s.at_once);
    else if (!std::strcmp(a, "--parallel")) s.parallel = true;
    else if (!std::strcmp(a, "--no-arena")) s.no_arena = true;
    else if (!std::strcmp(a, "--no-mem-pattern")) s.no_mem_pattern = true;
    else if (!std::strcmp(a, "--denormal-zero")) s.denormal_zero = true;
    else if (!std::strcmp(a, "--global-pool")) s.global_pool = true;
    else if (!std::strcmp(a, "--library")) s.library = true;
    else if (!std::strcmp(a, "--profile") && v) s.profile = argv[++i];
    else if (!std::strcmp(a, "--stems") && v) ok = parse_stems(argv[++i], s);
    else ok = false;
    if (!ok) return false;
  }
  return s.runs > 0 && s.at_once >= 1 && s.at_once <= N_STEMS;
}

}  // namespace

int main(int argc, char **argv) {
  Settings s;
  if (argc < 2 || !parse(argc, argv, s)) {
    std::fprintf(stderr, "usage: ombrelt_model_bench MODEL_DIR [--runs N] [options] "
                         "(see the head of bench/model_bench.cpp)\n");
    return 2;
  }

  // Music-like magnitudes: what the models see matters little to an LSTM's
  // cost, but silence could take shortcuts.
  std::vector<float> in(MODEL_BLOCK_FLOATS);
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> dist(0.0f, 50.0f);
  for (float &v : in) v = dist(rng);
  std::vector<float> outs[N_STEMS];
  for (std::vector<float> &o : outs) o.resize(MODEL_BLOCK_FLOATS);

  Bare bare;
  if (s.library) {
    if (ombrelt_init(argv[1]) != 0) {
      std::fprintf(stderr, "ombrelt_model_bench: %s\n", ombrelt_last_error());
      return 1;
    }
  } else {
    bare = open_bare(s, argv[1]);
  }
  auto chunk = [&] {
    if (s.library)
      library_chunk(s, in.data(), outs);
    else
      bare_chunk(bare, s, in.data(), outs);
  };

  chunk();  // warm-up, as ombrelt_init does
  std::vector<double> ms;
  auto cpu_ms = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
  };
  const double cpu_start = cpu_ms();
  for (int r = 0; r < s.runs; r++) {
    auto t0 = std::chrono::steady_clock::now();
    chunk();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  const double cpu_per_run = (cpu_ms() - cpu_start) / s.runs;
  if (s.library)
    ombrelt_cleanup();
  else
    close_bare(bare, s.profile != nullptr);

  std::sort(ms.begin(), ms.end());
  double load = 0;
  if (FILE *f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = -1;
    std::fclose(f);
  }
  std::printf("%-72s min %7.1f ms  median %7.1f ms  cpu %7.1f ms  (%d runs, load %.2f)\n",
              describe(s).c_str(), ms.front(), ms[ms.size() / 2], cpu_per_run, s.runs, load);
  return 0;
}
