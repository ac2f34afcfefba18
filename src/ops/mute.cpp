// ombrelt_mute: keep the accompaniment (mode "vocal") or the vocals (mode
// "instrumental") of a song in one named file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "audio/audio.h"
#include "engine/engine.h"
#include "frame/frame.h"
#include "ombrelt.h"
#include "ops/ops.h"

namespace {

constexpr std::size_t OUT_DIR_SIZE = 1024;

struct MuteMode {
  const char *mode;
  int wanted[4];     // vocals, other, bass, drums
  const char *kept;  // the result member whose file moves onto out_path
};

constexpr MuteMode MODES[] = {
    {"vocal", {0, 1, 1, 1}, "instrumental"},
    {"instrumental", {1, 0, 0, 0}, "vocals"},
};

// The directory part of out_path, or "." when it has none or when its only
// separator is the first character. Returns -1 when it does not fit.
int out_dir_of(const char *out_path, char *dir) {
  const char *sep = last_separator(out_path);
  if (!sep || sep == out_path) {
    std::snprintf(dir, OUT_DIR_SIZE, ".");
    return 0;
  }
  std::size_t len = (std::size_t)(sep - out_path);
  if (len >= OUT_DIR_SIZE) return -1;
  std::memcpy(dir, out_path, len);
  dir[len] = '\0';
  return 0;
}

}  // namespace

extern "C" int ombrelt_mute(const char *in_path, const char *out_path, const char *mode,
                            const char **json_out) {
  if (check_ready(json_out) != 0) return -1;
  if (!in_path || !*in_path || !out_path || !*out_path || !mode || !*mode) {
    set_err("empty path or mode");
    return -1;
  }
  const MuteMode *m = nullptr;
  for (const MuteMode &candidate : MODES)
    if (std::strcmp(mode, candidate.mode) == 0) m = &candidate;
  if (!m) {
    set_err("mode must be 'vocal' or 'instrumental'");
    return -1;
  }
  // Refused before anything is decoded rather than cut to a wrong directory.
  char dir[OUT_DIR_SIZE];
  if (out_dir_of(out_path, dir) != 0) {
    set_err("output path too long");
    return -1;
  }

  float *samples = nullptr;
  int frames = 0;
  if (decode_audio(in_path, &samples, &frames) != 0) return -1;

  char base[BASE_NAME_SIZE];
  base_name(out_path, base);
  ResultDoc result = new_result_doc();
  int rc = do_separate(samples, frames, m->wanted, dir, base, result.doc, result.root);
  std::free(samples);
  if (rc != 0) {
    yyjson_mut_doc_free(result.doc);
    return -1;
  }

  yyjson_mut_val *kept = yyjson_mut_obj_get(result.root, m->kept);
  const char *kept_path = yyjson_mut_get_str(kept);
  if (!kept_path) {
    set_err("internal: missing %s stem path", m->kept);
    yyjson_mut_doc_free(result.doc);
    return -1;
  }
  if (std::rename(kept_path, out_path) < 0) {
    set_err("cannot rename %s -> %s", kept_path, out_path);
    yyjson_mut_doc_free(result.doc);
    return -1;
  }
  // The moved stem's member would name a file that no longer exists; "path"
  // says where it went.
  yyjson_mut_obj_remove_key(result.root, m->kept);
  yyjson_mut_obj_add_strcpy(result.doc, result.root, "path", out_path);
  yyjson_mut_obj_add_strcpy(result.doc, result.root, "mode", mode);
  return finish_json(result.doc, json_out);
}
