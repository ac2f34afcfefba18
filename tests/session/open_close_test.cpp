#include <gtest/gtest.h>

#include <string>

#include "session/session_fixture.h"
#include "support/json_view.h"
#include "support/test_support.h"

namespace {

using session_testing::Session;
using testing_support::media;
using testing_support::models;

TEST(SessionOpen, RefusesWhatItCannotOpenWithAMessage) {
  const std::string missing = models("missing_bass");
  const std::string nowhere = "/nonexistent-ombrelt-models";
  struct Case {
    const char *dir;
    int threads;
    const char *message_start;
  } cases[] = {
      {nowhere.c_str(), -1, "threads must be 0 to 64"},
      {nowhere.c_str(), 65, "threads must be 0 to 64"},
      {nowhere.c_str(), 0, "OrtCreateSession: "},
      {missing.c_str(), 2, "OrtCreateSession: "},
  };
  for (const Case &c : cases) {
    ombrelt_session_options options{c.dir, c.threads};
    char error[256] = "untouched";
    EXPECT_EQ(ombrelt_session_open(&options, error, sizeof error), nullptr) << c.dir;
    EXPECT_EQ(std::string(error).rfind(c.message_start, 0), 0u) << error;
    // Without a buffer the failure is still a plain null.
    EXPECT_EQ(ombrelt_session_open(&options, nullptr, 0), nullptr);
  }
  // A buffer of one byte gets just the terminating zero.
  ombrelt_session_options bad{nowhere.c_str(), 99};
  char tiny[1] = {'x'};
  EXPECT_EQ(ombrelt_session_open(&bad, tiny, sizeof tiny), nullptr);
  EXPECT_EQ(tiny[0], '\0');
}

TEST(SessionOpen, WithoutModelsProbesButDoesNotSeparate) {
  Session s(ombrelt_session_open(nullptr, nullptr, 0));
  ASSERT_TRUE(s);
  const char *json = nullptr;
  const std::string file = media("stereo_44k_2s.wav");
  ASSERT_EQ(ombrelt_session_probe(s.get(), file.c_str(), &json), OMBRELT_SESSION_OK);
  EXPECT_EQ(testing_support::json_keys(json),
            (std::vector<std::string>{"duration_s", "sample_rate", "channels", "codec", "bitrate"}));
  EXPECT_STREQ(ombrelt_session_last_error(s.get()), "");

  ombrelt_input in{};
  in.path = file.c_str();
  ombrelt_separate_options o{};
  o.out_dir = "unused";
  EXPECT_EQ(ombrelt_session_separate(s.get(), &in, &o, &json), OMBRELT_SESSION_ERROR);
  EXPECT_STREQ(ombrelt_session_last_error(s.get()), "session has no models");
}

TEST(SessionOpen, ProbeFailuresAreTheSessionsOwn) {
  Session a(ombrelt_session_open(nullptr, nullptr, 0));
  Session b(ombrelt_session_open(nullptr, nullptr, 0));
  const char *json = nullptr;
  EXPECT_EQ(ombrelt_session_probe(a.get(), "/nonexistent.wav", &json), OMBRELT_SESSION_ERROR);
  EXPECT_STREQ(ombrelt_session_last_error(a.get()), "cannot open /nonexistent.wav");
  EXPECT_STREQ(ombrelt_session_last_error(b.get()), "");
  EXPECT_EQ(ombrelt_session_probe(a.get(), "", &json), OMBRELT_SESSION_ERROR);
  EXPECT_STREQ(ombrelt_session_last_error(a.get()), "empty input path");
  EXPECT_EQ(ombrelt_session_probe(a.get(), nullptr, &json), OMBRELT_SESSION_ERROR);
  EXPECT_EQ(ombrelt_session_probe(a.get(), "x.wav", nullptr), OMBRELT_SESSION_ERROR);
  EXPECT_STREQ(ombrelt_session_last_error(a.get()), "json_out is null");
  // The next call that succeeds empties the message.
  const std::string file = media("stereo_44k_2s.wav");
  EXPECT_EQ(ombrelt_session_probe(a.get(), file.c_str(), &json), OMBRELT_SESSION_OK);
  EXPECT_STREQ(ombrelt_session_last_error(a.get()), "");
}

TEST(SessionOpen, NullSessionsAreRefusedOrIgnored) {
  const char *json = nullptr;
  ombrelt_input in{};
  ombrelt_stems *stems = reinterpret_cast<ombrelt_stems *>(&in);
  EXPECT_STREQ(ombrelt_session_last_error(nullptr), "session is null");
  EXPECT_EQ(ombrelt_session_probe(nullptr, "x", &json), OMBRELT_SESSION_ERROR);
  EXPECT_EQ(ombrelt_session_separate(nullptr, &in, nullptr, &json), OMBRELT_SESSION_ERROR);
  EXPECT_EQ(ombrelt_session_separate_to_memory(nullptr, &in, nullptr, &stems, &json),
            OMBRELT_SESSION_ERROR);
  EXPECT_EQ(stems, nullptr);
  ombrelt_session_cancel(nullptr);
  ombrelt_session_close(nullptr);
  ombrelt_session_free_stems(nullptr);
  for (int level : {-5, OMBRELT_LOG_QUIET, 99, OMBRELT_LOG_INFO}) ombrelt_session_set_log_level(level);
  EXPECT_STREQ(ombrelt_session_version(), "1.0.0");
}

}  // namespace
