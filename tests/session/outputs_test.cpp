#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "session/session_fixture.h"
#include "support/json_view.h"
#include "support/test_support.h"

namespace {

using session_testing::entries;
using session_testing::open_session;
using session_testing::output;
using session_testing::separate_file_to_memory;
using testing_support::json_member;
using testing_support::media;
using testing_support::TempDir;

// The samples of a 32-bit float WAV file (its "data" chunk).
std::vector<float> read_float_wav(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  for (size_t at = 12; at + 8 <= bytes.size();) {
    uint32_t size = 0;
    std::memcpy(&size, &bytes[at + 4], 4);
    if (std::memcmp(&bytes[at], "data", 4) == 0) {
      std::vector<float> samples(std::min<size_t>(size, bytes.size() - at - 8) / 4);
      std::memcpy(samples.data(), &bytes[at + 8], samples.size() * 4);
      return samples;
    }
    at += 8 + size + (size & 1);
  }
  ADD_FAILURE() << path << " has no data chunk";
  return {};
}

// A deterministic stereo signal of tones and noise.
std::vector<float> song(int frames) {
  std::vector<float> s(2 * (size_t)frames);
  uint32_t state = 777;
  for (int n = 0; n < frames; n++) {
    state = state * 1664525u + 1013904223u;
    float noise = ((float)(state >> 8) / 16777216.0f - 0.5f) * 0.3f;
    s[2 * n] = 0.5f * std::sin(0.013f * n) + noise;
    s[2 * n + 1] = 0.4f * std::sin(0.029f * n + 0.5f) - noise;
  }
  return s;
}

ombrelt_input from_memory(const std::vector<float> &samples, int channels, int rate) {
  ombrelt_input in{};
  in.samples = samples.data();
  in.frames = (int64_t)(samples.size() / channels);
  in.channels = channels;
  in.sample_rate = rate;
  return in;
}

// Stems handed back in memory hold exactly what 32-bit float files of the
// same separation hold.
TEST(SessionOutputs, MemoryStemsEqualFloatFiles) {
  auto s = open_session("stem_gains");
  TempDir tmp;
  const std::string file = media("stereo_48k_2s.wav");
  auto stems = separate_file_to_memory(s.get(), file);
  ASSERT_TRUE(stems);
  EXPECT_EQ(stems->channels, 2);
  EXPECT_EQ(stems->sample_rate, 44100);

  ombrelt_input in{};
  in.path = file.c_str();
  ombrelt_separate_options o{};
  o.out_dir = tmp.path().c_str();
  o.format = OMBRELT_FORMAT_WAV32F;
  const char *json = nullptr;
  ASSERT_EQ(ombrelt_session_separate(s.get(), &in, &o, &json), OMBRELT_SESSION_OK)
      << ombrelt_session_last_error(s.get());
  EXPECT_EQ(json_member(json, "format").str, "wav32f");
  const char *names[] = {"vocals", "other", "bass", "drums", "instrumental"};
  for (int i = 0; i < OMBRELT_OUTPUT_COUNT; i++) {
    const std::string path = json_member(json, names[i]).str;
    EXPECT_EQ(path, tmp / (std::string("stereo_48k_2s_") + names[i] + ".wav"));
    EXPECT_EQ(read_float_wav(path), output(*stems, i)) << names[i];
  }
}

// Samples in memory are separated exactly as a file of the same samples,
// whatever their rate and channel count.
TEST(SessionOutputs, SamplesInMemoryEqualTheSameSamplesInAFile) {
  auto s = open_session("stem_gains");
  TempDir tmp;
  struct Case {
    int channels, rate;
  } cases[] = {{2, 44100}, {1, 48000}, {6, 22050}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + " channels at " + std::to_string(c.rate));
    std::vector<float> stereo = song(c.rate * 2);
    std::vector<float> samples;
    for (size_t n = 0; n < stereo.size() / 2; n++)
      for (int ch = 0; ch < c.channels; ch++) samples.push_back(stereo[2 * n + ch % 2] * 0.7f);
    const std::string path = tmp / "song.wav";
    testing_support::write_float_wav(path, samples, c.channels, c.rate);
    auto from_file = separate_file_to_memory(s.get(), path);

    ombrelt_input in = from_memory(samples, c.channels, c.rate);
    ombrelt_stems *raw = nullptr;
    ASSERT_EQ(ombrelt_session_separate_to_memory(s.get(), &in, nullptr, &raw, nullptr),
              OMBRELT_SESSION_OK)
        << ombrelt_session_last_error(s.get());
    session_testing::Stems from_samples(raw);
    ASSERT_TRUE(from_file);
    ASSERT_EQ(from_samples->frames, from_file->frames);
    for (int i = 0; i < OMBRELT_OUTPUT_COUNT; i++)
      EXPECT_EQ(output(*from_samples, i), output(*from_file, i)) << i;
  }
}

