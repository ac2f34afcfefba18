#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "audio/audio.h"
#include "frame/frame.h"
#include "support/test_support.h"

namespace {

using testing_support::file_exists;
using testing_support::TempDir;

enum class Sample { S16, S24, F32 };

struct FormatCase {
  AudioFormat format;
  Sample sample;
  const char *codec_name;  // as ffprobe names them
  const char *sample_fmt;
  const char *raw_bits;    // bits_per_raw_sample; null where the format has none
  const char *container;   // the word of its write messages
  bool fact;               // the header counts the samples in a "fact" chunk
  bool fixed_frames;       // frames of FLAC_FRAME samples, but for the last
};

const FormatCase FORMATS[] = {
    {AudioFormat::WAV16, Sample::S16, "pcm_s16le", "s16", nullptr, "wav", false, false},
    {AudioFormat::WAV24, Sample::S24, "pcm_s24le", "s32", "24", "wav", false, false},
    {AudioFormat::WAV32F, Sample::F32, "pcm_f32le", "flt", nullptr, "wav", true, false},
    {AudioFormat::FLAC16, Sample::S16, "flac", "s16", "16", "flac", false, true},
    {AudioFormat::FLAC24, Sample::S24, "flac", "s32", "24", "flac", false, true},
};

// The flac encoder's frame at 44.1 kHz. A stream of frames of one size says
// so in its header, and readers place the frames by their numbers: only the
// last may be shorter. The lengths below fall short of one frame, fill two
// exactly, and leave a rest.
constexpr int FLAC_FRAME = 4608;

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float INF = std::numeric_limits<float>::infinity();

// Values with their samples in each type: clipping, NaN, rounding halves
// (to even) and single steps. 24-bit samples are decoded, like they are
// written, in the top of 32 bits.
const struct {
  float in;
  int16_t s16;
  int32_t s24;
  float f32;
} SPECIALS[] = {
    {2.0f, 32767, 8388607 * 256, 2.0f},
    {-2.0f, -32767, -8388607 * 256, -2.0f},
    {1.0f, 32767, 8388607 * 256, 1.0f},
    {-1.0f, -32767, -8388607 * 256, -1.0f},
    {INF, 32767, 8388607 * 256, INF},
    {-INF, -32767, -8388607 * 256, -INF},
    {NaN, 0, 0, 0.0f},
    {-NaN, 0, 0, 0.0f},
    {0.0f, 0, 0, 0.0f},
    {0.5f, 16384, 4194304 * 256, 0.5f},
    {-0.5f, -16384, -4194304 * 256, -0.5f},
    {1.0f / 32767.0f, 1, 256 * 256, 1.0f / 32767.0f},
    {1.0f / 8388607.0f, 0, 1 * 256, 1.0f / 8388607.0f},
    {-1.0f / 8388607.0f, 0, -1 * 256, -1.0f / 8388607.0f},
};
constexpr int N_SPECIALS = (int)std::size(SPECIALS);

// The first `frames` frames of: every special value on both sides, then a
// ramp in range where every sample differs from its neighbours.
std::vector<float> signal(int frames) {
  std::vector<float> v(2 * (size_t)frames);
  for (int i = 0; i < frames; i++) {
    if (i < N_SPECIALS) {
      v[2 * (size_t)i] = v[2 * (size_t)i + 1] = SPECIALS[i].in;
    } else {
      v[2 * (size_t)i] = (float)(i % 20000) / 20000.0f;
      v[2 * (size_t)i + 1] = -(float)(i % 15000) / 15000.0f;
    }
  }
  return v;
}

template <typename T>
void append(std::string *bytes, T value) {
  bytes->append(reinterpret_cast<const char *>(&value), sizeof value);
}

// The raw little-endian samples the file of signal(frames) must decode to.
std::string expected_samples(Sample sample, int frames) {
  const std::vector<float> in = signal(frames);
  std::string bytes;
  for (size_t i = 0; i < in.size(); i++) {
    const size_t frame = i / 2;
    const float x = in[i];
    if (frame < (size_t)N_SPECIALS) {
      const auto &s = SPECIALS[frame];
      if (sample == Sample::S16) append(&bytes, s.s16);
      if (sample == Sample::S24) append(&bytes, s.s24);
      if (sample == Sample::F32) append(&bytes, s.f32);
    } else {
      if (sample == Sample::S16) append(&bytes, (int16_t)lrintf(x * 32767.0f));
      if (sample == Sample::S24) append(&bytes, (int32_t)lrintf(x * 8388607.0f) * 256);
      if (sample == Sample::F32) append(&bytes, x);
    }
  }
  return bytes;
}

// Everything a shell command writes to its standard output.
std::string output_of(const std::string &cmd) {
  std::string out;
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// What ffprobe, an independent reader, makes of the file's stream.
std::map<std::string, std::string> ffprobe(const std::string &path) {
  std::istringstream lines(output_of(
      "ffprobe -v error -select_streams a:0 -show_entries "
      "stream=codec_name,sample_fmt,sample_rate,channels,bits_per_raw_sample,duration_ts "
      "-of default=noprint_wrappers=1 '" + path + "' 2>&1"));
  std::map<std::string, std::string> fields;
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    fields[line.substr(0, eq)] = eq == std::string::npos ? "" : line.substr(eq + 1);
  }
  return fields;
}

// The file decoded by ffmpeg into raw samples of its own type, unconverted.
std::string decoded(const std::string &path, Sample sample) {
  const char *raw = sample == Sample::S16 ? "s16le" : sample == Sample::S24 ? "s32le" : "f32le";
  return output_of("ffmpeg -v error -i '" + path + "' -f " + raw + " - 2>/dev/null");
}

// The sample count of a WAV file's "fact" chunk, or -1 when it has none.
// FFmpeg goes by the data size, other readers by this count.
int64_t fact_samples(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  const std::string b((std::istreambuf_iterator<char>(f)), {});
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = v << 8 | (unsigned char)b[at + i];
    return v;
  };
  for (size_t at = 12; at + 8 <= b.size();) {
    const uint32_t size = u32(at + 4);
    if (b.compare(at, 4, "fact") == 0 && size >= 4 && at + 12 <= b.size()) return u32(at + 8);
    at += 8 + (size_t)size + (size & 1);
  }
  return -1;
}

