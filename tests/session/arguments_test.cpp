#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "session/session_fixture.h"
#include "support/test_support.h"

namespace {

using session_testing::entries;
using session_testing::open_session;
using testing_support::media;
using testing_support::TempDir;

// Every argument a separation can get wrong, each refused with its message
// before anything is read or written, the session staying usable.
TEST(SessionArguments, AreCheckedBeforeAnythingIsDone) {
  auto s = open_session("identity");
  TempDir tmp;
  const std::string file = media("stereo_44k_2s.wav");
  const std::string out = tmp / "out";
  const std::vector<float> samples(2 * 44100, 0.1f);

  struct Case {
    const char *name;
    void (*shape)(ombrelt_input &, ombrelt_separate_options &);
    const char *message;
  } cases[] = {
      // Any pointer will do: the samples are refused before they are read.
      {"both inputs",
       [](ombrelt_input &in, ombrelt_separate_options &) {
         in.samples = reinterpret_cast<const float *>(&in);
       },
       "set exactly one of input path and samples"},
      {"no input", [](ombrelt_input &in, ombrelt_separate_options &) { in.path = nullptr; },
       "set exactly one of input path and samples"},
      {"empty path", [](ombrelt_input &in, ombrelt_separate_options &) { in.path = ""; },
       "empty input path"},
      {"unknown output bit", [](ombrelt_input &, ombrelt_separate_options &o) { o.outputs = 32; },
       "unknown outputs"},
      {"unknown format",
       [](ombrelt_input &, ombrelt_separate_options &o) { o.format = (ombrelt_format)5; },
       "unknown format"},
      // As a C caller may store it, which C++ cannot say through the enum.
      {"negative format",
       [](ombrelt_input &, ombrelt_separate_options &o) {
         const int minus_one = -1;
         std::memcpy(&o.format, &minus_one, sizeof minus_one);
       },
       "unknown format"},
      {"two path outputs",
       [](ombrelt_input &, ombrelt_separate_options &o) {
         o.path_output = OMBRELT_OUTPUT_VOCALS | OMBRELT_OUTPUT_BASS;
         o.path = "x.wav";
       },
       "path_output must be one output"},
      {"path output not asked for",
       [](ombrelt_input &, ombrelt_separate_options &o) {
         o.outputs = OMBRELT_OUTPUT_VOCALS;
         o.path_output = OMBRELT_OUTPUT_BASS;
         o.path = "x.wav";
       },
       "path_output must be one of the outputs asked for"},
      {"path output without path",
       [](ombrelt_input &, ombrelt_separate_options &o) { o.path_output = OMBRELT_OUTPUT_BASS; },
       "path is empty"},
      {"no out_dir", [](ombrelt_input &, ombrelt_separate_options &o) { o.out_dir = nullptr; },
       "out_dir is empty"},
      {"empty out_dir", [](ombrelt_input &, ombrelt_separate_options &o) { o.out_dir = ""; },
       "out_dir is empty"},
      {"missing file",
       [](ombrelt_input &in, ombrelt_separate_options &) { in.path = "/nonexistent.wav"; },
       "cannot open /nonexistent.wav"},
  };
  for (const Case &c : cases) {
    ombrelt_input in{};
    in.path = file.c_str();
    ombrelt_separate_options o{};
    o.out_dir = out.c_str();
    c.shape(in, o);
    const char *json = nullptr;
    EXPECT_EQ(ombrelt_session_separate(s.get(), &in, &o, &json), OMBRELT_SESSION_ERROR) << c.name;
    EXPECT_STREQ(ombrelt_session_last_error(s.get()), c.message) << c.name;
    EXPECT_EQ(json, nullptr) << c.name;
    EXPECT_TRUE(entries(out).empty()) << c.name;
  }

  ombrelt_input in{};
  in.path = file.c_str();
  ombrelt_separate_options o{};
  o.out_dir = out.c_str();
  EXPECT_EQ(ombrelt_session_separate(s.get(), nullptr, &o, nullptr), OMBRELT_SESSION_ERROR);
  EXPECT_STREQ(ombrelt_session_last_error(s.get()), "input is null");
  EXPECT_EQ(ombrelt_session_separate(s.get(), &in, &o, nullptr), OMBRELT_SESSION_ERROR);
  EXPECT_STREQ(ombrelt_session_last_error(s.get()), "json_out is null");
  EXPECT_EQ(ombrelt_session_separate_to_memory(s.get(), &in, &o, nullptr, nullptr),
            OMBRELT_SESSION_ERROR);
  EXPECT_STREQ(ombrelt_session_last_error(s.get()), "stems_out is null");

  // Samples in memory need a name for their files.
  ombrelt_input memory{};
  memory.samples = samples.data();
  memory.frames = 44100;
  memory.channels = 2;
  memory.sample_rate = 44100;
  const char *json = nullptr;
  EXPECT_EQ(ombrelt_session_separate(s.get(), &memory, &o, &json), OMBRELT_SESSION_ERROR);
  EXPECT_STREQ(ombrelt_session_last_error(s.get()), "base_name is needed for samples in memory");

  // Still usable, and a NULL options pointer means the defaults (all five
  // outputs), which for files lack only out_dir.
  EXPECT_EQ(ombrelt_session_separate(s.get(), &in, nullptr, &json), OMBRELT_SESSION_ERROR);
  EXPECT_STREQ(ombrelt_session_last_error(s.get()), "out_dir is empty");
  ASSERT_EQ(ombrelt_session_separate(s.get(), &in, &o, &json), OMBRELT_SESSION_OK)
      << ombrelt_session_last_error(s.get());
  EXPECT_STREQ(ombrelt_session_last_error(s.get()), "");
  EXPECT_EQ(entries(out),
            (std::set<std::string>{"stereo_44k_2s_vocals.wav", "stereo_44k_2s_other.wav",
                                   "stereo_44k_2s_bass.wav", "stereo_44k_2s_drums.wav",
                                   "stereo_44k_2s_instrumental.wav"}));
}

}  // namespace
