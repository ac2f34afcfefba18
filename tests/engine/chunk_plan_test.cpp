#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "engine/window.h"

namespace {

struct PlanCase {
  int64_t samples, n_frames, n_chunks, covered_len, work_len;
};

TEST(ChunkPlan, MatchesTheWorkedPlans) {
  const PlanCase cases[] = {
      {4096, 1, 1, 4096, 4096},
      {4097, 1, 1, 4096, 4097},
      {4410, 1, 1, 4096, 4410},
      {44100, 40, 1, 43 * 1024, 44100},
      {103 * 1024 - 1, 99, 1, 102 * 1024, 103 * 1024 - 1},
      {103 * 1024, 100, 2, 103 * 1024, 103 * 1024},
      {10 * 44100, 427, 6, 430 * 1024, 10 * 44100},
      {10 * 44100 + 1, 427, 6, 430 * 1024, 10 * 44100 + 1},
      {1, 1, 1, 4096, 4096},
      // Past 2^31 samples (13.5 hours) every count still holds.
      {3000000000, 2929684, 39063, 2929687LL * 1024, 3000000000},
  };
  for (const PlanCase &c : cases) {
    SCOPED_TRACE(c.samples);
    ChunkPlan plan = make_plan(c.samples);
    EXPECT_EQ(plan.n_frames, c.n_frames);
    EXPECT_EQ(plan.n_chunks, c.n_chunks);
    EXPECT_EQ(plan.covered_len, c.covered_len);
    EXPECT_EQ(plan.work_len, c.work_len);
    EXPECT_EQ(plan.covered_len, (plan.n_frames - 1) * HOP + N_FFT);

    // Every frame of the plan is added exactly once, in increasing order,
    // and every frame lies inside the working length.
    std::vector<int64_t> added;
    for (int64_t ch = 0; ch < plan.n_chunks; ch++) {
      EXPECT_LE(chunk_frames(plan, ch), T_CHUNK);
      for (int f = keep_from(plan, ch); f < chunk_frames(plan, ch); f++)
        added.push_back(chunk_start(ch) + f);
    }
    ASSERT_EQ((int)added.size(), plan.n_frames);
    for (int64_t k = 0; k < plan.n_frames; k++) ASSERT_EQ(added[k], k);
    // A chunk is the last exactly when the input ends within its frames.
    for (int64_t ch = 0; ch < plan.n_chunks; ch++)
      EXPECT_EQ(is_last_chunk(ch, c.samples), ch == plan.n_chunks - 1) << ch;
    EXPECT_LE((long)(plan.n_frames - 1) * HOP + N_FFT, plan.work_len);
  }
}

TEST(ChunkPlan, TenSecondsAddsTheDocumentedFramesPerChunk) {
  ChunkPlan plan = make_plan(10 * 44100);
  const int first_added[] = {0, 100, 175, 250, 325, 400};
  const int last_added[] = {99, 174, 249, 324, 399, 426};
  for (int c = 0; c < plan.n_chunks; c++) {
    EXPECT_EQ(chunk_start(c), 75 * c);
    EXPECT_EQ(chunk_start(c) + keep_from(plan, c), first_added[c]);
    EXPECT_EQ(chunk_start(c) + chunk_frames(plan, c) - 1, last_added[c]);
  }
}

TEST(ChunkPlan, LastChunkOfAMultipleAddsNothing) {
  ChunkPlan plan = make_plan(103 * 1024);
  EXPECT_EQ(chunk_frames(plan, 1), 25);
  EXPECT_EQ(keep_from(plan, 1), 25);
}

TEST(WindowSquareSum, NormalisesOverlapAddAcrossEveryPlan) {
  build_windows();
  for (int samples : {4096, 4097, 4410, 44100, 103 * 1024 - 1, 103 * 1024, 10 * 44100 + 1}) {
    SCOPED_TRACE(samples);
    ChunkPlan plan = make_plan(samples);
    std::vector<float> wsum(plan.work_len, -1.0f);
    compute_wsum(plan, wsum.data());

    EXPECT_EQ(wsum[0], 0.0f);
    for (int n = 0; n < 1024; n++) ASSERT_EQ(wsum[n], g_win2[n]) << n;
    for (int n = 0; n <= 130; n++) ASSERT_LE(wsum[n], WSUM_FLOOR) << n;
    for (int n = plan.covered_len - 130; n < plan.covered_len; n++)
      ASSERT_LE(wsum[n], WSUM_FLOOR) << n;
    for (int n = 131; n < plan.covered_len - 130; n++) ASSERT_GT(wsum[n], WSUM_FLOOR) << n;
    for (int n = 3072; n < plan.covered_len - 3072; n++) ASSERT_NEAR(wsum[n], 1.5f, 1e-6f) << n;
    for (int n = plan.covered_len; n < plan.work_len; n++) ASSERT_EQ(wsum[n], 0.0f) << n;
  }
}

}  // namespace