// The lengths of the file's frames, in samples, as ffprobe finds them.
std::vector<int> frame_lengths(const std::string &path) {
  std::istringstream lines(output_of("ffprobe -v error -select_streams a:0 -show_entries "
                                     "packet=duration -of csv=p=0 '" + path + "' 2>&1"));
  std::vector<int> lengths;
  for (std::string line; std::getline(lines, line);) lengths.push_back(std::stoi(line));
  return lengths;
}

size_t bytes_per_sample(Sample sample) { return sample == Sample::S16 ? 2 : 4; }

// Index of the first sample where two raw sample strings differ.
size_t first_difference(const std::string &a, const std::string &b, size_t sample_size) {
  size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) i++;
  return i / sample_size;
}

void PrintTo(const FormatCase &c, std::ostream *os) { *os << audio_format_name(c.format); }

class AudioWriter : public testing::TestWithParam<FormatCase> {
 protected:
  std::string file(const char *stem) const {
    return dir_ / (std::string(stem) + "." + audio_format_extension(GetParam().format));
  }
  TempDir dir_;
};

TEST_P(AudioWriter, WritesEveryValueAsItsFormatSaysInAnySplit) {
  const FormatCase &fc = GetParam();
  const struct {
    const char *name;
    int frames;
    int block;
  } cases[] = {
      {"single_frame", 1, 1},
      {"one_frame_writes", 37, 1},
      {"shorter_than_a_flac_frame", 1000, 333},
      {"two_flac_frames_exactly", 2 * FLAC_FRAME, 4410},
      {"flac_frames_and_a_rest", 3 * 4410 + 7, 4410},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = file(c.name);
    const std::vector<float> in = signal(c.frames);
    AudioOut w;
    ASSERT_EQ(audio_out_open(&w, path.c_str(), fc.format), 0) << g_err;
    for (int off = 0; off < c.frames; off += c.block) {
      int n = std::min(c.block, c.frames - off);
      ASSERT_EQ(audio_out_write(&w, in.data() + 2 * (size_t)off, n), 0) << g_err;
    }
    ASSERT_EQ(audio_out_finish(&w), 0) << g_err;
    EXPECT_EQ(w.fmt, nullptr);
    EXPECT_EQ(w.st, nullptr);
    EXPECT_EQ(w.enc, nullptr);
    audio_out_close(&w);  // closed already: nothing to do

    std::map<std::string, std::string> probe = ffprobe(path);
    EXPECT_EQ(probe["codec_name"], fc.codec_name);
    EXPECT_EQ(probe["sample_fmt"], fc.sample_fmt);
    EXPECT_EQ(probe["sample_rate"], "44100");
    EXPECT_EQ(probe["channels"], "2");
    // From the header the writer completes at the end (FLAC's stream info,
    // the float WAV's sample count) or the data size.
    EXPECT_EQ(probe["duration_ts"], std::to_string(c.frames));
    if (fc.raw_bits) {
      EXPECT_EQ(probe["bits_per_raw_sample"], fc.raw_bits);
    }
    if (fc.fact) {
      EXPECT_EQ(fact_samples(path), c.frames);
    }
    if (fc.fixed_frames) {
      std::vector<int> lengths = frame_lengths(path);
      std::vector<int> want(c.frames / FLAC_FRAME, FLAC_FRAME);
      if (c.frames % FLAC_FRAME) want.push_back(c.frames % FLAC_FRAME);
      EXPECT_EQ(lengths, want);
    }

    const std::string got = decoded(path, fc.sample);
    const std::string want = expected_samples(fc.sample, c.frames);
    const size_t size = bytes_per_sample(fc.sample);
    ASSERT_EQ(got.size() / size / 2, (size_t)c.frames);
    EXPECT_TRUE(got == want) << "first wrong sample: " << first_difference(got, want, size);
  }
}

