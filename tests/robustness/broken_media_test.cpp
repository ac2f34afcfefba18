// Every file of the broken-media corpus (tools/make_broken_media.py) goes
// through probe and separate: each ends with valid stems, or with -1 and a
// message that names the problem. Run under the sanitizers, this also shows
// that no input crashes the host or leaks.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ombrelt.h"
#include "support/json_view.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::json_keys;
using testing_support::json_member;
using testing_support::models;
using testing_support::read_wav16;
using testing_support::TempDir;

// How a file must end. Damaged files (bit flips, cuts in the middle of a
// compressed stream, garbage) depend on how far the decoder gets through the
// damage, which may change with the media library's release: for them any
// outcome is accepted as long as it is a clean one.
enum class Expect { Ok, Fails, Either };

struct BrokenCase {
  const char *file;
  Expect probe;
  Expect separate;
  // The exact message of a failure ("%s" stands for the path), when the
  // outcome is fixed.
  const char *probe_message;
  const char *separate_message;
};

const char *const CANNOT_OPEN = "cannot open %s";

const BrokenCase CASES[] = {
    // Nothing there, or a header and nothing after it.
    {"empty.wav", Expect::Fails, Expect::Fails, CANNOT_OPEN, CANNOT_OPEN},
    {"header_only.wav", Expect::Ok, Expect::Fails, nullptr, "audio too short (0 samples)"},
    {"header_claims_data.wav", Expect::Ok, Expect::Fails, nullptr, "audio too short (0 samples)"},
    {"header_cut.wav", Expect::Fails, Expect::Fails, CANNOT_OPEN, CANNOT_OPEN},
    // Headers that lie.
    {"zero_channels.wav", Expect::Fails, Expect::Fails, "no audio stream in %s",
     "no audio stream in %s"},
    {"rate_zero.wav", Expect::Fails, Expect::Fails, CANNOT_OPEN, CANNOT_OPEN},
    {"rate_max.wav", Expect::Fails, Expect::Fails, CANNOT_OPEN, CANNOT_OPEN},
    {"rate_one_hz.wav", Expect::Ok, Expect::Ok, nullptr, nullptr},
    {"bits_zero.wav", Expect::Ok, Expect::Fails, nullptr, "no decoder for codec id 0"},
    {"bits_odd.wav", Expect::Ok, Expect::Ok, nullptr, nullptr},
    {"format_tag_unknown.wav", Expect::Ok, Expect::Fails, nullptr, "no decoder for codec id 0"},
    {"channels_65535.wav", Expect::Ok, Expect::Fails, nullptr, "decoder open failed"},
    {"fmt_size_huge.wav", Expect::Fails, Expect::Fails, CANNOT_OPEN, CANNOT_OPEN},
    {"riff_size_zero.wav", Expect::Ok, Expect::Ok, nullptr, nullptr},
    {"data_size_one_frame.wav", Expect::Ok, Expect::Fails, nullptr, "audio too short (1 samples)"},
    {"float_nan_inf.wav", Expect::Ok, Expect::Ok, nullptr, nullptr},
    // Cut short.
    {"wav_cut_half.wav", Expect::Ok, Expect::Ok, nullptr, nullptr},
    {"wav_cut_short.wav", Expect::Ok, Expect::Fails, nullptr, "audio too short (4409 samples)"},
    {"mp3_cut_1pct.mp3", Expect::Either, Expect::Either, nullptr, nullptr},
    {"mp3_cut_10pct.mp3", Expect::Either, Expect::Either, nullptr, nullptr},
    {"mp3_cut_50pct.mp3", Expect::Either, Expect::Either, nullptr, nullptr},
    {"mp3_cut_90pct.mp3", Expect::Either, Expect::Either, nullptr, nullptr},
    {"flac_cut_half.flac", Expect::Either, Expect::Either, nullptr, nullptr},
    {"flac_cut_header.flac", Expect::Fails, Expect::Fails, CANNOT_OPEN, CANNOT_OPEN},
    {"ogg_cut_half.ogg", Expect::Either, Expect::Either, nullptr, nullptr},
    {"mp4_cut_half.mp4", Expect::Either, Expect::Either, nullptr, nullptr},
    // Damaged.
    {"wav_bitflip.wav", Expect::Either, Expect::Either, nullptr, nullptr},
    {"mp3_bitflip.mp3", Expect::Either, Expect::Either, nullptr, nullptr},
    {"flac_bitflip.flac", Expect::Either, Expect::Either, nullptr, nullptr},
    {"ogg_bitflip.ogg", Expect::Either, Expect::Either, nullptr, nullptr},
    {"mp3_garbage_frames.mp3", Expect::Either, Expect::Either, nullptr, nullptr},
    {"mp3_only_garbage.mp3", Expect::Either, Expect::Fails, nullptr, nullptr},
    // Not media.
    {"random_bytes.bin", Expect::Fails, Expect::Fails, nullptr, nullptr},
    {"text.wav", Expect::Fails, Expect::Fails, CANNOT_OPEN, CANNOT_OPEN},
    // Unusual but valid.
    {"eight_channels.wav", Expect::Ok, Expect::Ok, nullptr, nullptr},
    {"hires_96k_24bit.wav", Expect::Ok, Expect::Ok, nullptr, nullptr},
    {"hires_96k_24bit.flac", Expect::Ok, Expect::Ok, nullptr, nullptr},
    {"mono_8k.wav", Expect::Ok, Expect::Ok, nullptr, nullptr},
    {"video_one_audio_frame.mp4", Expect::Ok, Expect::Fails, nullptr,
     "audio too short (1024 samples)"},
};

