// do_separate: plan, allocations, chunk loop, stem files and the report.
#include <sys/stat.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "engine/engine.h"
#include "engine/stage_timing.h"
#include "frame/frame.h"
#include "runtime/runtime.h"

namespace {

constexpr int FILE_NAME_SIZE = 128;
constexpr int PATH_SIZE = 1200;
constexpr int OTHER = 1, BASS = 2, DRUMS = 3;

// The per-call heap memory of one separation, released on every exit path.
struct CallMemory {
  int *wanted = nullptr;
  float **acc = nullptr;
  float *wsum = nullptr;
  int n_acc = 0;  // accumulators allocated so far

  ~CallMemory() {
    for (int i = 0; i < n_acc; i++) std::free(acc[i]);
    std::free(acc);
    std::free(wanted);
    std::free(wsum);
  }
};

// Formats the path of the output file for `suffix` (a stem name or
// "instrumental") into path (PATH_SIZE bytes). A name or path that does not
// fit is refused rather than cut: cut names can coincide (a long base name
// leaves every stem the same first 127 characters), and each file would then
// overwrite the one before it while the report names them all.
int output_path(char *path, const char *out_dir, const char *base, const char *suffix) {
  char name[FILE_NAME_SIZE];
  int n = std::snprintf(name, sizeof name, "%s_%s.wav", base, suffix);
  if (n < 0 || n >= FILE_NAME_SIZE) {
    set_err("output file name too long: %s_%s.wav", base, suffix);
    return -1;
  }
  // One byte more than a path may hold shows whether the join was cut.
  char joined[PATH_SIZE + 1];
  join_path(joined, sizeof joined, out_dir, name);
  if (std::strlen(joined) >= (size_t)PATH_SIZE) {
    set_err("output path too long: %s", joined);
    return -1;
  }
  std::memcpy(path, joined, std::strlen(joined) + 1);
  return 0;
}

double seconds(const timespec &t) { return (double)t.tv_sec + (double)t.tv_nsec * 1e-9; }

bool has_root(yyjson_mut_doc *doc, yyjson_mut_val *root) {
  return doc && root && yyjson_mut_is_obj(root);
}

}  // namespace

int do_separate(const float *samples, int frames, const int stems_wanted[4], const char *out_dir,
                const char *base, yyjson_mut_doc *doc, yyjson_mut_val *root) {
  OM_STAGE_START(t_setup);
  const ChunkPlan plan = make_plan(frames);

  // Every output path is judged before anything is made or computed.
  char path[PATH_SIZE];
  const bool instrumental = stems_wanted[OTHER] && stems_wanted[BASS] && stems_wanted[DRUMS];
  for (int s = 0; s < N_STEMS; s++)
    if (stems_wanted[s] && output_path(path, out_dir, base, STEM_NAMES[s]) != 0) return -1;
  if (instrumental && output_path(path, out_dir, base, "instrumental") != 0) return -1;

  // The writers report a directory that cannot be made when they open files.
  if (out_dir && *out_dir) (void)mkdir(out_dir, 0777);

  int n_wanted = 0;
  for (int s = 0; s < N_STEMS; s++) n_wanted += stems_wanted[s] != 0;

  CallMemory mem;
  size_t slots = (size_t)(n_wanted > 0 ? n_wanted : 1);
  mem.wanted = (int *)std::malloc(sizeof(int) * slots);
  mem.acc = (float **)std::malloc(sizeof(float *) * slots);
  mem.wsum = (float *)std::malloc(sizeof(float) * (size_t)plan.work_len);
  if (!mem.wanted || !mem.acc || !mem.wsum) {
    set_err("out of memory");
    return -1;
  }
  for (int s = 0; s < N_STEMS; s++) {
    if (!stems_wanted[s]) continue;
    float *acc = (float *)std::calloc(2 * (size_t)plan.work_len, sizeof(float));
    if (!acc) {
      set_err("out of memory");
      return -1;
    }
    mem.acc[mem.n_acc] = acc;
    mem.wanted[mem.n_acc] = s;
    mem.n_acc++;
  }
  compute_wsum(plan, mem.wsum);
  OM_STAGE_STOP(STAGE_SETUP, t_setup);

  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);

  if (run_chunks(samples, frames, plan, mem.wanted, n_wanted, mem.acc) != 0) return -1;

  const float *by_stem[N_STEMS] = {};
  for (int i = 0; i < n_wanted; i++) {
    const char *stem = STEM_NAMES[mem.wanted[i]];
    if (output_path(path, out_dir, base, stem) != 0) return -1;
    if (write_output_file(path, &mem.acc[i], 1, mem.wsum, frames) != 0) return -1;
    if (has_root(doc, root)) yyjson_mut_obj_add_strcpy(doc, root, stem, path);
    by_stem[mem.wanted[i]] = mem.acc[i];
  }

  if (instrumental) {
    if (output_path(path, out_dir, base, "instrumental") != 0) return -1;
    const float *parts[3] = {by_stem[OTHER], by_stem[BASS], by_stem[DRUMS]};
    if (write_output_file(path, parts, 3, mem.wsum, frames) != 0) return -1;
    if (has_root(doc, root)) yyjson_mut_obj_add_strcpy(doc, root, "instrumental", path);
  }

  if (has_root(doc, root)) {
    yyjson_mut_obj_add_real(doc, root, "duration_s", (double)frames / 44100.0);
    yyjson_mut_obj_add_int(doc, root, "chunks", plan.n_chunks);
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    yyjson_mut_obj_add_real(doc, root, "elapsed_s", seconds(end) - seconds(start));
  }

  g_err[0] = '\0';
  return 0;
}