TEST_P(AudioWriter, EmptyBlockFailsAndLeavesTheWriterOpen) {
  const FormatCase &fc = GetParam();
  const std::string path = file("after_empty");
  const std::vector<float> in = signal(10);
  AudioOut w;
  ASSERT_EQ(audio_out_open(&w, path.c_str(), fc.format), 0) << g_err;
  EXPECT_EQ(audio_out_write(&w, in.data(), 0), -1);
  EXPECT_STREQ(g_err, "oom (frame)");
  EXPECT_NE(w.fmt, nullptr);
  EXPECT_NE(w.st, nullptr);
  EXPECT_NE(w.enc, nullptr);
  EXPECT_EQ(audio_out_write(&w, in.data(), 10), 0) << g_err;
  audio_out_close(&w);
  EXPECT_EQ(decoded(path, fc.sample), expected_samples(fc.sample, 10));
}

TEST_P(AudioWriter, MissingDirectoryIsReportedUnderTheShownName) {
  const FormatCase &fc = GetParam();
  const std::string path = dir_ / "no_such_dir/.out.tmp";
  const std::string shown = dir_ / "no_such_dir/out";
  AudioOut w;
  EXPECT_EQ(audio_out_open(&w, path.c_str(), fc.format, shown.c_str()), -1);
  EXPECT_EQ(std::string(g_err), "cannot open " + shown + " for writing");
  EXPECT_EQ(w.fmt, nullptr);
  EXPECT_EQ(w.st, nullptr);
  EXPECT_EQ(w.enc, nullptr);
  EXPECT_EQ(w.pending, nullptr);
  audio_out_close(&w);  // closed already: nothing to do
  EXPECT_FALSE(file_exists(path));
}

// The data is still in the writer's buffers when it is finished; a FLAC
// writer also still holds samples short of a frame.
TEST_P(AudioWriter, FullDiskFailsTheFinishWithTheFormatsMessage) {
  const FormatCase &fc = GetParam();
  const std::vector<float> in = signal(1000);
  AudioOut w;
  ASSERT_EQ(audio_out_open(&w, "/dev/full", fc.format), 0) << g_err;
  ASSERT_EQ(audio_out_write(&w, in.data(), 1000), 0) << g_err;
  EXPECT_EQ(audio_out_finish(&w), -1);
  EXPECT_EQ(std::string(g_err), std::string(fc.container) + " write failed");
  EXPECT_EQ(w.fmt, nullptr);
}

