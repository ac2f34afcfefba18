// Naming, normalisation and writing of the stem files.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/stage_timing.h"
#include "engine/stem_files.h"
#include "frame/frame.h"
#include "runtime/runtime.h"

namespace {

constexpr int FILE_NAME_SIZE = 128;

const char *file_name_of(const char *path) {
  const char *sep = last_separator(path);
  return sep ? sep + 1 : path;
}

// The pid in a temporary's name ".<name>.<pid>.tmp", or -1 when entry is not
// a temporary of name.
long temporary_pid(const char *entry, const char *name) {
  std::size_t len = std::strlen(name);
  if (entry[0] != '.' || std::strncmp(entry + 1, name, len) != 0 || entry[1 + len] != '.')
    return -1;
  const char *digits = entry + len + 2;
  char *end = nullptr;
  errno = 0;
  long pid = std::strtol(digits, &end, 10);
  if (end == digits || *digits == '-' || *digits == '+' || errno != 0 ||
      std::strcmp(end, ".tmp") != 0)
    return -1;
  return pid;
}

bool written_by_someone_else(long pid) {
  if (pid <= 0 || pid == (long)getpid()) return false;
  return kill((pid_t)pid, 0) == 0 || errno != ESRCH;
}

}  // namespace

int output_path(char *path, const char *out_dir, const char *base, const char *suffix,
                const char *extension) {
  char name[FILE_NAME_SIZE];
  int n = std::snprintf(name, sizeof name, "%s_%s.%s", base, suffix, extension);
  if (n < 0 || n >= FILE_NAME_SIZE) {
    set_err("output file name too long: %s_%s.%s", base, suffix, extension);
    return -1;
  }
  // One byte more than a path may hold shows whether the join was cut.
  char joined[OUTPUT_PATH_SIZE + 1];
  join_path(joined, sizeof joined, out_dir, name);
  if (std::strlen(joined) >= OUTPUT_PATH_SIZE) {
    set_err("output path too long: %s", joined);
    return -1;
  }
  std::memcpy(path, joined, std::strlen(joined) + 1);
  return 0;
}

namespace {

// The outputs of a request, as bits of Output.
unsigned requested_outputs(const SeparationRequest &request) {
  if (request.outputs) return request.outputs & ((1u << N_OUTPUTS) - 1);
  unsigned bits = 0;
  bool accompaniment = true;
  for (int s = 0; s < N_STEMS; s++)
    if (request.stems_wanted[s]) bits |= 1u << s;
  for (Stem s : ACCOMPANIMENT) accompaniment &= request.stems_wanted[s] != 0;
  if (accompaniment) bits |= 1u << OUT_INSTRUMENTAL;
  return bits;
}

}  // namespace

int plan_outputs(const SeparationRequest &request, SeparationResult *result, int wanted[N_STEMS]) {
  const unsigned outputs = requested_outputs(request);
  bool runs[N_STEMS] = {};
  for (int o = 0; o < N_OUTPUTS; o++) result->written[o] = (outputs >> o) & 1u;
  for (int s = 0; s < N_STEMS; s++)
    runs[s] = result->written[s] || request.sum_to_mix || request.wiener;
  if (result->written[OUT_INSTRUMENTAL])
    for (Stem s : ACCOMPANIMENT) runs[s] = true;
  int n_wanted = 0;
  for (int s = 0; s < N_STEMS; s++)
    if (runs[s]) wanted[n_wanted++] = s;
  // Every output path is judged before anything is made or computed.
  for (int o = 0; o < N_OUTPUTS; o++) {
    result->path[o][0] = '\0';
    if (result->written[o] && !request.memory &&
        output_path(result->path[o], request.out_dir, request.base, OUTPUT_NAMES[o],
                    audio_format_extension(request.format)) != 0)
      return -1;
  }
  return n_wanted;
}

void remove_stale_temporaries(const char *out_dir, const SeparationResult &result) {
  DIR *dir = opendir(out_dir);
  if (!dir) return;
  while (dirent *entry = readdir(dir)) {
    for (int o = 0; o < N_OUTPUTS; o++) {
      if (!result.written[o]) continue;
      long pid = temporary_pid(entry->d_name, file_name_of(result.path[o]));
      if (pid < 0 || written_by_someone_else(pid)) continue;
      char stale[OUTPUT_PATH_SIZE + 300];
      join_path(stale, sizeof stale, out_dir, entry->d_name);
      (void)unlink(stale);
    }
  }
  closedir(dir);
}

int open_stem_files(StemFiles *files, const SeparationRequest &request,
                    const SeparationResult &result, const int wanted[N_STEMS], int n_wanted,
                    float *block) {
  *files = StemFiles{};
  files->block = block;
  files->memory = request.memory;
  if (files->memory) *files->memory = MemoryStems{};
  int slot_of[N_STEMS] = {-1, -1, -1, -1};
  for (int i = 0; i < n_wanted; i++) slot_of[wanted[i]] = i;
  for (int o = 0; o < N_OUTPUTS; o++) {
    if (!result.written[o]) continue;
    int k = files->count;
    files->id[k] = o;
    if (o == OUT_INSTRUMENTAL) {
      files->sources[k] = 3;
      for (int s = 0; s < 3; s++) files->source[k][s] = slot_of[ACCOMPANIMENT[s]];
    } else {
      files->sources[k] = 1;
      files->source[k][0] = slot_of[o];
    }
    files->path[k] = result.path[o];
    if (files->memory) {
      files->count++;
      continue;
    }
    char name[OUTPUT_PATH_SIZE];
    std::snprintf(name, sizeof name, ".%s.%ld.tmp", file_name_of(files->path[k]), (long)getpid());
    join_path(files->temp[k], sizeof files->temp[k], request.out_dir, name);
    // Counted before it is opened: a writer that fails may leave its file.
    files->count++;
    if (audio_out_open(&files->out[k], files->temp[k], request.format, files->path[k]) != 0) {
      abandon_stem_files(files);
      return -1;
    }
  }
  return 0;
}