// With sum_to_mix, and with the Wiener filter, the four stems add up to the
// mixture, up to float rounding, even though these models' magnitudes add up
// to ten times it; vocals and the instrumental mix add up to it too.
TEST(SessionOutputs, SumToMixStemsAddUpToTheMixture) {
  auto s = open_session("stem_gains");
  std::vector<float> mixture = song(44100 * 3);
  // The channels differ in level, so that the filter's covariances matter.
  for (size_t n = 0; n < mixture.size(); n += 2) mixture[n] *= 0.5f;
  ombrelt_input in = from_memory(mixture, 2, 44100);
  struct Mode {
    int sum_to_mix, wiener;
  } modes[] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  std::vector<float> shared_vocals;
  for (const Mode &m : modes) {
    const int sum_to_mix = m.sum_to_mix || m.wiener;
    ombrelt_separate_options o{};
    o.sum_to_mix = m.sum_to_mix;
    o.wiener = m.wiener;
    ombrelt_stems *raw = nullptr;
    const char *json = nullptr;
    ASSERT_EQ(ombrelt_session_separate_to_memory(s.get(), &in, &o, &raw, &json),
              OMBRELT_SESSION_OK)
        << ombrelt_session_last_error(s.get());
    session_testing::Stems stems(raw);
    EXPECT_EQ(json_member(json, "sum_to_mix").type, sum_to_mix ? "true" : "false") << json;
    EXPECT_EQ(json_member(json, "wiener").type, m.wiener ? "true" : "false") << json;
    ASSERT_EQ(stems->frames * 2, (int64_t)mixture.size());
    double worst = 0.0, worst_pair = 0.0;
    // The first and last frame's half are not covered by two windows.
    for (int64_t n = 2 * 4096; n < stems->frames * 2 - 2 * 4096; n++) {
      double sum = 0.0;
      for (int i = 0; i < 4; i++) sum += stems->data[i][n];
      worst = std::max(worst, std::fabs(sum - mixture[n]));
      worst_pair = std::max(
          worst_pair, std::fabs((double)stems->data[0][n] + stems->data[4][n] - mixture[n]));
    }
    if (sum_to_mix) {
      EXPECT_LT(worst, 1e-5);
      EXPECT_LT(worst_pair, 1e-5);
      // The filter shares by power, not by magnitude: the vocals (gain 1)
      // get 1/30 of the mixture with it instead of 1/10.
      const std::vector<float> vocals = output(*stems, 0);
      if (m.wiener) {
        EXPECT_NE(vocals, shared_vocals);
      } else {
        shared_vocals = vocals;
      }
    } else {
      EXPECT_GT(worst, 1.0);  // ten times the mixture
    }
  }
}

// One output to a path of its own, as the ombrelt command's mute writes it:
// nothing else appears, and the result names where it went.
TEST(SessionOutputs, APathOutputGoesWhereItIsToldAlone) {
  auto s = open_session("identity");
  TempDir tmp;
  const std::string file = media("stereo_44k_2s.wav");
  const std::string karaoke = tmp / "karaoke.flac";
  ombrelt_input in{};
  in.path = file.c_str();
  ombrelt_separate_options o{};
  o.outputs = OMBRELT_OUTPUT_INSTRUMENTAL;
  o.format = OMBRELT_FORMAT_FLAC24;
  o.path_output = OMBRELT_OUTPUT_INSTRUMENTAL;
  o.path = karaoke.c_str();
  const char *json = nullptr;
  ASSERT_EQ(ombrelt_session_separate(s.get(), &in, &o, &json), OMBRELT_SESSION_OK)
      << ombrelt_session_last_error(s.get());
  EXPECT_EQ(entries(tmp.path()), (std::set<std::string>{"karaoke.flac"}));
  EXPECT_EQ(testing_support::json_keys(json),
            (std::vector<std::string>{"instrumental", "duration_s", "chunks", "elapsed_s",
                                      "format", "sum_to_mix", "wiener"}));
  EXPECT_EQ(json_member(json, "instrumental").str, karaoke);
  EXPECT_EQ(json_member(json, "format").str, "flac24");
}

// Each format gets its extension, says its name in the result, and is what
// ffprobe says it is.
TEST(SessionOutputs, FormatsAreWhatTheyClaim) {
  auto s = open_session("identity");
  TempDir tmp;
  const std::string file = media("stereo_44k_2s.wav");
  struct Case {
    ombrelt_format format;
    const char *name, *extension, *probed;
  } cases[] = {
      {OMBRELT_FORMAT_WAV16, "wav16", ".wav", "pcm_s16le,s16"},
      {OMBRELT_FORMAT_WAV24, "wav24", ".wav", "pcm_s24le,s32"},
      {OMBRELT_FORMAT_WAV32F, "wav32f", ".wav", "pcm_f32le,flt"},
      {OMBRELT_FORMAT_FLAC16, "flac16", ".flac", "flac,s16"},
      {OMBRELT_FORMAT_FLAC24, "flac24", ".flac", "flac,s32"},
  };
  for (const Case &c : cases) {
    const std::string out = tmp / c.name;
    ombrelt_input in{};
    in.path = file.c_str();
    ombrelt_separate_options o{};
    o.outputs = OMBRELT_OUTPUT_VOCALS;
    o.out_dir = out.c_str();
    o.format = c.format;
    const char *json = nullptr;
    ASSERT_EQ(ombrelt_session_separate(s.get(), &in, &o, &json), OMBRELT_SESSION_OK)
        << ombrelt_session_last_error(s.get());
    EXPECT_EQ(json_member(json, "format").str, c.name);
    const std::string path = out + "/stereo_44k_2s_vocals" + c.extension;
    EXPECT_EQ(json_member(json, "vocals").str, path);
    const std::string command = "ffprobe -v error -select_streams a:0 -show_entries "
                                "stream=codec_name,sample_fmt -of csv=p=0 '" + path + "'";
    FILE *p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[128] = "";
    if (!std::fgets(line, sizeof line, p)) line[0] = '\0';
    pclose(p);
    line[std::strcspn(line, "\n")] = '\0';
    EXPECT_STREQ(line, c.probed) << c.name;
  }
}

}  // namespace
