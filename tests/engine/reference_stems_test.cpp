// The engine's stems against the committed references (engine_reference.h):
// every kept value within one 16-bit step, the exact length, and, reported
// but not required, whether each whole stem is still bit for bit the same
// (it is while the transforms are unchanged).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/engine_reference.h"
#include "ombrelt.h"
#include "support/test_support.h"

namespace {

using namespace engine_reference;

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
  for (size_t i = 0; i < ref.values.size(); i++) {
    const size_t per_position = 2 * N_FILES;
    ASSERT_LE(std::abs(now.values[i] - ref.values[i]), 1)
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
