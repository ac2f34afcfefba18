// Paths as hosts hand them over: spaces, quotes, printf directives, UTF-8,
// names that look like media-library protocols, names too long for the
// library's buffers, and bytes that are not UTF-8.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ombrelt.h"
#include "support/json_view.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::file_exists;
using testing_support::json_member;
using testing_support::media;
using testing_support::models;
using testing_support::read_wav16;
using testing_support::TempDir;

class HostileNames : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ombrelt_init(models("identity").c_str()), 0) << ombrelt_last_error();
  }
  void TearDown() override { ombrelt_cleanup(); }

  // A copy of the shortest accepted input under the given file name.
  std::string input_named(const std::string &name) {
    const std::string path = tmp_ / name;
    fs::copy_file(media("stereo_4410.wav"), path);
    return path;
  }

  TempDir tmp_;
};

// Every file below tmp_, relative to it.
std::set<std::string> files_below(const std::string &dir) {
  std::set<std::string> out;
  for (const auto &entry : fs::recursive_directory_iterator(dir))
    if (!entry.is_directory()) out.insert(fs::relative(entry.path(), dir).string());
  return out;
}

TEST_F(HostileNames, AwkwardCharactersRoundTrip) {
  const char *names[] = {
      "with space",   "it's \"quoted\"", "100%s %n %x", "ñandú 音楽 🎵", "semi;colon & $(true)",
      "-leading dash", "tab\there",      "line\nbreak", "{\"json\":[1]}",
  };
  const std::string out = tmp_ / "out dir 'ü'";
  for (const char *name : names) {
    SCOPED_TRACE(name);
    const std::string input = input_named(std::string(name) + ".wav");
    const char *json = "untouched";
    ASSERT_EQ(ombrelt_separate(input.c_str(), out.c_str(), "[\"vocals\"]", &json), 0)
        << ombrelt_last_error();
    const std::string stem = json_member(json, "vocals").str;
    EXPECT_EQ(stem, out + "/" + name + "_vocals.wav");
    EXPECT_EQ(read_wav16(stem).samples.size(), 2u * 4410);

    const std::string kept = out + "/" + name + " muted.mp3";
    ASSERT_EQ(ombrelt_mute(input.c_str(), kept.c_str(), "instrumental", &json), 0)
        << ombrelt_last_error();
    EXPECT_EQ(json_member(json, "path").str, kept);
    EXPECT_EQ(read_wav16(kept).samples.size(), 2u * 4410);
  }
}

// Directory names that the media library would read as protocols ("pipe:"
// writes to a descriptor of the host) must still name directories.
TEST_F(HostileNames, DirectoriesThatLookLikeProtocolsHoldTheStems) {
  const std::string input = input_named("song.wav");
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(tmp_.path().c_str()), 0);
  for (const char *dir : {"pipe:", "file:stems", "stems:2024", "tcp:"}) {
    SCOPED_TRACE(dir);
    const char *json = "untouched";
    EXPECT_EQ(ombrelt_separate(input.c_str(), dir, "[\"vocals\"]", &json), 0)
        << ombrelt_last_error();
    const std::string stem = std::string(dir) + "/song_vocals.wav";
    EXPECT_EQ(json_member(json, "vocals").str, stem);
    EXPECT_TRUE(file_exists(stem));
  }
  ASSERT_EQ(chdir(old), 0);
}

struct LongNameCase {
  std::size_t base_length;
  const char *stems_json;
  const char *too_long;  // the stem whose file name does not fit, or nullptr
};

