// The stem list of ombrelt_separate. The input does not exist, so every run
// ends once the list has been judged: refused as no array, refused as
// naming no stem, or accepted and then stopped at the missing input.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "ombrelt.h"

namespace {

const char *const NOT_AN_ARRAY = "stems_json must be a JSON array, e.g. [\"vocals\",\"instrumental\"]";
const char *const NO_STEMS = "no valid stems requested (use vocals/instrumental/other/bass/drums)";
const std::string CANNOT_OPEN = std::string("cannot open ") + MISSING_INPUT;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  init_with_test_models();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *list = bytes_as_text(data, size);
  const char *json = "untouched";
  int rc = ombrelt_separate(MISSING_INPUT, "ombrelt-fuzz-out", list, &json);
  const char *err = ombrelt_last_error();
  if (rc != -1) finding("a missing input was separated", json);
  if (std::strcmp(json, "untouched") != 0) finding("json_out written on failure", json);
  if (*list == '\0' || std::strcmp(err, CANNOT_OPEN.c_str()) == 0) {
    // Accepted lists name at least one stem (or are empty: all stems).
    if (std::strcmp(err, CANNOT_OPEN.c_str()) != 0) finding("empty list refused", err);
    if (*list && !std::strstr(list, "vocals") && !std::strstr(list, "other") &&
        !std::strstr(list, "bass") && !std::strstr(list, "drums") &&
        !std::strstr(list, "instrumental") && !std::strchr(list, '\\'))
      finding("a list naming no stem was accepted", list);
    return 0;
  }
  if (std::strcmp(err, NOT_AN_ARRAY) != 0 && std::strcmp(err, NO_STEMS) != 0)
    finding("unexpected message", err);
  return 0;
}
