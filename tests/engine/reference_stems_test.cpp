// The engine's stems against the committed references (engine_reference.h),
// made by the engine before it streamed and before its transforms moved to
// KissFFT: every kept value within one 16-bit step, the exact length, and,
// reported but not required, whether each whole stem is still bit for bit
// the same (it was, until the transforms changed).
//
// Where the window-square sum falls towards its floor at the two ends of the
// covered range, dividing by it magnifies the transforms' rounding up to ten
// thousand times; there the two transforms may differ by a few steps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/engine.h"
#include "engine/engine_reference.h"
#include "ombrelt.h"
#include "support/test_support.h"

namespace {

using namespace engine_reference;

// Below this window-square sum a sample is at the magnified edge.
constexpr float EDGE_WSUM = 0.01f;
constexpr int EDGE_STEPS = 4;

class ReferenceStems : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(ombrelt_init(OMBRELT_DEFAULT_MODELS), 0) << ombrelt_last_error();
  }
  static void TearDownTestSuite() { ombrelt_cleanup(); }
};

TEST_P(ReferenceStems, MatchWithinOneStep) {
  const Case c = GetParam();
  Reference ref;
  ASSERT_TRUE(read_reference(std::string(OMBRELT_ENGINE_REFERENCE) + "/" + c.name + ".ref", &ref));
  ASSERT_EQ(ref.samples, c.samples);

  testing_support::TempDir tmp;
  ASSERT_EQ(run_engine(c.samples, tmp.path()), 0) << ombrelt_last_error();
  std::vector<int16_t> stems[N_FILES];
  for (int f = 0; f < N_FILES; f++) {
    stems[f] = testing_support::read_wav16(tmp / (std::string("ref_") + FILE_STEMS[f] + ".wav"))
                   .samples;
    ASSERT_EQ(stems[f].size(), 2 * (size_t)c.samples) << FILE_STEMS[f];
  }
  Reference now = extract(c.samples, stems);
  ASSERT_EQ(now.values.size(), ref.values.size());
  const std::vector<int64_t> at = positions(c.samples);
  const ChunkPlan plan = make_plan(c.samples);
  for (size_t i = 0; i < ref.values.size(); i++) {
    const size_t per_position = 2 * N_FILES;
    float wsum = 0.0f;
    compute_wsum_range(plan, at[i / per_position], at[i / per_position] + 1, &wsum);
    ASSERT_LE(std::abs(now.values[i] - ref.values[i]), wsum >= EDGE_WSUM ? 1 : EDGE_STEPS)
        << FILE_STEMS[(i % per_position) / 2] << " sample " << at[i / per_position] << " channel "
        << i % 2;
  }
  std::string exact;
  for (int f = 0; f < N_FILES; f++)
    exact += std::string(FILE_STEMS[f]) + (now.checksum[f] == ref.checksum[f] ? "=" : "~") + " ";
  RecordProperty("bit_for_bit", exact);
  std::printf("%s: bit for bit (= same, ~ within one step): %s\n", c.name, exact.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cases, ReferenceStems, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<Case> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
