// Serialisation of a result document into the one result buffer.
#include <cstdlib>
#include <cstring>

#include <yyjson.h>

#include "frame/frame.h"

char *write_json(yyjson_mut_doc *doc) {
  // yyjson_mut_write passes a null document through and yields no text.
  char *text = yyjson_mut_write(doc, YYJSON_WRITE_NOFLAG, nullptr);
  yyjson_mut_doc_free(doc);
  if (!text) set_err("json build failed");
  return text;
}

int finish_json(yyjson_mut_doc *doc, const char **json_out) {
  char *text = write_json(doc);
  if (!text) return -1;
  std::size_t len = std::strlen(text);
  if (len > JSON_SINK_SIZE - 1) {
    std::free(text);
    set_err("json too long");
    return -1;
  }
  std::memcpy(g_json_sink, text, len + 1);
  std::free(text);
  *json_out = g_json_sink;
  return 0;
}
