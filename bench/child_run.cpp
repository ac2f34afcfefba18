#include "child_run.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/log.h>
}
#include <yyjson.h>

#include "ombrelt.h"
#include "proc_memory.h"
#include "run_result.h"

namespace {

double now_s() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

// CPU seconds of every thread of the process so far.
double cpu_s() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return (double)(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         (double)(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Reads the figures of the result text and removes the files it names, so
// that long inputs do not fill the disk run after run.
bool take_result(const char *json, RunResult *r) {
  yyjson_doc *doc = yyjson_read(json, std::strlen(json), YYJSON_READ_NOFLAG);
  if (!doc) return false;
  yyjson_val *root = yyjson_doc_get_root(doc);
  yyjson_val *duration = yyjson_obj_get(root, "duration_s");
  yyjson_val *chunks = yyjson_obj_get(root, "chunks");
  bool ok = yyjson_is_num(duration) && yyjson_is_int(chunks);
  if (ok) {
    r->audio_s = yyjson_get_num(duration);
    r->samples = std::lround(r->audio_s * 44100.0);
    r->chunks = (int)yyjson_get_int(chunks);
  }
  size_t i, n;
  yyjson_val *key, *value;
  yyjson_obj_foreach(root, i, n, key, value) {
    if (yyjson_is_str(value)) unlink(yyjson_get_str(value));
  }
  yyjson_doc_free(doc);
  return ok;
}

}  // namespace

int child_run(const char *model_dir, const char *input, const char *out_dir) {
  RunResult r{};
  // FFmpeg's warnings about an MP3's padding would bury the progress lines.
  av_log_set_level(AV_LOG_ERROR);
  double t0 = now_s();
  if (ombrelt_init(model_dir) != 0) {
    std::fprintf(stderr, "ombrelt_init(%s): %s\n", model_dir, ombrelt_last_error());
    return 1;
  }
  r.init_s = now_s() - t0;
  r.rss_init_kb = status_kb("VmRSS");
  long hwm_init = status_kb("VmHWM");
  // The warm-up's transient peak must not hide the separation's own.
  bool peak_reset = reset_peak_rss();
  for (double &s : g_stage_seconds) s = 0.0;

  const char *json = nullptr;
  double cpu0 = cpu_s();
  t0 = now_s();
  int rc = ombrelt_separate(input, out_dir, nullptr, &json);
  r.total_s = now_s() - t0;
  r.cpu_s = cpu_s() - cpu0;
  long hwm = status_kb("VmHWM");
  r.rss_after_kb = status_kb("VmRSS");
  if (rc != 0) {
    std::fprintf(stderr, "ombrelt_separate(%s): %s\n", input, ombrelt_last_error());
    ombrelt_cleanup();
    return 1;
  }
  for (int s = 0; s < STAGE_COUNT; s++) r.stage_s[s] = g_stage_seconds[s];
  r.hwm_sep_kb = peak_reset ? hwm : -1;
  if (!take_result(json, &r)) {
    std::fprintf(stderr, "unexpected result: %s\n", json);
    ombrelt_cleanup();
    return 1;
  }
  rmdir(out_dir);
  ombrelt_cleanup();
  // The peak of the whole process, which is what a host sees.
  r.hwm_kb = hwm > hwm_init ? hwm : hwm_init;
  print_result(stdout, r);
  return 0;
}
