#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "session/session_fixture.h"
#include "support/test_support.h"

namespace {

using session_testing::open_session;
using session_testing::output;
using session_testing::separate_file_to_memory;
using session_testing::Stems;
using testing_support::media;

// The five outputs of a separation, one after the other.
std::vector<std::vector<float>> outputs(const Stems &stems) {
  std::vector<std::vector<float>> all;
  if (!stems) return all;
  for (int o = 0; o < OMBRELT_OUTPUT_COUNT; o++) all.push_back(output(*stems, o));
  return all;
}

// Sessions share nothing: two of them separating at the same time, on two
// threads, give what each gives alone, and so do sessions of any thread
// count (the stem_gains models give every stem its own values).
TEST(SessionThreads, SideBySideGiveWhatEachGivesAlone) {
  const std::string files[2] = {media("stereo_44k_10s.wav"), media("stereo_48k_2s.wav")};
  std::vector<std::vector<float>> alone[2];
  {
    auto s = open_session("stem_gains");
    for (int i = 0; i < 2; i++) alone[i] = outputs(separate_file_to_memory(s.get(), files[i]));
  }
  ASSERT_EQ(alone[0].size(), 5u);
  ASSERT_FALSE(alone[0][0].empty());

  for (int threads : {0, 1, 2}) {
    std::vector<std::vector<float>> together[2];
    auto run = [&](int i) {
      auto s = open_session("stem_gains", threads);
      // Twice each, so that the two runs overlap for long.
      for (int round = 0; round < 2; round++)
        together[i] = outputs(separate_file_to_memory(s.get(), files[i]));
    };
    std::thread other(run, 1);
    run(0);
    other.join();
    for (int i = 0; i < 2; i++) EXPECT_EQ(together[i], alone[i]) << "threads " << threads;
  }
}

}  // namespace
