// Checkpoints written by PyTorch, converted by tools/umx/convert_checkpoint.py
// at build time, run through the library's own model call: their outputs
// must be those of the NumPy reference forward pass (computed at build time
// from the same checkpoints by tests/umx/make_expected_blocks.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "ombrelt.h"
#include "runtime/runtime.h"

namespace {

constexpr double TOLERANCE = 1e-4;  // of the largest expected magnitude

std::vector<float> read_block(const std::string &path) {
  std::vector<float> block(MODEL_BLOCK_FLOATS);
  std::ifstream f(path, std::ios::binary);
  f.read(reinterpret_cast<char *>(block.data()), (std::streamsize)(block.size() * sizeof(float)));
  EXPECT_EQ(f.gcount(), (std::streamsize)(block.size() * sizeof(float))) << path;
  return block;
}

std::vector<std::string> case_names() {
  std::ifstream f(std::string(OMBRELT_UMX_BLOCKS) + "/cases.txt");
  std::vector<std::string> names;
  for (std::string line; std::getline(f, line);)
    if (!line.empty()) names.push_back(line);
  return names;
}

TEST(ConvertedCheckpoint, EveryStemMatchesTheReferenceForwardPass) {
  ombrelt_cleanup();
  ASSERT_EQ(ombrelt_init(OMBRELT_UMX_MODELS), 0) << g_err;
  const std::vector<std::string> names = case_names();
  ASSERT_FALSE(names.empty());
  double worst = 0.0;
  for (const std::string &name : names) {
    const std::string base = std::string(OMBRELT_UMX_BLOCKS) + "/" + name;
    const std::vector<float> in = read_block(base + ".input.f32");
    const std::vector<float> expected = read_block(base + ".expected.f32");
    double peak = 0.0;
    for (float v : expected) peak = std::max(peak, (double)std::fabs(v));
    for (int s = 0; s < N_STEMS; s++) {
      SCOPED_TRACE(name + ", " + OUTPUT_NAMES[s]);
      std::vector<float> out(MODEL_BLOCK_FLOATS, NAN);
      ASSERT_EQ(run_stem_model(g_sess[s], in.data(), out.data(), ENGINE_CONTEXTS), 0) << g_err;
      double error = 0.0;
      long at = 0;
      for (long i = 0; i < MODEL_BLOCK_FLOATS; i++) {
        double d = std::fabs((double)out[i] - expected[i]);
        if (!(d <= error)) {  // NaN counts as the worst
          error = std::isnan(d) ? INFINITY : d;
          at = i;
        }
      }
      EXPECT_LE(error, TOLERANCE * peak)
          << "float " << at << ": " << out[at] << " instead of " << expected[at];
      if (peak > 0) worst = std::max(worst, error / peak);
      std::printf("%s %s: peak %.6g, max error %.3g (%.3g of the peak)\n", name.c_str(),
                  OUTPUT_NAMES[s], peak, error, peak > 0 ? error / peak : 0.0);
    }
  }
  RecordProperty("max_error_of_peak", std::to_string(worst));
  ombrelt_cleanup();
}

}  // namespace
