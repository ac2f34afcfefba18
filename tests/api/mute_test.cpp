#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "ombrelt.h"
#include "support/dir_watch.h"
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

const char *const BAD_MODE = "mode must be 'vocal' or 'instrumental'";

// Runs the test body inside dir, so relative output paths land there.
class InDirectory {
 public:
  explicit InDirectory(const std::string &dir) {
    char buf[4096];
    old_ = getcwd(buf, sizeof buf) ? buf : ".";
    EXPECT_EQ(chdir(dir.c_str()), 0);
  }
  ~InDirectory() { (void)!chdir(old_.c_str()); }

 private:
  std::string old_;
};

TEST(MuteBeforeInit, IsRefusedWhateverTheArguments) {
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_mute(nullptr, nullptr, nullptr, &json), -1);
  EXPECT_STREQ(ombrelt_last_error(), "not initialized — call ombrelt_init first");
  EXPECT_STREQ(json, "untouched");
}

class Mute : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ombrelt_init(models("identity").c_str()), 0) << ombrelt_last_error();
    // A quiet input, so that the instrumental mix (three identity stems) does not clip.
    std::vector<float> s(2 * 44100);
    for (size_t n = 0; n < s.size() / 2; n++) {
      s[2 * n] = 0.1f * std::sin(0.03f * (float)n);
      s[2 * n + 1] = 0.1f * std::sin(0.05f * (float)n);
    }
    input_ = tmp_ / "quiet.wav";
    testing_support::write_float_wav(input_, s, 2, 44100);
  }
  void TearDown() override { ombrelt_cleanup(); }

  TempDir tmp_;
  std::string input_;
};

TEST_F(Mute, ModesAndArgumentsAreChecked) {
  struct {
    const char *out, *mode;
    bool null_out;
    const char *message;
  } cases[] = {
      {"x.wav", "vocal", true, "json_out is null"},
      {"x.wav", "vocals", false, BAD_MODE},
      {"x.wav", "Vocal", false, BAD_MODE},
      {"x.wav", "instrumentals", false, BAD_MODE},
      {"x.wav", "", false, "empty path or mode"},
      {"x.wav", nullptr, false, "empty path or mode"},
      {"", "vocal", false, "empty path or mode"},
      {nullptr, "vocal", false, "empty path or mode"},
  };
  for (auto &c : cases) {
    const char *json = "untouched";
    EXPECT_EQ(ombrelt_mute(input_.c_str(), c.out, c.mode, c.null_out ? nullptr : &json), -1);
    EXPECT_STREQ(ombrelt_last_error(), c.message);
    EXPECT_STREQ(json, "untouched");
  }
  const char *json = nullptr;
  EXPECT_EQ(ombrelt_mute(nullptr, "x.wav", "vocal", &json), -1);
  EXPECT_STREQ(ombrelt_last_error(), "empty path or mode");
}

TEST_F(Mute, VocalModeLeavesTheAccompanimentAtOutPath) {
  const std::string out = tmp_ / "mix/song.wav";
  ASSERT_EQ(::mkdir((tmp_ / "mix").c_str(), 0777), 0);
  const char *json = nullptr;
  ASSERT_EQ(ombrelt_mute(input_.c_str(), out.c_str(), "vocal", &json), 0) << ombrelt_last_error();
  EXPECT_STREQ(ombrelt_last_error(), "");
  const std::vector<std::string> keys = {"other", "bass", "drums", "duration_s",
                                         "chunks", "elapsed_s", "path", "mode"};
  EXPECT_EQ(json_keys(json), keys);
  EXPECT_EQ(json_member(json, "path").str, out);
  EXPECT_EQ(json_member(json, "mode").str, "vocal");
  for (const char *stem : {"other", "bass", "drums"}) {
    EXPECT_EQ(json_member(json, stem).str, tmp_ / "mix/song_" + stem + ".wav");
    EXPECT_TRUE(file_exists(json_member(json, stem).str));
  }
  EXPECT_FALSE(file_exists(tmp_ / "mix/song_instrumental.wav"));

  // The file at out_path is the instrumental mix: other + bass + drums.
  auto mix = read_wav16(out);
  auto other = read_wav16(tmp_ / "mix/song_other.wav");
  ASSERT_EQ(mix.samples.size(), other.samples.size());
  for (size_t i = 0; i < mix.samples.size(); i++)
    ASSERT_NEAR(mix.samples[i], 3 * other.samples[i], 3) << i;
}