// Stem file names have room for 127 characters. A name that does not fit is
// refused before anything is written: cut names would end alike, and every
// stem would overwrite the one before it under one reported path.
TEST_F(HostileNames, StemFileNamesThatDoNotFitAreRefused) {
  const LongNameCase cases[] = {
      {110, nullptr, nullptr},                  // x..._instrumental.wav is 127 characters
      {111, nullptr, "instrumental"},
      {116, "[\"vocals\"]", nullptr},           // x..._vocals.wav is 127
      {117, "[\"vocals\"]", "vocals"},
      {200, nullptr, "vocals"},                 // every cut name would be the same
  };
  for (const LongNameCase &c : cases) {
    SCOPED_TRACE(c.base_length);
    const std::string base(c.base_length, 'x');
    const std::string input = input_named(base + ".wav");
    const std::string out = tmp_ / ("out" + std::to_string(c.base_length));
    const char *json = "untouched";
    int rc = ombrelt_separate(input.c_str(), out.c_str(), c.stems_json, &json);
    if (!c.too_long) {
      EXPECT_EQ(rc, 0) << ombrelt_last_error();
      EXPECT_EQ(json_member(json, "vocals").str, out + "/" + base + "_vocals.wav");
      continue;
    }
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(std::string(ombrelt_last_error()),
              "output file name too long: " + base + "_" + c.too_long + ".wav");
    EXPECT_STREQ(json, "untouched");
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST_F(HostileNames, MuteRefusesAStemFileNameThatDoesNotFit) {
  const std::string input = input_named("song.wav");
  const std::string base(120, 'y');
  const std::string out = tmp_ / (base + ".wav");
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_mute(input.c_str(), out.c_str(), "vocal", &json), -1);
  EXPECT_EQ(std::string(ombrelt_last_error()),
            "output file name too long: " + base + "_other.wav");
  EXPECT_FALSE(file_exists(out));
}

// Stem paths have room for 1199 characters; the directory is cut nowhere.
TEST_F(HostileNames, StemPathsThatDoNotFitAreRefused) {
  const std::string input = input_named("song.wav");
  const std::string name = "/song_vocals.wav";
  for (std::size_t length : {std::size_t(1199), std::size_t(1200)}) {
    SCOPED_TRACE(length);
    // Nested directories of at most 200 characters each, the last of them
    // left for the engine to make.
    const std::size_t dir_length = length - name.size();
    std::string dir = tmp_.path() + "/" + std::to_string(length);
    while (dir.size() < dir_length) {
      fs::create_directories(dir);
      std::size_t room = dir_length - dir.size() - 1;
      // Never leave a remainder too short for one more "/" and a character.
      std::size_t take = room <= 200 ? room : (room - 200 >= 2 ? 200 : 150);
      dir += "/" + std::string(take, 'd');
    }
    ASSERT_EQ(dir.size() + name.size(), length);
    const char *json = "untouched";
    int rc = ombrelt_separate(input.c_str(), dir.c_str(), "[\"vocals\"]", &json);
    if (length == 1199) {
      EXPECT_EQ(rc, 0) << ombrelt_last_error();
      EXPECT_EQ(json_member(json, "vocals").str, dir + name);
      EXPECT_TRUE(file_exists(dir + name));
    } else {
      EXPECT_EQ(rc, -1);
      EXPECT_EQ(std::string(ombrelt_last_error()),
                ("output path too long: " + dir + name).substr(0, 1023));
      EXPECT_FALSE(fs::exists(dir));
    }
  }
  // Only the stem of the path that fits was written, at its own name.
  std::set<std::string> written;
  for (const std::string &f : files_below(tmp_.path()))
    if (f != "song.wav") written.insert(f);
  EXPECT_EQ(written.size(), 1u);
}

TEST_F(HostileNames, OverlongInputPathIsCutInTheMessageOnly) {
  const std::string input = tmp_ / (std::string(3000, 'z') + ".wav");
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_separate(input.c_str(), (tmp_ / "out").c_str(), nullptr, &json), -1);
  EXPECT_EQ(std::string(ombrelt_last_error()), ("cannot open " + input).substr(0, 1023));
  EXPECT_EQ(ombrelt_probe(input.c_str(), &json), -1);
  EXPECT_EQ(std::string(ombrelt_last_error()), ("cannot open " + input).substr(0, 1023));
  EXPECT_STREQ(json, "untouched");
}

// Names that are not UTF-8 cannot go into the JSON result: the files are
// written all the same, then the call reports that it cannot say so.
TEST_F(HostileNames, BytesThatAreNotUtf8WriteTheFilesThenFail) {
  const std::string input = input_named("caf\xe9.wav");
  const std::string out = tmp_ / "out";
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_separate(input.c_str(), out.c_str(), "[\"vocals\"]", &json), -1);
  EXPECT_STREQ(ombrelt_last_error(), "json build failed");
  EXPECT_STREQ(json, "untouched");
  EXPECT_TRUE(file_exists(out + "/caf\xe9_vocals.wav"));

  const std::string kept = tmp_ / "\xff\xfe.wav";
  EXPECT_EQ(ombrelt_mute(input.c_str(), kept.c_str(), "instrumental", &json), -1);
  EXPECT_STREQ(ombrelt_last_error(), "json build failed");
  EXPECT_TRUE(file_exists(kept));

  // Probe puts no path into its result.
  EXPECT_EQ(ombrelt_probe(input.c_str(), &json), 0) << ombrelt_last_error();
}

}  // namespace
