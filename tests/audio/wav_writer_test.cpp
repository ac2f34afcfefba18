#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "audio/audio.h"
#include "frame/frame.h"
#include "support/test_support.h"

namespace {

using testing_support::file_exists;
using testing_support::read_wav16;
using testing_support::TempDir;
using testing_support::Wav16;

// A recognisable signal: every sample differs from its neighbours.
std::vector<float> pattern(int frames) {
  std::vector<float> v(2 * (size_t)frames);
  for (int i = 0; i < frames; i++) {
    v[2 * (size_t)i] = (float)(i % 20000) / 20000.0f;
    v[2 * (size_t)i + 1] = -(float)(i % 15000) / 15000.0f;
  }
  return v;
}

int16_t expected_s16(float x) { return (int16_t)lrintf(x * 32767.0f); }

// What ffprobe, an independent reader, makes of the file.
std::string ffprobe(const std::string &path) {
  std::string cmd =
      "ffprobe -v error -select_streams a:0 -show_entries "
      "stream=codec_name,sample_rate,channels,bits_per_sample,duration_ts "
      "-of default=noprint_wrappers=1 '" +
      path + "' 2>&1";
  std::string out;
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

std::string ffprobe_expected(int frames) {
  return "codec_name=pcm_s16le\nsample_rate=44100\nchannels=2\nbits_per_sample=16\nduration_ts=" +
         std::to_string(frames) + "\n";
}

TEST(WavWriter, ConvertsFloatsTo16BitsSymmetrically) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    float in;
    int16_t out;
  } cases[] = {
      {1.0f, 32767},    {2.0f, 32767},     {-1.0f, -32767}, {-2.0f, -32767},
      {0.5f, 16384},    {-0.5f, -16384},   {0.0f, 0},       {nan, 0},
      {-nan, 0},        {inf, 32767},      {-inf, -32767},  {1.0f / 32767.0f, 1},
  };
  std::vector<float> in;
  for (const auto &c : cases) {
    // Left and right follow the same rule: each value goes once to each side.
    in.push_back(c.in);
    in.push_back(c.in);
  }
  TempDir dir;
  const std::string path = dir / "table.wav";
  WavOut w;
  ASSERT_EQ(wav_open(&w, path.c_str()), 0) << g_err;
  ASSERT_EQ(wav_write(&w, in.data(), (int)in.size() / 2), 0) << g_err;
  wav_close(&w);

  Wav16 wav = read_wav16(path);
  ASSERT_EQ(wav.samples.size(), in.size());
  for (size_t i = 0; i < std::size(cases); i++) {
    SCOPED_TRACE(cases[i].in);
    EXPECT_EQ(wav.samples[2 * i], cases[i].out);
    EXPECT_EQ(wav.samples[2 * i + 1], cases[i].out);
  }
}

TEST(WavWriter, AnySplitGivesTheSameCompleteFile) {
  const struct {
    const char *name;
    int frames;
    int block;
  } cases[] = {
      {"tenth_second_blocks", 3 * 4410 + 7, 4410},
      {"one_frame_blocks", 37, 1},
      {"one_block", 4410, 4410},
      {"single_frame", 1, 1},
  };
  TempDir dir;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / (std::string(c.name) + ".wav");
    const std::vector<float> in = pattern(c.frames);
    WavOut w;
    ASSERT_EQ(wav_open(&w, path.c_str()), 0) << g_err;
    for (int off = 0; off < c.frames; off += c.block) {
      int n = std::min(c.block, c.frames - off);
      ASSERT_EQ(wav_write(&w, in.data() + 2 * (size_t)off, n), 0) << g_err;
    }
    wav_close(&w);

    Wav16 wav = read_wav16(path);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.rate, 44100);
    EXPECT_EQ(wav.bits, 16);
    ASSERT_EQ(wav.samples.size(), 2 * (size_t)c.frames);
    int wrong = 0;
    for (size_t i = 0; i < in.size(); i++) wrong += wav.samples[i] != expected_s16(in[i]);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(ffprobe(path), ffprobe_expected(c.frames));
  }
}

TEST(WavWriter, EmptyBlockFailsAndLeavesTheWriterOpen) {
  TempDir dir;
  const std::string path = dir / "after_empty.wav";
  const std::vector<float> in = pattern(10);
  WavOut w;
  ASSERT_EQ(wav_open(&w, path.c_str()), 0) << g_err;
  EXPECT_EQ(wav_write(&w, in.data(), 0), -1);
  EXPECT_STREQ(g_err, "oom (frame)");
  EXPECT_NE(w.fmt, nullptr);
  EXPECT_NE(w.st, nullptr);
  EXPECT_NE(w.enc, nullptr);
  EXPECT_EQ(wav_write(&w, in.data(), 10), 0) << g_err;
  wav_close(&w);
  EXPECT_EQ(read_wav16(path).samples.size(), 20u);
  EXPECT_EQ(ffprobe(path), ffprobe_expected(10));
}

TEST(WavWriter, MissingDirectoryFailsWithEverythingReleased) {
  TempDir dir;
  const std::string path = dir / "no_such_dir/out.wav";
  WavOut w;
  EXPECT_EQ(wav_open(&w, path.c_str()), -1);
  EXPECT_EQ(std::string(g_err), "cannot open " + path + " for writing");
  EXPECT_EQ(w.fmt, nullptr);
  EXPECT_EQ(w.st, nullptr);
  EXPECT_EQ(w.enc, nullptr);
  wav_close(&w);  // closed already: nothing to do
  EXPECT_FALSE(file_exists(path));
}

TEST(WavWriter, ClosingTwiceIsHarmless) {
  TempDir dir;
  const std::string path = dir / "twice.wav";
  const std::vector<float> in = pattern(100);
  WavOut w;
  ASSERT_EQ(wav_open(&w, path.c_str()), 0) << g_err;
  ASSERT_EQ(wav_write(&w, in.data(), 100), 0) << g_err;
  wav_close(&w);
  EXPECT_EQ(w.fmt, nullptr);
  EXPECT_EQ(w.st, nullptr);
  EXPECT_EQ(w.enc, nullptr);
  wav_close(&w);
  EXPECT_EQ(read_wav16(path).samples.size(), 200u);
}

TEST(WavWriter, FileWithoutBlocksIsAValidEmptyWav) {
  TempDir dir;
  const std::string path = dir / "empty.wav";
  WavOut w;
  ASSERT_EQ(wav_open(&w, path.c_str()), 0) << g_err;
  wav_close(&w);

  std::ifstream f(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(f)), {});
  ASSERT_GE(bytes.size(), 44u);
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = v << 8 | (unsigned char)bytes[at + i];
    return v;
  };
  EXPECT_EQ(bytes.compare(0, 4, "RIFF"), 0);
  EXPECT_EQ(u32(4), bytes.size() - 8);
  // The data chunk comes last and is empty.
  EXPECT_EQ(bytes.compare(bytes.size() - 8, 4, "data"), 0);
  EXPECT_EQ(u32(bytes.size() - 4), 0u);
  EXPECT_NE(ffprobe(path).find("codec_name=pcm_s16le\nsample_rate=44100\nchannels=2\n"),
            std::string::npos);
}

}  // namespace