TEST_F(Mute, InstrumentalModeLeavesTheVocalsAtOutPath) {
  const std::string out = tmp_ / "vocals_only.mp3";
  const char *json = nullptr;
  ASSERT_EQ(ombrelt_mute(input_.c_str(), out.c_str(), "instrumental", &json), 0)
      << ombrelt_last_error();
  const std::vector<std::string> keys = {"duration_s", "chunks", "elapsed_s", "path", "mode"};
  EXPECT_EQ(json_keys(json), keys);
  EXPECT_EQ(json_member(json, "mode").str, "instrumental");
  EXPECT_FALSE(file_exists(tmp_ / "vocals_only_vocals.wav"));
  // WAV data whatever the extension.
  auto vocals = read_wav16(out);
  EXPECT_EQ(vocals.samples.size(), 2u * 44100);
  EXPECT_NE(vocals.samples[2 * 22050], 0);
}

TEST_F(Mute, AnOutPathWithoutDirectoryUsesTheCurrentOne) {
  InDirectory here(tmp_.path());
  const char *json = nullptr;
  ASSERT_EQ(ombrelt_mute(input_.c_str(), "song.wav", "vocal", &json), 0) << ombrelt_last_error();
  EXPECT_EQ(json_member(json, "other").str, "./song_other.wav");
  EXPECT_EQ(json_member(json, "path").str, "song.wav");
  for (const char *f : {"song.wav", "song_other.wav", "song_bass.wav", "song_drums.wav"})
    EXPECT_TRUE(file_exists(tmp_ / f)) << f;
}

TEST_F(Mute, ABackslashSeparatesTheDirectoryToo) {
  InDirectory here(tmp_.path());
  const char *json = nullptr;
  ASSERT_EQ(ombrelt_mute(input_.c_str(), "C:\\music\\song.wav", "vocal", &json), 0)
      << ombrelt_last_error();
  // The directory is C:\music; the engine joins its files with a slash.
  EXPECT_EQ(json_member(json, "other").str, "C:\\music/song_other.wav");
  EXPECT_TRUE(file_exists(tmp_ / "C:\\music/song_bass.wav"));
  EXPECT_TRUE(file_exists(tmp_ / "C:\\music\\song.wav"));
}

TEST_F(Mute, AnOutPathEndingInASeparatorCannotBeRenamedOnto) {
  InDirectory here(tmp_.path());
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_mute(input_.c_str(), "out/", "vocal", &json), -1);
  EXPECT_STREQ(ombrelt_last_error(), "cannot rename out/_instrumental.wav -> out/");
  EXPECT_STREQ(json, "untouched");
  // Until the move has succeeded no stem has its name, and the directory
  // made for them goes again.
  EXPECT_FALSE(file_exists(tmp_ / "out"));
}

TEST_F(Mute, AFailedMoveLeavesEarlierStemsAlone) {
  ASSERT_EQ(::mkdir((tmp_ / "out").c_str(), 0777), 0);
  std::ofstream(tmp_ / "out/_other.wav") << "an older stem";
  testing_support::DirWatch watch(tmp_ / "out");
  const char *json = "untouched";
  EXPECT_EQ(ombrelt_mute(input_.c_str(), (tmp_ / "out/").c_str(), "vocal", &json), -1);
  EXPECT_EQ(std::string(ombrelt_last_error()),
            "cannot rename " + tmp_ / "out/_instrumental.wav -> " + tmp_ / "out/");
  EXPECT_EQ(testing_support::finished_names(watch.appeared()), std::set<std::string>{});
  EXPECT_EQ(testing_support::entries_of(tmp_ / "out"), std::set<std::string>{"_other.wav"});
  std::ifstream older(tmp_ / "out/_other.wav");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(older), {}), "an older stem");
}

TEST_F(Mute, AnOverlongDirectoryIsRefusedBeforeDecoding) {
  const std::string out = std::string(1024, 'd') + "/song.wav";
  const char *json = nullptr;
  EXPECT_EQ(ombrelt_mute("no_such_input.wav", out.c_str(), "vocal", &json), -1);
  EXPECT_STREQ(ombrelt_last_error(), "output path too long");
  // One character less fits; the call then goes on to decode.
  const std::string fits = std::string(1023, 'd') + "/song.wav";
  EXPECT_EQ(ombrelt_mute("no_such_input.wav", fits.c_str(), "vocal", &json), -1);
  EXPECT_STREQ(ombrelt_last_error(), "cannot open no_such_input.wav");
}

}  // namespace