void normalise_sum(const float *const *acc, int n_acc, const float *wsum, int64_t count,
                   float *out) {
  for (int64_t n = 0; n < count; n++) {
    float w = wsum[n];
    for (int ch = 0; ch < 2; ch++) {
      float v = 0.0f;
      if (w > WSUM_FLOOR) {
        // Each source is divided before it is added, so the instrumental mix
        // equals the sum of the stems as they were written.
        v = acc[0][2 * n + ch] / w;
        for (int s = 1; s < n_acc; s++) v += acc[s][2 * n + ch] / w;
      }
      out[2 * n + ch] = v;
    }
  }
}

namespace {

// Room in every memory output for `frames` frames in all.
int reserve_memory(StemFiles *files, int64_t frames) {
  MemoryStems *memory = files->memory;
  if (frames <= memory->capacity) return 0;
  const int64_t capacity = std::max<int64_t>(frames, 2 * memory->capacity);
  for (int k = 0; k < files->count; k++) {
    float *&data = memory->data[files->id[k]];
    void *grown = std::realloc(data, (size_t)capacity * 2 * sizeof(float));
    if (!grown) {
      set_err("oom (stems)");
      return -1;
    }
    data = static_cast<float *>(grown);
  }
  memory->capacity = capacity;
  return 0;
}

// Stems in memory hold what a float file would.
void append_to_memory(float *dst, const float *block, int n) {
  for (int i = 0; i < 2 * n; i++) dst[i] = float_sample(block[i]);
}

}  // namespace

int write_stem_files(StemFiles *files, const float *const *acc, const float *wsum, int64_t count) {
  OM_STAGE_START(t_write);
  float *block = files->block;
  for (int64_t off = 0; off < count; off += WRITE_BLOCK) {
    int n = (int)std::min<int64_t>(count - off, WRITE_BLOCK);
    if (files->memory && reserve_memory(files, files->memory->frames + n) != 0) return -1;
    for (int k = 0; k < files->count; k++) {
      const float *src[3];
      for (int s = 0; s < files->sources[k]; s++) src[s] = acc[files->source[k][s]] + 2 * off;
      normalise_sum(src, files->sources[k], wsum + off, n, block);
      if (files->memory)
        append_to_memory(files->memory->data[files->id[k]] + 2 * files->memory->frames, block, n);
      else if (audio_out_write(&files->out[k], block, n) != 0)
        return -1;
    }
    if (files->memory) files->memory->frames += n;
  }
  OM_STAGE_STOP(STAGE_WRITE, t_write);
  return 0;
}

int finish_stem_files(StemFiles *files, const SeparationRequest &request) {
  if (files->memory) {
    // The doubling's spare room goes back.
    MemoryStems *memory = files->memory;
    for (float *&data : memory->data)
      if (data && memory->frames > 0)
        if (void *fitted = std::realloc(data, (size_t)memory->frames * 2 * sizeof(float)))
          data = static_cast<float *>(fitted);
    memory->capacity = memory->frames;
    engine_point("rename");
    return 0;
  }
  // The end of each file leaves the writer's buffer only now; a disk that
  // is full by then fails the file like a failed block.
  for (int k = 0; k < files->count; k++)
    if (audio_out_finish(&files->out[k]) != 0) {
      abandon_stem_files(files);
      return -1;
    }
  engine_point("rename");
  // The moved output first: it is the one move that can fail for reasons of
  // the host's choosing (out_path a directory, say), and until it has
  // succeeded no stem has its final name.
  for (int k = 0; k < files->count; k++) {
    if (files->id[k] != request.moved_output) continue;
    if (std::rename(files->temp[k], request.moved_to) != 0) {
      set_err("cannot rename %s -> %s", files->path[k], request.moved_to);
      abandon_stem_files(files);
      return -1;
    }
    files->temp[k][0] = '\0';
  }
  for (int k = 0; k < files->count; k++) {
    if (!files->temp[k][0]) continue;
    if (std::rename(files->temp[k], files->path[k]) != 0) {
      set_err("cannot move %s into place", files->path[k]);
      abandon_stem_files(files);
      return -1;
    }
    files->temp[k][0] = '\0';
  }
  return 0;
}

void memory_stems_free(MemoryStems *memory) {
  for (float *&data : memory->data) {
    std::free(data);
    data = nullptr;
  }
  memory->frames = memory->capacity = 0;
}

void abandon_stem_files(StemFiles *files) {
  if (files->memory) {
    memory_stems_free(files->memory);
    return;
  }
  for (int k = 0; k < files->count; k++) {
    audio_out_close(&files->out[k]);
    if (files->temp[k][0]) (void)unlink(files->temp[k]);
    files->temp[k][0] = '\0';
  }
}
