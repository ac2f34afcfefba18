#include <gtest/gtest.h>
#include <yyjson.h>

#include <string>

#include "frame/frame.h"
#include "ombrelt.h"

namespace {

TEST(Reporting, LastErrorStartsEmptyAndIsNeverNull) {
  ASSERT_NE(ombrelt_last_error(), nullptr);
  EXPECT_STREQ(ombrelt_last_error(), "");
}

TEST(Reporting, VersionIsConstant) { EXPECT_STREQ(ombrelt_version(), "1.0.0"); }

TEST(Reporting, SetErrCutsAt1023Characters) {
  std::string long_text(2000, 'e');
  set_err("%s", long_text.c_str());
  EXPECT_EQ(std::string(ombrelt_last_error()), long_text.substr(0, 1023));
  set_err("cannot open %s", "x.wav");
  EXPECT_STREQ(ombrelt_last_error(), "cannot open x.wav");
}

// A document {"k":"..."} whose serialised text has exactly `length` characters.
yyjson_mut_doc *doc_of_length(size_t length) {
  yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
  yyjson_mut_val *root = yyjson_mut_obj(doc);
  yyjson_mut_doc_set_root(doc, root);
  const size_t overhead = std::string(R"({"k":""})").size();
  std::string value(length - overhead, 'v');
  yyjson_mut_obj_add_strncpy(doc, root, "k", value.data(), value.size());
  return doc;
}

TEST(FinishJson, Accepts8191CharactersAndRefuses8192) {
  const char *out = nullptr;
  ASSERT_EQ(finish_json(doc_of_length(8191), &out), 0);
  EXPECT_EQ(out, g_json_sink);
  EXPECT_EQ(std::string(out).size(), 8191u);

  std::string before = g_json_sink;
  const char *untouched = "host value";
  out = untouched;
  EXPECT_EQ(finish_json(doc_of_length(8192), &out), -1);
  EXPECT_STREQ(ombrelt_last_error(), "json too long");
  EXPECT_EQ(out, untouched);
  EXPECT_EQ(std::string(g_json_sink), before);
}

TEST(FinishJson, KeepsInsertionOrderOnOneLine) {
  yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
  yyjson_mut_val *root = yyjson_mut_obj(doc);
  yyjson_mut_doc_set_root(doc, root);
  yyjson_mut_obj_add_strcpy(doc, root, "vocals", "out/a.wav");
  yyjson_mut_obj_add_real(doc, root, "duration_s", 10.0);
  yyjson_mut_obj_add_int(doc, root, "chunks", 6);
  const char *out = nullptr;
  ASSERT_EQ(finish_json(doc, &out), 0);
  EXPECT_STREQ(out, R"({"vocals":"out/a.wav","duration_s":10.0,"chunks":6})");
}

TEST(FinishJson, RefusesMissingDocumentsAndUnwritableContent) {
  const char *out = "unchanged";
  EXPECT_EQ(finish_json(nullptr, &out), -1);
  EXPECT_STREQ(ombrelt_last_error(), "json build failed");

  yyjson_mut_doc *no_root = yyjson_mut_doc_new(nullptr);
  EXPECT_EQ(finish_json(no_root, &out), -1);
  EXPECT_STREQ(ombrelt_last_error(), "json build failed");

  yyjson_mut_doc *bad_utf8 = yyjson_mut_doc_new(nullptr);
  yyjson_mut_val *root = yyjson_mut_obj(bad_utf8);
  yyjson_mut_doc_set_root(bad_utf8, root);
  yyjson_mut_obj_add_strcpy(bad_utf8, root, "path", "out/\xff\xfe.wav");
  set_err("earlier");
  EXPECT_EQ(finish_json(bad_utf8, &out), -1);
  EXPECT_STREQ(ombrelt_last_error(), "json build failed");
  EXPECT_STREQ(out, "unchanged");
}

}  // namespace
