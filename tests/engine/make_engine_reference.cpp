// Writes the reference stems of engine_reference.h:
//
//   make_engine_reference MODEL_DIR OUT_DIR
//
// runs every case with the given models and writes OUT_DIR/<case>.ref. Run
// only to record the engine's present output, before a change that must keep
// it (the committed files are tests/engine/reference/).
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/engine_reference.h"
#include "ombrelt.h"
#include "support/test_support.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_engine_reference MODEL_DIR OUT_DIR\n");
    return 2;
  }
  if (ombrelt_init(argv[1]) != 0) {
    std::fprintf(stderr, "init: %s\n", ombrelt_last_error());
    return 1;
  }
  std::filesystem::create_directories(argv[2]);
  for (const engine_reference::Case &c : engine_reference::CASES) {
    testing_support::TempDir tmp;
    if (engine_reference::run_engine(c.samples, tmp.path()) != 0) {
      std::fprintf(stderr, "%s: %s\n", c.name, ombrelt_last_error());
      return 1;
    }
    std::vector<int16_t> stems[engine_reference::N_FILES];
    for (int f = 0; f < engine_reference::N_FILES; f++)
      stems[f] = testing_support::read_wav16(tmp / (std::string("ref_") +
                                                    engine_reference::FILE_STEMS[f] + ".wav"))
                     .samples;
    engine_reference::Reference ref = engine_reference::extract(c.samples, stems);
    std::string out = std::string(argv[2]) + "/" + c.name + ".ref";
    if (!engine_reference::write_reference(out, ref)) {
      std::fprintf(stderr, "cannot write %s\n", out.c_str());
      return 1;
    }
    std::printf("%s: %lld samples, %zu values\n", c.name, (long long)c.samples, ref.values.size());
  }
  ombrelt_cleanup();
  return 0;
}
