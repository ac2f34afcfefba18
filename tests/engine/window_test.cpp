#include <gtest/gtest.h>

#include "engine/window.h"

namespace {

TEST(Windows, PeriodicHannValues) {
  build_windows();
  struct Case {
    int index;
    float value;
  };
  for (Case c : {Case{0, 0.0f}, Case{1024, 0.5f}, Case{2048, 1.0f}, Case{3072, 0.5f}})
    EXPECT_EQ(g_win[c.index], c.value) << "g_win[" << c.index << "]";
  // Periodic, not symmetric: only index 0 is zero, the last value mirrors [1].
  EXPECT_GT(g_win[4095], 0.0f);
  EXPECT_NEAR(g_win[4095], g_win[1], 1e-7);
  EXPECT_EQ(g_win2[2048], 1.0f);
  for (int i = 0; i < N_FFT; i++) ASSERT_EQ(g_win2[i], g_win[i] * g_win[i]) << i;
}

}  // namespace
