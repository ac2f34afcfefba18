// ombrelt_probe: what an audio file holds, without decoding it.
#include "audio/audio.h"
#include "frame/frame.h"
#include "ombrelt.h"

extern "C" int ombrelt_probe(const char *path, const char **json_out) {
  if (!json_out) {
    set_err("json_out is null");
    return -1;
  }
  yyjson_mut_doc *doc = nullptr;
  if (probe_document(path, &doc) != 0) return -1;
  return finish_json(doc, json_out);
}
