// The model stage of a chunk: every wanted stem model on the same block,
// MODELS_AT_ONCE of them at a time. The j-th thread of the call (the caller
// being thread 0) runs the stems at positions j, j + MODELS_AT_ONCE, ... of
// the wanted list; all threads are joined before the call returns.
#include <algorithm>
#include <array>
#include <exception>
#include <thread>

#include "runtime/model_threads.h"
#include "runtime/runtime.h"

int run_stem_models(const int *wanted, int n_wanted, const float *in, float *const *outs) {
  std::array<CallError, N_STEMS> errors;
  std::array<bool, N_STEMS> failed = {};
  // A share stops at its first failure. Whatever the timing, the first
  // failing stem in wanted order is always run: every stem before it in its
  // share succeeded. So the message reported is the one a plain loop over
  // the stems would have stopped at.
  auto run_share = [&](int first) {
    for (int i = first; i < n_wanted; i += MODELS_AT_ONCE)
      if (run_stem_model_into(g_sess[wanted[i]], in, outs[i], ENGINE_CONTEXTS, &errors[i]) != 0) {
        failed[i] = true;
        return;
      }
  };

  const int shares = std::min(MODELS_AT_ONCE, n_wanted);
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
