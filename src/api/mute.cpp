// ombrelt_mute: keep the accompaniment (mode "vocal") or the vocals (mode
// "instrumental") of a song in one named file.
#include <cstdio>
#include <cstring>

#include <yyjson.h>

#include "frame/frame.h"
#include "ombrelt.h"
#include "api/api.h"

namespace {

struct MuteMode {
  const char *mode;
  int wanted[N_STEMS];  // in Stem order
  int kept;       // the output that moves onto out_path
};

constexpr MuteMode MODES[] = {
    {"vocal", {0, 1, 1, 1}, OUT_INSTRUMENTAL},
    {"instrumental", {1, 0, 0, 0}, OUT_VOCALS},
};

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
  char dir[DIR_PART_SIZE];
  if (directory_of(out_path, dir) != 0) {
    set_err("output path too long");
    return -1;
  }

  char base[BASE_NAME_SIZE];
  base_name(out_path, base);
  SeparationRequest request{};
  for (int s = 0; s < N_STEMS; s++) request.stems_wanted[s] = m->wanted[s];
  request.out_dir = dir;
  request.base = base;
  request.moved_output = m->kept;
  request.moved_to = out_path;
  static SeparationResult result;
  if (separate_file(in_path, request, &result) != 0) return -1;

  // The moved output's own name would point at nothing; "path" says where
  // it went.
  yyjson_mut_doc *doc = separation_json(result, m->kept);
  if (yyjson_mut_val *root = yyjson_mut_doc_get_root(doc)) {
    yyjson_mut_obj_add_strcpy(doc, root, "path", out_path);
    yyjson_mut_obj_add_strcpy(doc, root, "mode", mode);
  }
  return finish_json(doc, json_out);
}
