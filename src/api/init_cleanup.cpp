// ombrelt_init and ombrelt_cleanup: the process's one model set on the
// shared runtime, and its release.
#include "frame/frame.h"
#include "ombrelt.h"
#include "runtime/runtime.h"

extern "C" int ombrelt_init(const char *model_dir) {
  if (g_ready) return 0;
  if (!model_dir || !*model_dir) {
    set_err("model_dir is empty");
    return -1;
  }
  if (runtime_acquire() != 0) return -1;
  if (load_models(model_dir, 0, g_sess) != 0) {
    runtime_release();
    return -1;
  }
  clear_err();
  g_ready = 1;
  return 0;
}

extern "C" void ombrelt_cleanup(void) {
  // With nothing held there is nothing to release and no reason to touch the
  // runtime (it may not even provide our table).
  if (g_ready) {
    release_models(g_sess);
    runtime_release();
  }
  g_ready = 0;
}
