#include <gtest/gtest.h>

#include <string>

#include "frame/frame.h"
#include "ombrelt.h"
#include "runtime/runtime.h"
#include "support/test_support.h"

namespace {

using testing_support::models;

bool no_handle_held() {
  for (OrtSession *s : g_sess)
    if (s) return false;
  return !g_env && !g_mem;
}

bool all_handles_held() {
  for (OrtSession *s : g_sess)
    if (!s) return false;
  return g_env && g_mem && g_alloc;
}

// Every test starts and ends without a loaded runtime.
class RuntimeInit : public ::testing::Test {
 protected:
  void SetUp() override { ombrelt_cleanup(); }
  void TearDown() override { ombrelt_cleanup(); }
};

TEST_F(RuntimeInit, LoadsAllModelsAndClearsTheError) {
  set_err("stale failure");
  ASSERT_EQ(ombrelt_init(models("identity").c_str()), 0) << g_err;
  EXPECT_STREQ(g_err, "");
  EXPECT_EQ(g_ready, 1);
  EXPECT_TRUE(all_handles_held());
}

TEST_F(RuntimeInit, SecondInitReturnsAtOnceWithoutLookingAtItsArgument) {
  ASSERT_EQ(ombrelt_init(models("identity").c_str()), 0) << g_err;
  OrtSession *first = g_sess[0];
  set_err("left alone");
  EXPECT_EQ(ombrelt_init(nullptr), 0);
  EXPECT_EQ(ombrelt_init(models("missing_bass").c_str()), 0);
  EXPECT_STREQ(g_err, "left alone");
  EXPECT_EQ(g_sess[0], first);
}

TEST_F(RuntimeInit, CleanupBeforeInitAndTwiceIsHarmless) {
  ombrelt_cleanup();
  ombrelt_cleanup();
  EXPECT_EQ(g_ready, 0);
  EXPECT_TRUE(no_handle_held());

  ASSERT_EQ(ombrelt_init(models("identity").c_str()), 0) << g_err;
  ombrelt_cleanup();
  ombrelt_cleanup();
  EXPECT_EQ(g_ready, 0);
  EXPECT_TRUE(no_handle_held());
}

TEST_F(RuntimeInit, InitAfterCleanupLoadsAgain) {
  ASSERT_EQ(ombrelt_init(models("identity").c_str()), 0) << g_err;
  ombrelt_cleanup();
  ASSERT_EQ(ombrelt_init(models("gain2").c_str()), 0) << g_err;
  EXPECT_TRUE(all_handles_held());
  // The second directory is the one in use.
  static float in[MODEL_BLOCK_FLOATS], out[MODEL_BLOCK_FLOATS];
  in[7] = 1.5f;
  ASSERT_EQ(run_stem_model(g_sess[0], in, out, ENGINE_CONTEXTS), 0) << g_err;
  EXPECT_EQ(out[7], 3.0f);
}

TEST_F(RuntimeInit, DirectoryWithTrailingSlash) {
  ASSERT_EQ(ombrelt_init((models("identity") + "/").c_str()), 0) << g_err;
  EXPECT_TRUE(all_handles_held());
}

// The runtime keeps one environment per process, so a host that made its
// own first hands ours its settings: the models must still load and run.
TEST_F(RuntimeInit, LoadsBesideAHostsOwnEnvironment) {
  const OrtApi *ort = ort_api();
  OrtEnv *host_env = nullptr;
  ASSERT_EQ(ort->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "host", &host_env), nullptr);
  const int rc = ombrelt_init(models("gain2").c_str());
  std::string error = g_err;
  static float in[MODEL_BLOCK_FLOATS], out[MODEL_BLOCK_FLOATS];
  in[3] = 2.0f;
  const int run = rc == 0 ? run_stem_model(g_sess[2], in, out, ENGINE_CONTEXTS) : -1;
  ombrelt_cleanup();
  ort->ReleaseEnv(host_env);
  ASSERT_EQ(rc, 0) << error;
  EXPECT_EQ(run, 0) << g_err;
  EXPECT_EQ(out[3], 4.0f);
}

struct FailCase {
  const char *set;  // null: pass a null model_dir
  const char *message;
  bool whole;  // message is the whole text, not only its start
};

TEST_F(RuntimeInit, FailuresReleaseEverythingAndAllowAFreshStart) {
  const FailCase cases[] = {
      {nullptr, "model_dir is empty", true},
      {"", "model_dir is empty", true},
      {"missing_bass", "OrtCreateSession: ", false},
      {"no_such_set", "OrtCreateSession: ", false},
      {"wrong_input_name", "warmup OrtRun: ", false},
      {"wrong_shape", "warmup OrtRun: ", false},
      {"short_output", "warmup out ptr: output 0 holds 204900 values, expected 409800", true},
      {"double_output", "warmup out ptr: output 0 is not float32", true},
  };
  for (const FailCase &c : cases) {
    std::string dir = c.set && *c.set ? models(c.set) : "";
    const char *arg = c.set ? dir.c_str() : nullptr;
    SCOPED_TRACE(c.set ? c.set : "(null)");
    set_err("previous");
    EXPECT_EQ(ombrelt_init(arg), -1);
    if (c.whole)
      EXPECT_STREQ(g_err, c.message);
    else
      EXPECT_EQ(std::string(g_err).rfind(c.message, 0), 0u) << g_err;
    EXPECT_EQ(g_ready, 0);
    EXPECT_TRUE(no_handle_held());
  }
  ASSERT_EQ(ombrelt_init(models("identity").c_str()), 0) << g_err;
  EXPECT_TRUE(all_handles_held());
}

}  // namespace
