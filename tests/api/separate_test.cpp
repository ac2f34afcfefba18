#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ombrelt.h"
#include "support/json_view.h"
#include "support/test_support.h"

namespace {

using testing_support::file_exists;
using testing_support::json_keys;
using testing_support::json_member;
using testing_support::media;
using testing_support::models;
using testing_support::read_wav16;
using testing_support::TempDir;

const char *const NOT_AN_ARRAY = "stems_json must be a JSON array, e.g. [\"vocals\",\"instrumental\"]";
const char *const NO_STEMS = "no valid stems requested (use vocals/instrumental/other/bass/drums)";
const char *const NOT_READY = "not initialized — call ombrelt_init first";

std::set<std::string> files_in(const std::string &dir) {
  std::set<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

TEST(SeparateBeforeInit, IsRefusedWhateverTheArguments) {
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_separate(nullptr, nullptr, nullptr, &json), -1);
  EXPECT_STREQ(ombrelt_last_error(), NOT_READY);
  EXPECT_EQ(ombrelt_separate(media("stereo_44k_2s.wav").c_str(), "out", "[]", nullptr), -1);
  EXPECT_STREQ(ombrelt_last_error(), NOT_READY);
  EXPECT_STREQ(json, "untouched");
}

class Separate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ombrelt_init(models("identity").c_str()), 0) << ombrelt_last_error();
  }
  void TearDown() override { ombrelt_cleanup(); }
};

struct StemListCase {
  const char *stems_json;
  std::vector<std::string> members;  // stem members in order; empty when refused
  const char *message;               // expected failure, or nullptr
};

TEST_F(Separate, StemListsSelectFilesOrAreRefused) {
  const std::vector<std::string> all = {"vocals", "other", "bass", "drums", "instrumental"};
  const std::vector<std::string> accompaniment = {"other", "bass", "drums", "instrumental"};
  const StemListCase cases[] = {
      {nullptr, all, nullptr},
      {"", all, nullptr},
      {"[\"vocals\", 5, null, [\"bass\"]]", {"vocals"}, nullptr},
      {"[\"instrumental\"]", accompaniment, nullptr},
      {"[\"other\",\"bass\",\"drums\"]", accompaniment, nullptr},
      {"[\"vocals\",\"vocals\"]", {"vocals"}, nullptr},
      {"[\"drums\",\"bass\"]", {"bass", "drums"}, nullptr},
      {"   ", {}, NOT_AN_ARRAY},
      {"{\"stems\":[\"vocals\"]}", {}, NOT_AN_ARRAY},
      {"\"vocals\"", {}, NOT_AN_ARRAY},
      {"[\"vocals\",]", {}, NOT_AN_ARRAY},
      {"[\"vocals\"] // all", {}, NOT_AN_ARRAY},
      {"[\"voc\xff\"]", {}, NOT_AN_ARRAY},
      {"[]", {}, NO_STEMS},
      {"[\"Vocals\"]", {}, NO_STEMS},
  };
  const std::string input = media("stereo_4410.wav");
  for (const StemListCase &c : cases) {
    SCOPED_TRACE(c.stems_json ? c.stems_json : "(null)");
    TempDir tmp;
    const std::string out = tmp / "out";
    const char *json = "untouched";
    int rc = ombrelt_separate(input.c_str(), out.c_str(), c.stems_json, &json);
    if (c.message) {
      EXPECT_EQ(rc, -1);
      EXPECT_STREQ(ombrelt_last_error(), c.message);
      EXPECT_STREQ(json, "untouched");
      EXPECT_FALSE(file_exists(out));
      continue;
    }
    ASSERT_EQ(rc, 0) << ombrelt_last_error();
    EXPECT_STREQ(ombrelt_last_error(), "");
    std::vector<std::string> keys = c.members;
    for (const char *k : {"duration_s", "chunks", "elapsed_s"}) keys.push_back(k);
    EXPECT_EQ(json_keys(json), keys);
    std::set<std::string> expected_files;
    for (const std::string &m : c.members) {
      expected_files.insert("stereo_4410_" + m + ".wav");
      EXPECT_EQ(json_member(json, m).str, out + "/stereo_4410_" + m + ".wav");
    }
    EXPECT_EQ(files_in(out), expected_files);
  }
}

