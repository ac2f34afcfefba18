// ombrelt_separate: decode, separate into the requested stems, report.
#include "frame/frame.h"
#include "ombrelt.h"
#include "api/api.h"

extern "C" int ombrelt_separate(const char *in_path, const char *out_dir, const char *stems_json,
                                const char **json_out) {
  if (check_ready(json_out) != 0) return -1;
  if (!in_path || !*in_path || !out_dir || !*out_dir) {
    set_err("empty in_path or out_dir");
    return -1;
  }
  // The list is judged before the input is touched, so a bad list is
  // reported even for a missing file.
  SeparationRequest request{};
  if (parse_stem_request(stems_json, request.stems_wanted) != 0) return -1;

  char base[BASE_NAME_SIZE];
  base_name(in_path, base);
  request.out_dir = out_dir;
  request.base = base;
  static SeparationResult result;
  if (separate_file(in_path, request, &result) != 0) return -1;
  return finish_json(separation_json(result, -1), json_out);
}
