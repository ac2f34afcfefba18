#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/piece_source.h"
#include "frame/frame.h"
#include "ombrelt.h"
#include "api/api.h"
#include "runtime/runtime.h"
#include "support/dir_watch.h"
#include "support/json_view.h"
#include "support/test_support.h"

namespace {

using testing_support::file_exists;
using testing_support::json_keys;
using testing_support::json_member;
using testing_support::models;
using testing_support::read_wav16;
using testing_support::TempDir;

// A deterministic stereo test signal: two tones and some noise, within
// +-amplitude.
std::vector<float> test_signal(int frames, float amplitude) {
  std::vector<float> s(2 * (size_t)frames);
  uint32_t state = 12345;
  for (int n = 0; n < frames; n++) {
    state = state * 1664525u + 1013904223u;
    float noise = ((float)(state >> 8) / 16777216.0f - 0.5f) * 0.2f;
    s[2 * n] = amplitude * (0.6f * std::sin(0.031f * n) + noise);
    s[2 * n + 1] = amplitude * (0.6f * std::sin(0.047f * n + 1.0f) - noise);
  }
  return s;
}

// Separates one stem of `in` through the files and reads it back as floats.
std::vector<float> separate_one(const std::vector<float> &in, int stem) {
  TempDir tmp;
  PieceSource memory{&in, 10007};
  SeparationRequest request{{0, 0, 0, 0}, tmp.path().c_str(), "one"};
  request.stems_wanted[stem] = 1;
  static SeparationResult result;
  EXPECT_EQ(separate_stream(memory.source(), request, &result), 0) << ombrelt_last_error();
  std::vector<int16_t> wav = read_wav16(result.path[stem]).samples;
  std::vector<float> out(wav.size());
  for (size_t i = 0; i < wav.size(); i++) out[i] = (float)wav[i] / 32767.0f;
  return out;
}

class Engine : public ::testing::Test {
 protected:
  void TearDown() override { ombrelt_cleanup(); }
  void load(const char *set) { ASSERT_EQ(ombrelt_init(models(set).c_str()), 0) << ombrelt_last_error(); }
};

TEST_F(Engine, IdentityModelsGiveTheInputBackWhereverTheWindowCovers) {
  load("identity");
  for (int frames : {3000, 4096, 4410, 44100, 103 * 1024, 10 * 44100 + 1}) {
    SCOPED_TRACE(frames);
    std::vector<float> in = test_signal(frames, 0.9f);
    std::vector<float> out = separate_one(in, 0);
    ChunkPlan plan = make_plan(frames);
    std::vector<float> wsum(plan.work_len);
    compute_wsum(plan, wsum.data());
    for (int n = 0; n < frames; n++) {
      if (wsum[n] > WSUM_FLOOR) {
        ASSERT_NEAR(out[2 * n], in[2 * n], 1e-3f) << n;
        ASSERT_NEAR(out[2 * n + 1], in[2 * n + 1], 1e-3f) << n;
      } else {
        ASSERT_EQ(out[2 * n], 0.0f) << n;
        ASSERT_EQ(out[2 * n + 1], 0.0f) << n;
      }
    }
  }
}

struct GainCase {
  const char *set;
  float gain;
};

TEST_F(Engine, ModelOutputScalesTheStem) {
  const GainCase cases[] = {{"zero", 0.0f}, {"gain2", 2.0f}};
  for (const GainCase &c : cases) {
    SCOPED_TRACE(c.set);
    load(c.set);
    std::vector<float> in = test_signal(44100, 0.4f);
    std::vector<float> out = separate_one(in, 2);
    ChunkPlan plan = make_plan(44100);
    std::vector<float> wsum(plan.work_len);
    compute_wsum(plan, wsum.data());
    for (size_t i = 0; i < in.size(); i++) {
      float expected = wsum[i / 2] > WSUM_FLOOR ? c.gain * in[i] : 0.0f;
      ASSERT_NEAR(out[i], expected, 2e-3f) << i;
    }
    ombrelt_cleanup();
  }
}

TEST_F(Engine, SilentBinsStaySilentWhateverTheModelSays) {
  load("gain2");
  std::vector<float> in(2 * 20000, 0.0f);
  std::vector<float> out = separate_one(in, 0);
  for (float v : out) ASSERT_EQ(v, 0.0f);
}

// Runs the engine on `in` and returns the result text of ombrelt_separate.
struct EngineRun {
  int rc;
  std::string json;
};

EngineRun run_engine(const std::vector<float> &in, const int wanted[4], const std::string &dir,
                     const char *base = "song") {
  PieceSource memory{&in};
  SeparationRequest request{{wanted[0], wanted[1], wanted[2], wanted[3]}, dir.c_str(), base};
  static SeparationResult result;
  int rc = separate_stream(memory.source(), request, &result);
  const char *text = nullptr;
  EngineRun r{rc, ""};
  if (rc == 0 && finish_json(separation_json(result, -1), &text) == 0) r.json = text;
  return r;
}

TEST_F(Engine, WritesEveryStemAndTheInstrumentalMixInOrder) {
  load("gain2");
  TempDir tmp;
  const int all[4] = {1, 1, 1, 1};
  std::vector<float> in = test_signal(10 * 44100, 0.1f);
  set_err("stale");
  EngineRun r = run_engine(in, all, tmp.path());
  ASSERT_EQ(r.rc, 0) << ombrelt_last_error();
  EXPECT_STREQ(ombrelt_last_error(), "");

  const std::vector<std::string> keys = {"vocals", "other", "bass", "drums", "instrumental",
                                         "duration_s", "chunks", "elapsed_s"};
  EXPECT_EQ(json_keys(r.json.c_str()), keys);
  EXPECT_EQ(json_member(r.json.c_str(), "duration_s").num, 10.0);
  EXPECT_EQ(json_member(r.json.c_str(), "duration_s").type, "real");
  EXPECT_EQ(json_member(r.json.c_str(), "chunks").num, 6);
  EXPECT_GE(json_member(r.json.c_str(), "elapsed_s").num, 0.0);

  std::vector<std::vector<int16_t>> files;
  for (int k = 0; k < 5; k++) {
    std::string path = json_member(r.json.c_str(), keys[k]).str;
    EXPECT_EQ(path, tmp / ("song_" + keys[k] + ".wav"));
    auto wav = read_wav16(path);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.rate, 44100);
    EXPECT_EQ(wav.bits, 16);
    ASSERT_EQ(wav.samples.size(), in.size()) << path;
    files.push_back(wav.samples);
  }

