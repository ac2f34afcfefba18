// Checks and set-up shared by the separating operations.
#include <yyjson.h>

#include "frame/frame.h"
#include "ops/ops.h"

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

ResultDoc new_result_doc() {
  yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
  yyjson_mut_val *root = yyjson_mut_obj(doc);
  yyjson_mut_doc_set_root(doc, root);
  return {doc, root};
}
