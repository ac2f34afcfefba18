// What the separate and mute operations share: the ready check, the
// decoder feeding the engine, and the result text of a separation.
#include <yyjson.h>

#include "audio/audio.h"
#include "frame/frame.h"
#include "api/api.h"

namespace {

int64_t read_decoder(void *self, float *dst, int64_t max) {
  return decoder_read(static_cast<Decoder *>(self), dst, max);
}

}  // namespace

int check_ready(const char **json_out) {
  if (!g_ready) {
    set_err("not initialized — call ombrelt_init first");
    return -1;
  }
  if (!json_out) {
    set_err("json_out is null");
    return -1;
  }
  return 0;
}

int separate_file(const char *in_path, const SeparationRequest &request, SeparationResult *result) {
  Decoder *decoder = decoder_open(in_path);
  if (!decoder) return -1;
  const SampleSource source{read_decoder, decoder};
  int rc = separate_stream(source, request, result);
  decoder_close(decoder);
  return rc;
}

yyjson_mut_doc *separation_json(const SeparationResult &result, int skipped) {
  yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
  yyjson_mut_val *root = yyjson_mut_obj(doc);
  if (!doc || !root) {
    yyjson_mut_doc_free(doc);
    return nullptr;
  }
  yyjson_mut_doc_set_root(doc, root);
  // Members are added on a best-effort basis: one the document cannot take
  // is missing, and the later ones are still tried.
  for (int o = 0; o < N_OUTPUTS; o++)
    if (result.written[o] && o != skipped)
      yyjson_mut_obj_add_strcpy(doc, root, OUTPUT_NAMES[o], result.path[o]);
  yyjson_mut_obj_add_real(doc, root, "duration_s", result.duration_s);
  yyjson_mut_obj_add_int(doc, root, "chunks", result.chunks);
  yyjson_mut_obj_add_real(doc, root, "elapsed_s", result.elapsed_s);
  return doc;
}
