#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio.h"
#include "frame/frame.h"
#include "support/test_support.h"

namespace {

using testing_support::media;
using testing_support::TempDir;
using testing_support::write_float_wav;

struct Decoded {
  int rc = -1;
  int frames = 0;
  std::vector<float> samples_;
  std::string err;

  const float *samples() const { return samples_.data(); }
  float left(int i) const { return samples_[2 * i]; }
  float right(int i) const { return samples_[2 * i + 1]; }
};

// Reads the whole input through the decoder, `piece` frames at a time.
Decoded decode(const std::string &path, int64_t piece = 4096) {
  Decoded d;
  Decoder *dec = decoder_open(path.c_str());
  if (!dec) {
    d.err = g_err;
    return d;
  }
  std::vector<float> buf(2 * (size_t)piece);
  for (;;) {
    int64_t got = decoder_read(dec, buf.data(), piece);
    if (got < 0) {
      d.err = g_err;
      decoder_close(dec);
      return d;
    }
    if (got == 0) break;
    d.samples_.insert(d.samples_.end(), buf.begin(), buf.begin() + 2 * got);
  }
  decoder_close(dec);
  d.rc = 0;
  d.frames = (int)(d.samples_.size() / 2);
  return d;
}

float peak(const Decoded &d) {
  float p = 0;
  for (int i = 0; i < 2 * d.frames; i++) p = std::max(p, std::fabs(d.samples()[i]));
  return p;
}

double rms(const Decoded &d) {
  double sum = 0;
  for (int i = 0; i < 2 * d.frames; i++) sum += (double)d.samples()[i] * d.samples()[i];
  return d.frames > 0 ? std::sqrt(sum / (2.0 * d.frames)) : 0.0;
}

TEST(DecodeAudio, StereoFloatAt44100ComesOutBitForBit) {
  TempDir dir;
  const int n = 10000;
  std::vector<float> in(2 * n);
  for (int i = 0; i < n; i++) {
    // Out-of-range values pass through unclipped.
    in[2 * i] = 1.5f * std::sin(0.01f * (float)i);
    in[2 * i + 1] = -0.25f + 1e-3f * (float)(i % 977);
  }
  write_float_wav(dir / "in.wav", in, 2, 44100);

  Decoded d = decode(dir / "in.wav");
  ASSERT_EQ(d.rc, 0) << d.err;
  ASSERT_EQ(d.frames, n);
  EXPECT_EQ(std::memcmp(d.samples(), in.data(), in.size() * sizeof(float)), 0);
  // However the reads are cut, the same frames come out.
  for (int64_t piece : {1, 1000, 1 << 20}) {
    Decoded again = decode(dir / "in.wav", piece);
    ASSERT_EQ(again.rc, 0) << again.err;
    EXPECT_EQ(again.samples_, d.samples_) << piece;
  }
}

TEST(DecodeAudio, LongSignalIsContinuousAcrossReads) {
  TempDir dir;
  const int n = 4194304 + 50000;
  std::vector<float> in(2 * (size_t)n);
  for (int i = 0; i < n; i++) {
    // Distinct, exactly representable values: a lost or repeated stretch shows.
    in[2 * (size_t)i] = (float)i / 8388608.0f;
    in[2 * (size_t)i + 1] = -(float)i / 8388608.0f;
  }
  write_float_wav(dir / "long.wav", in, 2, 44100);

  Decoded d = decode(dir / "long.wav", 65521);
  ASSERT_EQ(d.rc, 0) << d.err;
  ASSERT_EQ(d.frames, n);
  const float *out = d.samples();
  auto first_diff = std::mismatch(in.begin(), in.end(), out).first;
  EXPECT_EQ(first_diff, in.end()) << "first difference at float " << (first_diff - in.begin());
}

TEST(DecodeAudio, MonoComesOutOnBothChannels) {
  Decoded d = decode(media("mono_44k_2s.wav"));
  ASSERT_EQ(d.rc, 0) << d.err;
  ASSERT_EQ(d.frames, 88200);
  int unequal = 0;
  for (int i = 0; i < d.frames; i++) unequal += d.left(i) != d.right(i);
  EXPECT_EQ(unequal, 0);
  EXPECT_GT(peak(d), 0.3f);
}

TEST(DecodeAudio, RateChangeGives44100FramesPerSecondOfInput) {
  // 2 s at 48 kHz; the resampler keeps its short filter tail.
  Decoded d = decode(media("stereo_48k_2s.wav"));
  ASSERT_EQ(d.rc, 0) << d.err;
  EXPECT_GE(d.frames, 88200 - 64);
  EXPECT_LE(d.frames, 88200);
  EXPECT_NEAR(peak(d), 0.5f, 0.02f);
}

TEST(DecodeAudio, DecodesEachKindOfMedia) {
  struct {
    const char *file;
    int min_frames, max_frames;
  } cases[] = {
      {"stereo_44k_2s.wav", 88200, 88200},
      {"stereo_2s.flac", 88200, 88200},
      // Lossy codecs and the 48 kHz MP3 may gain or lose a codec frame.
      {"mono_48k_2s.mp3", 88200 - 1200, 88200 + 1200},
      {"video_audio.mp4", 88200 - 2048, 88200 + 2048},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.file);
    Decoded d = decode(media(c.file));
    ASSERT_EQ(d.rc, 0) << d.err;
    EXPECT_GE(d.frames, c.min_frames);
    EXPECT_LE(d.frames, c.max_frames);
    // Half-scale tones: about 0.35 RMS, less where mono is spread over two channels.
    EXPECT_GT(rms(d), 0.2);
    EXPECT_LT(rms(d), 0.4);
  }
}

