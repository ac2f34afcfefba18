// ombrelt_separate: decode, separate into the requested stems, report.
#include <cstdlib>

#include <yyjson.h>

#include "audio/audio.h"
#include "engine/engine.h"
#include "engine/stage_timing.h"
#include "frame/frame.h"
#include "ombrelt.h"
#include "ops/ops.h"

extern "C" int ombrelt_separate(const char *in_path, const char *out_dir, const char *stems_json,
                                const char **json_out) {
  if (check_ready(json_out) != 0) return -1;
  if (!in_path || !*in_path || !out_dir || !*out_dir) {
    set_err("empty in_path or out_dir");
    return -1;
  }
  // The list is judged before the input is touched, so a bad list is
  // reported even for a missing file.
  int wanted[4];
  if (parse_stem_request(stems_json, wanted) != 0) return -1;

  float *samples = nullptr;
  int frames = 0;
  OM_STAGE_START(t_decode);
  if (decode_audio(in_path, &samples, &frames) != 0) return -1;
  OM_STAGE_STOP(STAGE_DECODE, t_decode);

  char base[BASE_NAME_SIZE];
  base_name(in_path, base);
  ResultDoc result = new_result_doc();
  int rc = do_separate(samples, frames, wanted, out_dir, base, result.doc, result.root);
  // Only one copy of the signal lives beside the engine's buffers: it goes
  // before the result is serialised.
  std::free(samples);
  if (rc != 0) {
    yyjson_mut_doc_free(result.doc);
    return -1;
  }
  return finish_json(result.doc, json_out);
}
