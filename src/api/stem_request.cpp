// The stem list of ombrelt_separate: a JSON array of stem names.
#include <cstring>

#include <yyjson.h>

#include "frame/frame.h"
#include "api/api.h"

namespace {

// The stems that each name of OUTPUT_NAMES asks for: a stem itself, or the
// accompaniment for "instrumental".
constexpr int OUTPUT_FLAGS[N_OUTPUTS][N_STEMS] = {
    {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}, {0, 1, 1, 1},
};

const char *const NOT_AN_ARRAY = "stems_json must be a JSON array, e.g. [\"vocals\",\"instrumental\"]";

}  // namespace

int parse_stem_request(const char *stems_json, int wanted[N_STEMS]) {
  if (!stems_json || !*stems_json) {
    for (int s = 0; s < N_STEMS; s++) wanted[s] = 1;
    return 0;
  }
  yyjson_doc *doc = yyjson_read(stems_json, std::strlen(stems_json), YYJSON_READ_NOFLAG);
  if (!doc) {
    set_err("%s", NOT_AN_ARRAY);
    return -1;
  }
  yyjson_val *list = yyjson_doc_get_root(doc);
  if (!yyjson_is_arr(list)) {
    yyjson_doc_free(doc);
    set_err("%s", NOT_AN_ARRAY);
    return -1;
  }
  for (int s = 0; s < N_STEMS; s++) wanted[s] = 0;
  size_t idx, max;
  yyjson_val *item;
  yyjson_arr_foreach(list, idx, max, item) {
    // Non-strings and unknown names are passed over; nested arrays are not searched.
    const char *name = yyjson_get_str(item);
    if (!name) continue;
    for (int o = 0; o < N_OUTPUTS; o++)
      if (std::strcmp(name, OUTPUT_NAMES[o]) == 0)
        for (int s = 0; s < N_STEMS; s++) wanted[s] |= OUTPUT_FLAGS[o][s];
  }
  yyjson_doc_free(doc);
  if (!wanted[0] && !wanted[1] && !wanted[2] && !wanted[3]) {
    set_err("no valid stems requested (use vocals/instrumental/other/bass/drums)");
    return -1;
  }
  return 0;
}
