// The model stage of a chunk: every wanted stem model on the same block,
// at_once of them at a time. The j-th thread of the call (the caller being
// thread 0) runs the stems at positions j, j + at_once, ... of the wanted
// list; all threads are joined before the call returns.
#include <algorithm>
#include <array>
#include <exception>
#include <thread>

#include "runtime/model_threads.h"
#include "runtime/runtime.h"

OrtSession *g_sess[N_STEMS] = {};

int run_stem_models(const int *wanted, int n_wanted, const float *in, float *const *outs) {
  return run_stem_models(ModelSet{g_sess, MODELS_AT_ONCE}, wanted, n_wanted, in, outs);
}

int run_stem_models(const ModelSet &models, const int *wanted, int n_wanted, const float *in,
                    float *const *outs) {
  const int at_once = std::clamp(models.at_once, 1, MODELS_AT_ONCE);
  std::array<CallError, N_STEMS> errors;
  std::array<bool, N_STEMS> failed = {};
  // A share stops at its first failure. Whatever the timing, the first
  // failing stem in wanted order is always run: every stem before it in its
  // share succeeded. So the message reported is the one a plain loop over
  // the stems would have stopped at.
  auto run_share = [&](int first) {
    for (int i = first; i < n_wanted; i += at_once)
      if (run_stem_model_into(models.sessions[wanted[i]], in, outs[i], ENGINE_CONTEXTS,
                              &errors[i]) != 0) {
        failed[i] = true;
        return;
      }
  };

  const int shares = std::min(at_once, n_wanted);
  std::array<std::thread, MODELS_AT_ONCE> helpers;
  int started = 1;
  for (; started < shares; started++) {
    try {
      helpers[started] = std::thread(run_share, started);
    } catch (const std::exception &) {
      break;  // no thread to be had: the caller runs the rest itself
    }
  }
  run_share(0);
  for (int j = started; j < shares; j++) run_share(j);
  for (int j = 1; j < started; j++) helpers[j].join();

  for (int i = 0; i < n_wanted; i++)
    if (failed[i]) {
      set_err("%s", errors[i].text);
      return -1;
    }
  return 0;
}