TEST(DecodeAudio, FlacDecodesToTheSameSignalAsItsWavTwin) {
  // The same tone, stored as 24-bit FLAC and as 16-bit WAV.
  Decoded flac = decode(media("stereo_2s.flac"));
  Decoded wav = decode(media("stereo_44k_2s.wav"));
  ASSERT_EQ(flac.rc, 0) << flac.err;
  ASSERT_EQ(wav.rc, 0) << wav.err;
  ASSERT_EQ(flac.frames, wav.frames);
  float worst = 0;
  for (int i = 0; i < 2 * wav.frames; i++)
    worst = std::max(worst, std::fabs(flac.samples()[i] - wav.samples()[i]));
  EXPECT_LE(worst, 1.0f / 32768.0f);
}

TEST(DecodeAudio, ChannelCountChangingMidStreamIsFollowed) {
  // One second stereo, then one second mono, in a single MP3 stream: the
  // mono frames have one plane where the resampler was set up for two.
  Decoded d = decode(media("stereo_then_mono.mp3"));
  ASSERT_EQ(d.rc, 0) << d.err;
  // Without gapless information each half keeps its encoder delay and padding.
  EXPECT_GE(d.frames, 88200);
  EXPECT_LE(d.frames, 88200 + 4608);
  int unequal_in_stereo_part = 0;
  for (int i = 5000; i < 40000; i++) unequal_in_stereo_part += d.left(i) != d.right(i);
  EXPECT_GT(unequal_in_stereo_part, 30000);
  int unequal_in_mono_part = 0;
  double mono_energy = 0;
  for (int i = 52000; i < 86000; i++) {
    unequal_in_mono_part += d.left(i) != d.right(i);
    mono_energy += (double)d.left(i) * d.left(i);
  }
  EXPECT_EQ(unequal_in_mono_part, 0);
  EXPECT_GT(mono_energy / 34000, 0.01);
}

TEST(DecodeAudio, ShortestAcceptedInputIsATenthOfASecond) {
  TempDir dir;
  write_float_wav(dir / "empty.wav", {}, 2, 44100);
  const std::string empty = dir / "empty.wav";
  struct {
    std::string path;
    int rc;
    const char *err;
  } cases[] = {
      {media("stereo_4410.wav"), 0, ""},
      {media("stereo_4409.wav"), -1, "audio too short (4409 samples)"},
      {empty, -1, "audio too short (0 samples)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    Decoded d = decode(c.path);
    EXPECT_EQ(d.rc, c.rc);
    EXPECT_EQ(d.err, c.err);
    if (c.rc == 0) {
      EXPECT_EQ(d.frames, 4410);
    }
  }
}

TEST(DecodeAudio, ReportsWhyAFileCannotBeOpened) {
  const std::string missing = media("no_such_file.wav");
  const std::string video_only = media("video_only.mp4");
  const std::string not_media = media("not_media.txt");
  struct {
    std::string path;
    std::vector<std::string> messages;  // any one of them
  } cases[] = {
      {missing, {"cannot open " + missing}},
      {video_only, {"no audio stream in " + video_only}},
      {not_media, {"cannot open " + not_media, "no stream info for " + not_media}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(decoder_open(c.path.c_str()), nullptr);
    const std::string err = g_err;
    EXPECT_NE(std::find(c.messages.begin(), c.messages.end(), err), c.messages.end()) << err;
  }
}

TEST(DecodeAudio, TooShortIsReportedWhereTheInputEnds) {
  Decoder *dec = decoder_open(media("stereo_4409.wav").c_str());
  ASSERT_NE(dec, nullptr) << g_err;
  std::vector<float> buf(2 * 4000);
  // The first frames come out; the shortage shows only at the end.
  EXPECT_EQ(decoder_read(dec, buf.data(), 4000), 4000);
  EXPECT_EQ(decoder_read(dec, buf.data(), 4000), -1);
  EXPECT_STREQ(g_err, "audio too short (4409 samples)");
  decoder_close(dec);
  decoder_close(nullptr);
}

}  // namespace