// True when text is prefix, then at least one digit (after an optional
// minus), then suffix.
bool number_between(const std::string &text, const std::string &prefix, const std::string &suffix) {
  if (text.size() < prefix.size() + suffix.size() + 1 || text.rfind(prefix, 0) != 0 ||
      text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  std::string number = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  if (number[0] == '-') number.erase(0, 1);
  return !number.empty() && number.find_first_not_of("0123456789") == std::string::npos;
}

// The messages with which probe and decoding may refuse an input.
bool names_the_problem(const std::string &message, const std::string &path) {
  for (const char *prefix : {"cannot open ", "no stream info for ", "no audio stream in "})
    if (message == prefix + path) return true;
  for (const char *fixed : {"decoder open failed", "resampler init failed", "oom",
                            "oom (audio buffer)", "resample failed"})
    if (message == fixed) return true;
  return number_between(message, "no decoder for codec id ", "") ||
         number_between(message, "audio too short (", " samples)");
}

std::string with_path(const char *message, const std::string &path) {
  std::string out = message;
  std::size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, path);
  return out;
}

// The corpus is made once per content of the generator and shared by every
// test process; a process that loses the race to publish it drops its copy.
std::uint64_t fnv1a(const std::string &text) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

fs::path generator() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "tools" /
         "make_broken_media.py";
}

bool run_generator(const std::string &out_dir) {
  pid_t pid = fork();
  if (pid == 0) {
    const std::string script = generator().string();
    execl("/usr/bin/python3", "python3", script.c_str(), out_dir.c_str(), (char *)nullptr);
    _exit(127);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

const std::string &corpus_dir() {
  static const std::string dir = [] {
    std::ifstream script(generator(), std::ios::binary);
    std::stringstream text;
    text << script.rdbuf();
    char key[32];
    std::snprintf(key, sizeof key, "%016llx", (unsigned long long)fnv1a(text.str()));
    const fs::path ready = fs::path(OMBRELT_TEST_MEDIA).parent_path() / ("broken-media-" + std::string(key));
    if (fs::exists(ready / ".complete")) return ready.string();
    std::string pattern = ready.string() + ".tmp-XXXXXX";
    if (!mkdtemp(pattern.data())) return std::string();
    if (!run_generator(pattern)) return std::string();
    std::ofstream(fs::path(pattern) / ".complete").put('\n');
    std::error_code ec;
    fs::rename(pattern, ready, ec);
    if (ec) fs::remove_all(pattern, ec);
    return ready.string();
  }();
  return dir;
}

std::string test_name(const ::testing::TestParamInfo<BrokenCase> &info) {
  std::string name = info.param.file;
  for (char &c : name)
    if (!std::isalnum((unsigned char)c)) c = '_';
  return name;
}

class BrokenMedia : public ::testing::TestWithParam<BrokenCase> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(corpus_dir().empty()) << "cannot make the corpus with " << generator();
    ASSERT_EQ(ombrelt_init(models("identity").c_str()), 0) << ombrelt_last_error();
  }
  void TearDown() override { ombrelt_cleanup(); }
};