// Once the disk is full a write fails with the format's message, and
// closing the abandoned file, which still sends what it holds, keeps the
// message of the failure that made the caller give up.
TEST_P(AudioWriter, FullDiskFailsAWriteAndTheCloseKeepsTheMessage) {
  const FormatCase &fc = GetParam();
  // Noise, so that FLAC cannot make the blocks small.
  std::vector<float> noise(2 * 1000);
  uint32_t state = 1;
  for (float &x : noise) {
    state = state * 1664525u + 1013904223u;
    x = (float)(int32_t)state / 2147483648.0f;
  }
  AudioOut w;
  ASSERT_EQ(audio_out_open(&w, "/dev/full", fc.format), 0) << g_err;
  int rc = 0;
  for (int i = 0; i < 100 && rc == 0; i++) rc = audio_out_write(&w, noise.data(), 1000);
  ASSERT_EQ(rc, -1);
  EXPECT_EQ(std::string(g_err), std::string(fc.container) + " write failed");
  EXPECT_EQ(audio_out_write(&w, noise.data(), 0), -1);
  audio_out_close(&w);
  EXPECT_STREQ(g_err, "oom (frame)");
  EXPECT_EQ(w.fmt, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Formats, AudioWriter, testing::ValuesIn(FORMATS),
                         [](const testing::TestParamInfo<FormatCase> &info) {
                           return std::string(audio_format_name(info.param.format));
                         });

TEST(AudioFormats, NamesAndExtensions) {
  const struct {
    AudioFormat format;
    const char *name;
    const char *extension;
  } cases[] = {
      {AudioFormat::WAV16, "wav16", "wav"},    {AudioFormat::WAV24, "wav24", "wav"},
      {AudioFormat::WAV32F, "wav32f", "wav"},  {AudioFormat::FLAC16, "flac16", "flac"},
      {AudioFormat::FLAC24, "flac24", "flac"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STREQ(audio_format_name(c.format), c.name);
    EXPECT_STREQ(audio_format_extension(c.format), c.extension);
    AudioFormat found = AudioFormat::WAV16;
    ASSERT_EQ(audio_format_from_name(c.name, &found), 0);
    EXPECT_EQ(found, c.format);
  }
}

TEST(AudioFormats, UnknownNamesAreRefused) {
  for (const char *name : {"", "wav", "flac", "WAV16", "wav16 ", "mp3", (const char *)nullptr}) {
    SCOPED_TRACE(name ? name : "(null)");
    AudioFormat found = AudioFormat::FLAC24;
    EXPECT_EQ(audio_format_from_name(name, &found), -1);
    EXPECT_EQ(found, AudioFormat::FLAC24);
  }
}

TEST(AudioWriterWav16, FileWithoutBlocksIsAValidEmptyWav) {
  TempDir dir;
  const std::string path = dir / "empty.wav";
  AudioOut w;
  ASSERT_EQ(audio_out_open(&w, path.c_str(), AudioFormat::WAV16), 0) << g_err;
  audio_out_close(&w);

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
  std::map<std::string, std::string> probe = ffprobe(path);
  EXPECT_EQ(probe["codec_name"], "pcm_s16le");
  EXPECT_EQ(probe["channels"], "2");
}

// The project's own parser, which reads no header field the way FFmpeg
// does, agrees on the 16-bit samples.
TEST(AudioWriterWav16, ReadsBackWithTheTestsOwnWavParser) {
  TempDir dir;
  const std::string path = dir / "own.wav";
  const int frames = 3 * 4410 + 7;
  const std::vector<float> in = signal(frames);
  AudioOut w;
  ASSERT_EQ(audio_out_open(&w, path.c_str(), AudioFormat::WAV16), 0) << g_err;
  for (int off = 0; off < frames; off += 4410)
    ASSERT_EQ(audio_out_write(&w, in.data() + 2 * (size_t)off, std::min(4410, frames - off)), 0);
  ASSERT_EQ(audio_out_finish(&w), 0) << g_err;

  testing_support::Wav16 wav = testing_support::read_wav16(path);
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.rate, 44100);
  EXPECT_EQ(wav.bits, 16);
  const std::string want = expected_samples(Sample::S16, frames);
  ASSERT_EQ(wav.samples.size() * 2, want.size());
  EXPECT_EQ(std::memcmp(wav.samples.data(), want.data(), want.size()), 0);
}

}  // namespace
