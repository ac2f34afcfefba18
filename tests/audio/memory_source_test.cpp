#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/audio.h"
#include "frame/frame.h"
#include "support/test_support.h"

namespace {

using testing_support::media;
using testing_support::TempDir;
using testing_support::write_float_wav;

struct Output {
  bool ok = false;
  std::string err;
  int64_t before_error = 0;  // frames handed out before a failure
  std::vector<float> samples;
  std::vector<double> progress;  // after every read that gave frames
  int64_t frames() const { return (int64_t)samples.size() / 2; }
};

// Reads a whole source, `piece` frames at a time, and closes it.
template <class Source>
Output read_all(Source *src, int64_t (*read)(Source *, float *, int64_t),
                double (*progress)(const Source *), void (*close)(Source *), int64_t piece) {
  Output out;
  if (!src) {
    out.err = g_err;
    return out;
  }
  std::vector<float> buf(2 * (size_t)piece);
  for (;;) {
    int64_t got = read(src, buf.data(), piece);
    if (got < 0) {
      out.err = g_err;
      out.before_error = out.frames();
      close(src);
      return out;
    }
    if (got == 0) break;
    out.samples.insert(out.samples.end(), buf.begin(), buf.begin() + 2 * got);
    out.progress.push_back(progress(src));
  }
  close(src);
  out.ok = true;
  return out;
}

Output read_memory(const std::vector<float> &in, int channels, int rate, int64_t piece) {
  const int64_t frames = (int64_t)in.size() / channels;
  // An empty vector may have no storage; an empty input still has an address.
  static const float nothing = 0.0f;
  const float *samples = in.empty() ? &nothing : in.data();
  return read_all(memory_source_open(samples, frames, channels, rate), memory_source_read,
                  memory_source_progress, memory_source_close, piece);
}

Output read_file(const std::string &path, int64_t piece) {
  return read_all(decoder_open(path.c_str()), decoder_read, decoder_progress, decoder_close, piece);
}

// A different tone on each channel, with a little noise so that every filter
// tap of a resampler matters.
std::vector<float> test_signal(int64_t frames, int channels, int rate) {
  std::vector<float> s((size_t)(frames * channels));
  uint32_t noise = 12345;
  for (int64_t i = 0; i < frames; i++)
    for (int c = 0; c < channels; c++) {
      noise = noise * 1664525u + 1013904223u;
      double tone = 0.5 * std::sin(2 * M_PI * (220.0 + 110.0 * c) * (double)i / rate);
      s[(size_t)(i * channels + c)] =
          (float)(tone + 0.1 * ((double)(noise >> 8) / (1 << 24) - 0.5));
    }
  return s;
}

struct Conversion {
  const char *name;
  int rate;
  int channels;
};

class SameAsDecodedFile : public ::testing::TestWithParam<Conversion> {};

// The samples in memory and in a float WAV file come out as the same frames,
// however the memory source is read.
TEST_P(SameAsDecodedFile, FrameForFrame) {
  const Conversion &c = GetParam();
  const int64_t frames = c.rate / 2 + 123;
  const std::vector<float> in = test_signal(frames, c.channels, c.rate);
  TempDir dir;
  write_float_wav(dir / "in.wav", in, c.channels, c.rate);
  const Output file = read_file(dir / "in.wav", 4096);
  ASSERT_TRUE(file.ok) << file.err;
  ASSERT_GT(file.frames(), MIN_DECODED_FRAMES);
  for (int64_t piece : {1, 1000, 100000}) {
    SCOPED_TRACE(piece);
    const Output mem = read_memory(in, c.channels, c.rate, piece);
    ASSERT_TRUE(mem.ok) << mem.err;
    ASSERT_EQ(mem.frames(), file.frames());
    EXPECT_EQ(
        std::memcmp(mem.samples.data(), file.samples.data(), mem.samples.size() * sizeof(float)),
        0);
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, SameAsDecodedFile,
                         ::testing::Values(Conversion{"stereo_44100", 44100, 2},
                                           Conversion{"mono_48000", 48000, 1},
                                           Conversion{"six_channels_22050", 22050, 6},
                                           Conversion{"stereo_8000", 8000, 2},
                                           // No named layout has 12 channels: mixed down pairwise.
                                           Conversion{"twelve_channels_32000", 32000, 12}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(MemorySource, StereoAt44100IsHandedOutUnchanged) {
  const std::vector<float> in = test_signal(5000, 2, 44100);
  const Output mem = read_memory(in, 2, 44100, 777);
  ASSERT_TRUE(mem.ok) << mem.err;
  EXPECT_EQ(mem.samples, in);
}

TEST(MemorySource, ChannelsOfNoNamedLayoutAreMixedPairwise) {
  // 9 channels: the left gets the mean of channels 0, 2, 4, 6, 8, the right
  // that of 1, 3, 5, 7.
  const int channels = 9;
  const std::vector<float> in = test_signal(5000, channels, 44100);
  const Output mem = read_memory(in, channels, 44100, 5000);
  ASSERT_TRUE(mem.ok) << mem.err;
  ASSERT_EQ(mem.frames(), 5000);
  double worst = 0;
  for (int64_t i = 0; i < 5000; i++) {
    double side[2] = {0, 0};
    for (int c = 0; c < channels; c++) side[c % 2] += in[(size_t)(i * channels + c)];
    worst = std::max(worst, std::fabs(mem.samples[2 * i] - side[0] / 5));
    worst = std::max(worst, std::fabs(mem.samples[2 * i + 1] - side[1] / 4));
  }
  EXPECT_LT(worst, 1e-6);
}

TEST(MemorySource, OpenChecksItsArguments) {
  const float one = 0.0f;
  struct {
    const float *samples;
    int64_t frames;
    int channels, rate;
    const char *err;  // null: opens
  } cases[] = {
      {nullptr, 4410, 2, 44100, "samples is null"},
      {&one, 4410, 0, 44100, "channels must be 1 to 64"},
      {&one, 4410, 65, 44100, "channels must be 1 to 64"},
      {&one, 4410, 2, 999, "sample_rate must be 1000 to 768000 Hz"},
      {&one, 4410, 2, 768001, "sample_rate must be 1000 to 768000 Hz"},
      {&one, -1, 2, 44100, "frames is negative"},
      {&one, INT64_MAX, 1, 44100, "frames * channels is too large"},
      {&one, (int64_t)1 << 56, 64, 44100, "frames * channels is too large"},
      // The edges are accepted; nothing is read before the first read.
      {&one, ((int64_t)1 << 56) - 1, 64, 768000, nullptr},
      {&one, 0, 1, 1000, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.frames << " frames, " << c.channels << " channels, " << c.rate << " Hz");
    g_err[0] = '\0';
    MemorySource *m = memory_source_open(c.samples, c.frames, c.channels, c.rate);
    if (c.err) {
      EXPECT_EQ(m, nullptr);
      EXPECT_STREQ(g_err, c.err);
    } else {
      EXPECT_NE(m, nullptr) << g_err;
    }
    memory_source_close(m);
  }
  memory_source_close(nullptr);
}

// Too short is the converted length, found where the input ends, after the
// frames before it were handed out: the same for a file and for memory.
TEST(MemorySource, TooShortAsTheDecoderSaysIt) {
  struct {
    int rate;
    int64_t frames;
    const char *err;     // null: all frames come out
    int64_t handed_out;  // frames that come out before the end
  } cases[] = {
      {44100, 4410, nullptr, 4410},
      {44100, 4409, "audio too short (4409 samples)", 4000},
      {44100, 0, "audio too short (0 samples)", 0},
      // The resampler keeps back its filter's tail (16 frames here), so
      // 48 kHz needs 4817 frames where 4410 * 48000 / 44100 = 4800.
      {48000, 4817, nullptr, 4410},
      {48000, 4816, "audio too short (4409 samples)", 4000},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << c.frames << " frames at " << c.rate << " Hz");
    const std::vector<float> in = test_signal(c.frames, 2, c.rate);
    TempDir dir;
    write_float_wav(dir / "in.wav", in, 2, c.rate);
    const Output file = read_file(dir / "in.wav", 4000);
    const Output mem = read_memory(in, 2, c.rate, 4000);
    EXPECT_EQ(mem.err, c.err ? c.err : "");
    EXPECT_EQ(file.err, mem.err);
    EXPECT_EQ(mem.ok ? mem.frames() : mem.before_error, c.handed_out);
    EXPECT_EQ(file.ok ? file.frames() : file.before_error, c.handed_out);
  }
}

void expect_rising_to_near_the_end(const std::vector<double> &progress) {
  ASSERT_FALSE(progress.empty());
  for (size_t i = 0; i < progress.size(); i++) {
    EXPECT_GE(progress[i], i ? progress[i - 1] : 0.0) << "read " << i;
    EXPECT_LT(progress[i], 1.0) << "read " << i;
  }
  EXPECT_LT(progress.front(), progress.back());
  EXPECT_GE(progress.back(), 0.9);
}

TEST(MemorySource, ProgressIsTheShareOfTheConvertedLength) {
  const std::vector<float> in = test_signal(48000, 1, 48000);
  MemorySource *m = memory_source_open(in.data(), 48000, 1, 48000);
  ASSERT_NE(m, nullptr) << g_err;
  EXPECT_EQ(memory_source_progress(m), 0.0);
  memory_source_close(m);
  const Output mem = read_memory(in, 1, 48000, 4410);
  ASSERT_TRUE(mem.ok) << mem.err;
  expect_rising_to_near_the_end(mem.progress);
  EXPECT_DOUBLE_EQ(mem.progress[0], 4410.0 / 44100.0);
  EXPECT_EQ(memory_source_progress(nullptr), 0.0);
}

bool states_duration(const std::string &path) {
  AVFormatContext *fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return false;
  bool stated = avformat_find_stream_info(fmt, nullptr) >= 0 && fmt->nb_streams > 0 &&
                stated_duration_s(fmt, fmt->streams[0]) > 0;
  avformat_close_input(&fmt);
  return stated;
}

TEST(DecoderProgress, RisesTowardsTheEndWithOrWithoutADuration) {
  struct {
    const char *file;
    bool has_duration;  // else the estimate comes from the bytes read
  } cases[] = {
      {"stereo_48k_2s.wav", true},
      {"stereo_2s.flac", true},
      {"stereo_2s_streamed.flac", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(states_duration(media(c.file)), c.has_duration);
    const Output file = read_file(media(c.file), 4410);
    ASSERT_TRUE(file.ok) << file.err;
    expect_rising_to_near_the_end(file.progress);
  }
  EXPECT_EQ(decoder_progress(nullptr), 0.0);
}

}  // namespace
