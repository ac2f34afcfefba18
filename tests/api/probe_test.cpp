#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ombrelt.h"
#include "support/json_view.h"
#include "support/test_support.h"

namespace {

using testing_support::json_keys;
using testing_support::json_member;
using testing_support::media;

const std::vector<std::string> PROBE_KEYS = {"duration_s", "sample_rate", "channels", "codec",
                                             "bitrate"};

struct ProbeCase {
  const char *file;
  int sample_rate;
  int channels;
  const char *codec;
};

TEST(Probe, DescribesEachKindOfMedia) {
  const ProbeCase cases[] = {
      {"mono_48k_2s.mp3", 48000, 1, "mp3"},
      {"stereo_44k_2s.wav", 44100, 2, "pcm_s16le"},
      {"mono_44k_2s.wav", 44100, 1, "pcm_s16le"},
      {"stereo_2s.flac", 44100, 2, "flac"},
      {"video_audio.mp4", 44100, 2, "aac"},
  };
  for (const ProbeCase &c : cases) {
    SCOPED_TRACE(c.file);
    const char *json = nullptr;
    ASSERT_EQ(ombrelt_probe(media(c.file).c_str(), &json), 0) << ombrelt_last_error();
    EXPECT_EQ(json_keys(json), PROBE_KEYS);
    EXPECT_EQ(json_member(json, "sample_rate").num, c.sample_rate);
    EXPECT_EQ(json_member(json, "channels").num, c.channels);
    EXPECT_EQ(json_member(json, "codec").str, c.codec);
    EXPECT_EQ(json_member(json, "duration_s").type, "real");
    EXPECT_NEAR(json_member(json, "duration_s").num, 2.0, 0.1);
    EXPECT_GT(json_member(json, "bitrate").num, 0);
  }
}

TEST(Probe, WavDurationIsExact) {
  const char *json = nullptr;
  ASSERT_EQ(ombrelt_probe(media("stereo_44k_10s.wav").c_str(), &json), 0);
  EXPECT_DOUBLE_EQ(json_member(json, "duration_s").num, 10.0);
  // The container rate counts the header too, so it is a little above 1411200.
  EXPECT_NEAR(json_member(json, "bitrate").num, 44100 * 2 * 16, 44100 * 2 * 16 / 100);
}

TEST(Probe, ReportsWhyAFileCannotBeProbed) {
  const std::string missing = media("no_such_file.wav");
  const std::string video_only = media("video_only.mp4");
  const std::string not_media = media("not_media.txt");
  struct {
    const char *path;
    std::vector<std::string> messages;  // any one of them
  } cases[] = {
      {nullptr, {"empty input path"}},
      {"", {"empty input path"}},
      {missing.c_str(), {"cannot open " + missing}},
      {video_only.c_str(), {"no audio stream in " + video_only}},
      {not_media.c_str(), {"cannot open " + not_media, "no stream info for " + not_media}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path ? c.path : "(null)");
    const char *json = "untouched";
    EXPECT_EQ(ombrelt_probe(c.path, &json), -1);
    EXPECT_STREQ(json, "untouched");
    std::string err = ombrelt_last_error();
    EXPECT_NE(std::find(c.messages.begin(), c.messages.end(), err), c.messages.end()) << err;
  }
}

TEST(Probe, NullOutParameterIsRefused) {
  EXPECT_EQ(ombrelt_probe(media("stereo_44k_2s.wav").c_str(), nullptr), -1);
  EXPECT_STREQ(ombrelt_last_error(), "json_out is null");
}

TEST(Probe, FailureKeepsThePreviousResultAndSuccessKeepsTheError) {
  const char *first = nullptr;
  ASSERT_EQ(ombrelt_probe(media("mono_48k_2s.mp3").c_str(), &first), 0);
  const std::string text = first;

  const char *json = first;
  EXPECT_EQ(ombrelt_probe(media("no_such_file.wav").c_str(), &json), -1);
  EXPECT_EQ(json, first);
  EXPECT_EQ(std::string(first), text);
  const std::string err = ombrelt_last_error();

  // A successful probe does not clear the earlier failure's message.
  ASSERT_EQ(ombrelt_probe(media("stereo_2s.flac").c_str(), &json), 0);
  EXPECT_EQ(std::string(ombrelt_last_error()), err);
}

}  // namespace
