#include "session/session_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace session_testing {

Session open_session(const std::string &set, int threads) {
  ombrelt_session_options options{};
  const std::string dir = testing_support::models(set);
  options.model_dir = dir.c_str();
  options.threads = threads;
  char error[512];
  Session s(ombrelt_session_open(&options, error, sizeof error));
  EXPECT_TRUE(s) << set << ": " << error;
  return s;
}

Stems separate_file_to_memory(ombrelt_session *s, const std::string &path,
                              const ombrelt_separate_options *options) {
  ombrelt_input in{};
  in.path = path.c_str();
  ombrelt_stems *stems = nullptr;
  EXPECT_EQ(ombrelt_session_separate_to_memory(s, &in, options, &stems, nullptr),
            OMBRELT_SESSION_OK)
      << ombrelt_session_last_error(s);
  return Stems(stems);
}

std::vector<float> output(const ombrelt_stems &stems, int index) {
  const float *data = stems.data[index];
  if (!data) return {};
  return std::vector<float>(data, data + 2 * stems.frames);
}

std::set<std::string> entries(const std::string &dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator(dir, ec))
    names.insert(e.path().filename().string());
  return names;
}

}  // namespace session_testing
