// The engine call of the reference cases, apart from the rest so that it
// follows the engine's entry point alone.
#include "engine/engine.h"
#include "engine/engine_reference.h"

namespace engine_reference {

int run_engine(int64_t samples, const std::string &dir) {
  std::vector<float> in = input_signal(samples);
  const int all[4] = {1, 1, 1, 1};
  return do_separate(in.data(), (int)samples, all, dir.c_str(), "ref", nullptr, nullptr);
}

}  // namespace engine_reference
