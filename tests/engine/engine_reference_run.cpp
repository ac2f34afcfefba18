// The engine call of the reference cases, apart from the rest so that it
// follows the engine's entry point alone.
#include "engine/engine.h"
#include "engine/engine_reference.h"
#include "engine/piece_source.h"

namespace engine_reference {

int run_engine(int64_t samples, const std::string &dir) {
  std::vector<float> in = input_signal(samples);
  // Pieces of an odd size, so reads end anywhere relative to the chunks.
  PieceSource memory{&in, 44111};
  SeparationRequest request{{1, 1, 1, 1}, dir.c_str(), "ref"};
  static SeparationResult result;
  return separate_stream(memory.source(), request, &result);
}

}  // namespace engine_reference
