// ombrelt_probe on arbitrary bytes: a JSON object with the five members in
// their order, or -1 with one of probe's messages.
#include <cstring>
#include <string>

#include <yyjson.h>

#include "fuzz_support.h"
#include "ombrelt.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  quiet_media_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *path = bytes_as_file(data, size);
  const char *json = "untouched";
  if (ombrelt_probe(path, &json) != 0) {
    if (std::strcmp(json, "untouched") != 0) finding("json_out written on failure", json);
    const std::string err = ombrelt_last_error();
    const std::string p = path;
    if (err != "cannot open " + p && err != "no stream info for " + p &&
        err != "no audio stream in " + p && err != "json build failed")
      finding("unexpected message", err.c_str());
    return 0;
  }
  yyjson_doc *doc = yyjson_read(json, std::strlen(json), 0);
  yyjson_val *root = yyjson_doc_get_root(doc);
  if (!yyjson_is_obj(root)) finding("result is no JSON object", json);
  const char *order[] = {"duration_s", "sample_rate", "channels", "codec", "bitrate"};
  std::size_t next = 0, idx, max;
  yyjson_val *key, *val;
  yyjson_obj_foreach(root, idx, max, key, val) {
    while (next < 5 && std::strcmp(yyjson_get_str(key), order[next]) != 0) {
      if (next != 3) finding("member missing or out of order", json);  // only codec may go
      next++;
    }
    if (next == 5) finding("unexpected member", json);
    next++;
  }
  if (next != 5) finding("members missing", json);
  if (yyjson_get_sint(yyjson_obj_get(root, "channels")) < 1) finding("no channels", json);
  yyjson_doc_free(doc);
  return 0;
}
