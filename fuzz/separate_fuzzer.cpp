// The whole streaming separation on arbitrary bytes, with the identity test
// models: the decoder feeds the engine, the engine writes its stems. Inputs
// longer than ten seconds are cut by a source that fails there, which also
// drives the engine's clean-up after a late failure. Either the call fails
// with a message and leaves nothing in the output directory, or every stem
// is there under its final name and no temporary is left.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/audio.h"
#include "engine/engine.h"
#include "frame/frame.h"
#include "fuzz_support.h"
#include "ombrelt.h"

namespace {

constexpr int64_t MAX_SAMPLES = 10 * SAMPLE_RATE;

struct CappedDecoder {
  Decoder *decoder;
  int64_t delivered = 0;

  static int64_t read(void *self, float *dst, int64_t max) {
    auto *c = static_cast<CappedDecoder *>(self);
    if (c->delivered >= MAX_SAMPLES) {
      set_err("longer than the fuzzer allows");
      return -1;
    }
    int64_t got = decoder_read(c->decoder, dst, std::min(max, MAX_SAMPLES - c->delivered));
    if (got > 0) c->delivered += got;
    return got;
  }
};

std::string scratch;
std::string out_dir;

void remove_scratch() { rmdir(scratch.c_str()); }

// The names in out_dir; removes them as it goes.
int clear_out_dir(bool *temporaries) {
  int n = 0;
  *temporaries = false;
  if (DIR *dir = opendir(out_dir.c_str())) {
    while (dirent *e = readdir(dir)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      if (name[0] == '.') *temporaries = true;
      std::remove((out_dir + "/" + name).c_str());
      n++;
    }
    closedir(dir);
  }
  rmdir(out_dir.c_str());
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  init_with_test_models();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Made on the first input: in fork mode the parent runs none.
  if (scratch.empty()) {
    char pattern[] = "/tmp/ombrelt-fuzz-separate-XXXXXX";
    if (!mkdtemp(pattern)) finding("mkdtemp failed", pattern);
    scratch = pattern;
    out_dir = scratch + "/out";
    std::atexit(remove_scratch);
  }
  const char *path = bytes_as_file(data, size);
  g_err[0] = '\0';
  Decoder *decoder = decoder_open(path);
  if (!decoder) return 0;
  CappedDecoder capped{decoder};
  SeparationRequest request{{1, 1, 1, 1}, out_dir.c_str(), "song"};
  static SeparationResult result;
  int rc = separate_stream({CappedDecoder::read, &capped}, request, &result);
  decoder_close(decoder);
  bool temporaries = false;
  int files = clear_out_dir(&temporaries);
  if (temporaries) finding("a temporary was left", out_dir.c_str());
  if (rc != 0) {
    if (!*ombrelt_last_error()) finding("failure without a message", path);
    if (files != 0) finding("files left after a failure", out_dir.c_str());
    return 0;
  }
  if (files != N_OUTPUTS) finding("a stem is missing", out_dir.c_str());
  if (result.samples < 4410 || result.samples > MAX_SAMPLES) finding("odd length", path);
  return 0;
}
