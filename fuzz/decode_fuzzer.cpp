// decode_audio on arbitrary bytes: at least 4410 stereo frames in a block
// that really holds them, or -1 with a message and the outputs untouched.
#include <cstdlib>
#include <cstring>

#include "audio/audio.h"
#include "frame/frame.h"
#include "fuzz_support.h"
#include "ombrelt.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  quiet_media_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *path = bytes_as_file(data, size);
  float untouched = 0.0f;
  float *samples = &untouched;
  int frames = -7;
  g_err[0] = '\0';
  if (decode_audio(path, &samples, &frames) != 0) {
    if (samples != &untouched || frames != -7) finding("outputs written on failure", path);
    if (!*ombrelt_last_error()) finding("failure without a message", path);
    return 0;
  }
  if (frames < MIN_DECODED_FRAMES) finding("too few frames accepted", ombrelt_last_error());
  // Touching both ends lets the address sanitizer check the block's size.
  volatile float edge = samples[0] + samples[2 * (long)frames - 1];
  (void)edge;
  std::free(samples);
  return 0;
}