  ChunkPlan plan = make_plan(10 * 44100);
  for (size_t i = 0; i < in.size(); i++) {
    size_t n = i / 2;
    bool silent = n <= 130 || (int)n >= plan.covered_len - 130;
    for (int k = 0; k < 4; k++) {
      if (silent) {
        ASSERT_EQ(files[k][i], 0) << keys[k] << " sample " << i;
      } else {
        ASSERT_NEAR(files[k][i], std::lrint(2 * in[i] * 32767), 4) << keys[k] << " " << i;
      }
    }
    // The mix is other + bass + drums, up to the rounding of each 16-bit stem.
    ASSERT_NEAR(files[4][i], files[1][i] + files[2][i] + files[3][i], 2) << i;
  }
}

struct SelectionCase {
  int wanted[4];
  std::vector<std::string> files;
};

TEST_F(Engine, WritesOnlyTheWantedStems) {
  load("identity");
  const SelectionCase cases[] = {
      {{1, 0, 0, 0}, {"vocals"}},
      {{0, 1, 1, 1}, {"other", "bass", "drums", "instrumental"}},
      {{0, 1, 1, 0}, {"other", "bass"}},
      {{0, 0, 0, 0}, {}},
  };
  std::vector<float> in = test_signal(4410, 0.5f);
  for (const SelectionCase &c : cases) {
    TempDir tmp;
    std::string out = tmp / "stems/";  // created by the engine; no second slash is added
    EngineRun r = run_engine(in, c.wanted, out);
    ASSERT_EQ(r.rc, 0) << ombrelt_last_error();
    std::vector<std::string> expected_keys = c.files;
    for (const char *k : {"duration_s", "chunks", "elapsed_s"}) expected_keys.push_back(k);
    EXPECT_EQ(json_keys(r.json.c_str()), expected_keys);
    size_t n_files = 0;
    for (auto &entry : std::filesystem::directory_iterator(out)) {
      (void)entry;
      n_files++;
    }
    EXPECT_EQ(n_files, c.files.size());
    for (const std::string &f : c.files)
      EXPECT_EQ(json_member(r.json.c_str(), f).str, out + "song_" + f + ".wav");
  }
}

TEST_F(Engine, FileLengthsFollowTheInput) {
  load("identity");
  const int vocals[4] = {1, 0, 0, 0};
  for (int frames : {4410, 10 * 44100 + 1}) {
    TempDir tmp;
    EngineRun r = run_engine(test_signal(frames, 0.5f), vocals, tmp.path());
    ASSERT_EQ(r.rc, 0) << ombrelt_last_error();
    EXPECT_EQ(read_wav16(tmp / "song_vocals.wav").samples.size(), 2 * (size_t)frames);
  }
}

