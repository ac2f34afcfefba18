#include <gtest/gtest.h>

#include "frame/frame.h"
#include "runtime/runtime.h"

namespace {

TEST(OrtFail, ContextThenTheRuntimeMessage) {
  const OrtApi *ort = ort_api();
  ASSERT_NE(ort, nullptr);
  ort_fail("OrtRun", ort->CreateStatus(ORT_FAIL, "bad things"));
  EXPECT_STREQ(g_err, "OrtRun: bad things");
}

TEST(OrtFail, StatusWithoutMessageReadsUnknown) {
  const OrtApi *ort = ort_api();
  ASSERT_NE(ort, nullptr);
  ort_fail("warmup OrtRun", ort->CreateStatus(ORT_FAIL, ""));
  EXPECT_STREQ(g_err, "warmup OrtRun: unknown");
}

}  // namespace