void check_outcome(const char *what, Expect expect, const char *exact, int rc, const char *json,
                   const std::string &path) {
  SCOPED_TRACE(what);
  const std::string message = ombrelt_last_error();
  if (expect == Expect::Ok) {
    EXPECT_EQ(rc, 0) << message;
  }
  if (expect == Expect::Fails) {
    EXPECT_EQ(rc, -1) << json;
  }
  if (rc == 0) return;
  EXPECT_EQ(rc, -1);
  EXPECT_STREQ(json, "untouched");
  if (exact) {
    EXPECT_EQ(message, with_path(exact, path));
  } else {
    EXPECT_TRUE(names_the_problem(message, path)) << message;
  }
}

TEST_P(BrokenMedia, EndsCleanlyInProbeAndSeparate) {
  const BrokenCase &c = GetParam();
  const std::string input = corpus_dir() + "/" + c.file;
  ASSERT_TRUE(fs::exists(input));

  const char *json = "untouched";
  int rc = ombrelt_probe(input.c_str(), &json);
  check_outcome("probe", c.probe, c.probe_message, rc, json, input);
  if (rc == 0) {
    std::vector<std::string> keys = json_keys(json);
    std::erase(keys, "codec");
    EXPECT_EQ(keys, (std::vector<std::string>{"duration_s", "sample_rate", "channels", "bitrate"}));
  }

  TempDir tmp;
  const std::string out = tmp / "out";
  json = "untouched";
  rc = ombrelt_separate(input.c_str(), out.c_str(), nullptr, &json);
  check_outcome("separate", c.separate, c.separate_message, rc, json, input);
  if (rc != 0) {
    // Decoding fails before the engine: not even the directory is made.
    EXPECT_FALSE(fs::exists(out));
    return;
  }
  EXPECT_STREQ(ombrelt_last_error(), "");
  const double duration = json_member(json, "duration_s").num;
  const std::size_t frames = (std::size_t)std::llround(duration * 44100.0);
  EXPECT_GE(frames, 4410u);
  for (const char *stem : {"vocals", "other", "bass", "drums", "instrumental"}) {
    SCOPED_TRACE(stem);
    const std::string path = json_member(json, stem).str;
    std::string base = c.file;
    base = base.substr(0, base.rfind('.'));
    EXPECT_EQ(path, out + "/" + base + "_" + stem + ".wav");
    testing_support::Wav16 wav = read_wav16(path);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.rate, 44100);
    EXPECT_EQ(wav.bits, 16);
    EXPECT_EQ(wav.samples.size(), 2 * frames);
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, BrokenMedia, ::testing::ValuesIn(CASES), test_name);

// A file that the generator makes but the table does not list would never
// be tried; a listed file that it does not make would fail above.
TEST(BrokenMediaCorpus, TableListsEveryGeneratedFile) {
  ASSERT_FALSE(corpus_dir().empty());
  std::set<std::string> made;
  for (const auto &entry : fs::directory_iterator(corpus_dir()))
    if (entry.path().filename().string()[0] != '.') made.insert(entry.path().filename().string());
  std::set<std::string> listed;
  for (const BrokenCase &c : CASES) listed.insert(c.file);
  EXPECT_EQ(made, listed);
}

}  // namespace