// An input that breaks after `good` samples, as a damaged file found late.
struct BreakingSource {
  PieceSource memory;
  int64_t good;
  static int64_t read(void *self, float *dst, int64_t max) {
    auto *s = static_cast<BreakingSource *>(self);
    if (s->memory.at >= s->good && s->good < (int64_t)s->memory.samples->size() / 2) {
      set_err("broken at %lld", (long long)s->memory.at);
      return -1;
    }
    return PieceSource::read(&s->memory, dst, std::min(max, s->good - s->memory.at));
  }
};

struct LateFailureCase {
  const char *models;
  int64_t samples, good;  // the input breaks after `good` samples
  const char *message;    // prefix of the message
};

TEST_F(Engine, AFailureOnTheWayLeavesNothingButWhatWasThere) {
  const LateFailureCase cases[] = {
      // A model that fails on the first chunk with signal in it.
      {"fails_on_signal", 44100, 44100, "OrtRun: "},
      // An input broken in the third chunk, after stems have been written.
      {"identity", 10 * 44100, 200000, "broken at 200000"},
      // An input broken just before its end would be known.
      {"identity", 10 * 44100, 10 * 44100 - 1, "broken at 440999"},
  };
  for (const LateFailureCase &c : cases) {
    SCOPED_TRACE(std::string(c.models) + " " + std::to_string(c.good));
    load(c.models);
    std::vector<float> in = test_signal((int)c.samples, 0.1f);
    for (bool dir_exists : {false, true}) {
      TempDir tmp;
      const std::string out = tmp / "out";
      std::unique_ptr<testing_support::DirWatch> watch;
      if (dir_exists) {
        std::filesystem::create_directory(out);
        std::ofstream(out + "/song_vocals.wav") << "an older vocals file";
        watch = std::make_unique<testing_support::DirWatch>(out);
      }
      BreakingSource source{{&in, 30011}, c.good};
      SeparationRequest request{{1, 1, 1, 1}, out.c_str(), "song"};
      static SeparationResult result;
      EXPECT_EQ(separate_stream({BreakingSource::read, &source}, request, &result), -1);
      EXPECT_EQ(std::string(ombrelt_last_error()).rfind(c.message, 0), 0u) << ombrelt_last_error();
      if (!dir_exists) {
        // The directory the engine made goes again.
        EXPECT_FALSE(file_exists(out));
        continue;
      }
      // Only hidden temporaries ever appeared, and none is left.
      EXPECT_EQ(testing_support::finished_names(watch->appeared()), std::set<std::string>{});
      EXPECT_EQ(testing_support::entries_of(out), std::set<std::string>{"song_vocals.wav"});
      std::ifstream older(out + "/song_vocals.wav");
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(older), {}), "an older vocals file");
    }
    ombrelt_cleanup();
  }
}

TEST_F(Engine, StaleTemporariesOfTheStemsItWritesAreRemoved) {
  load("identity");
  TempDir tmp;
  // A process that has ended.
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  const std::string self = std::to_string(getpid());
  const std::string removed[] = {".song_vocals.wav." + std::to_string(dead) + ".tmp",
                                 ".song_vocals.wav." + self + ".tmp"};
  const std::string kept[] = {
      ".song_vocals.wav.1.tmp",                                // init is alive: its writer too
      ".song_other.wav." + std::to_string(dead) + ".tmp",      // not a stem of this call
      ".other_vocals.wav." + std::to_string(dead) + ".tmp",    // another base name
      ".song_vocals.wav.12x.tmp", "song_vocals.wav.5.tmp",     // not temporaries
  };
  for (const std::string &name : removed) std::ofstream(tmp / name) << "stale";
  for (const std::string &name : kept) std::ofstream(tmp / name) << "kept";
  const int vocals[4] = {1, 0, 0, 0};
  ASSERT_EQ(run_engine(test_signal(4410, 0.5f), vocals, tmp.path()).rc, 0) << ombrelt_last_error();
  std::set<std::string> expected(std::begin(kept), std::end(kept));
  expected.insert("song_vocals.wav");
  EXPECT_EQ(testing_support::entries_of(tmp.path()), expected);
}

TEST_F(Engine, AnUnwritableDirectoryFailsAtTheFirstFile) {
  load("identity");
  TempDir tmp;
  // A directory below a regular file can be neither made nor written, even by root.
  testing_support::write_float_wav(tmp / "plain", {0.0f, 0.0f}, 2, 44100);
  std::string out = tmp / "plain/out";
  const int all[4] = {1, 1, 1, 1};
  EngineRun r = run_engine(test_signal(44100, 0.5f), all, out);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(std::string(ombrelt_last_error()),
            "cannot open " + out + "/song_vocals.wav for writing");
}

}  // namespace
