#include "support/json_view.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <cstring>

namespace testing_support {

std::vector<JsonMember> json_members(const char *text) {
  std::vector<JsonMember> out;
  if (!text) {
    ADD_FAILURE() << "no JSON text";
    return out;
  }
  yyjson_doc *doc = yyjson_read(text, std::strlen(text), 0);
  yyjson_val *root = yyjson_doc_get_root(doc);
  if (!yyjson_is_obj(root)) {
    ADD_FAILURE() << "not a JSON object: " << text;
    yyjson_doc_free(doc);
    return out;
  }
  size_t idx, max;
  yyjson_val *key, *val;
  yyjson_obj_foreach(root, idx, max, key, val) {
    JsonMember m;
    m.key = yyjson_get_str(key);
    if (yyjson_is_str(val)) {
      m.type = "string";
      m.str = yyjson_get_str(val);
    } else if (yyjson_is_int(val)) {
      m.type = "int";
      m.num = (double)yyjson_get_sint(val);
    } else if (yyjson_is_real(val)) {
      m.type = "real";
      m.num = yyjson_get_real(val);
    } else {
      m.type = yyjson_get_type_desc(val);
    }
    out.push_back(m);
  }
  yyjson_doc_free(doc);
  return out;
}

std::vector<std::string> json_keys(const char *text) {
  std::vector<std::string> keys;
  for (const JsonMember &m : json_members(text)) keys.push_back(m.key);
  return keys;
}

JsonMember json_member(const char *text, const std::string &key) {
  for (const JsonMember &m : json_members(text))
    if (m.key == key) return m;
  ADD_FAILURE() << "no member " << key << " in " << (text ? text : "(null)");
  return {};
}

}  // namespace testing_support