TEST_F(Separate, ABadListIsReportedBeforeAMissingInput) {
  const char *json = nullptr;
  EXPECT_EQ(ombrelt_separate(media("no_such.wav").c_str(), "out", "{}", &json), -1);
  EXPECT_STREQ(ombrelt_last_error(), NOT_AN_ARRAY);
}

TEST_F(Separate, ArgumentsAreChecked) {
  const std::string input = media("stereo_4410.wav");
  const std::string missing = media("no_such.wav");
  const std::string short_input = media("stereo_4409.wav");
  struct {
    const char *in, *out;
    bool null_out;
    std::string message;
  } cases[] = {
      {input.c_str(), "out", true, "json_out is null"},
      {nullptr, "out", false, "empty in_path or out_dir"},
      {"", "out", false, "empty in_path or out_dir"},
      {input.c_str(), nullptr, false, "empty in_path or out_dir"},
      {input.c_str(), "", false, "empty in_path or out_dir"},
      {missing.c_str(), "out", false, "cannot open " + missing},
      {short_input.c_str(), "out", false, "audio too short (4409 samples)"},
  };
  for (auto &c : cases) {
    const char *json = "untouched";
    EXPECT_EQ(ombrelt_separate(c.in, c.out, "[\"vocals\"]", c.null_out ? nullptr : &json), -1);
    EXPECT_EQ(std::string(ombrelt_last_error()), c.message);
    EXPECT_STREQ(json, "untouched");
  }
}

// An input that fails before its first chunk could start, or that ends too
// short, leaves no trace: not even the output directory.
TEST_F(Separate, AnInputThatFailsEarlyLeavesNoTrace) {
  for (const char *name : {"no_such.wav", "stereo_4409.wav", "video_only.mp4", "not_media.txt"}) {
    SCOPED_TRACE(name);
    TempDir tmp;
    const std::string out = tmp / "out";
    const char *json = "untouched";
    EXPECT_EQ(ombrelt_separate(media(name).c_str(), out.c_str(), nullptr, &json), -1);
    EXPECT_STRNE(ombrelt_last_error(), "");
    EXPECT_FALSE(file_exists(out));
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
  }
}

TEST_F(Separate, IdentityModelsReturnTheInput) {
  TempDir tmp;
  const char *json = nullptr;
  ASSERT_EQ(ombrelt_separate(media("stereo_44k_2s.wav").c_str(), tmp.path().c_str(),
                             "[\"vocals\"]", &json),
            0)
      << ombrelt_last_error();
  EXPECT_EQ(json_member(json, "duration_s").num, 2.0);
  EXPECT_EQ(json_member(json, "chunks").num, 1);
  auto in = read_wav16(media("stereo_44k_2s.wav"));
  auto out = read_wav16(tmp / "stereo_44k_2s_vocals.wav");
  ASSERT_EQ(in.samples.size(), out.samples.size());
  const size_t covered = 86 * 1024;  // 88200 samples rounded down to whole hops
  for (size_t i = 2 * 131; i < 2 * (covered - 130); i++)
    ASSERT_NEAR(out.samples[i], in.samples[i], 4) << i;
}

TEST_F(Separate, AnOutputDirectoryEndingInASlashGetsNoSecondOne) {
  TempDir tmp;
  const std::string out = tmp / "stems/";
  const char *json = nullptr;
  ASSERT_EQ(ombrelt_separate(media("stereo_2s.flac").c_str(), out.c_str(), "[\"vocals\"]", &json),
            0)
      << ombrelt_last_error();
  EXPECT_EQ(json_member(json, "vocals").str, out + "stereo_2s_vocals.wav");
  EXPECT_TRUE(file_exists(out + "stereo_2s_vocals.wav"));
}

}  // namespace
