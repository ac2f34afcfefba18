// The streaming decoder on arbitrary bytes: either it refuses the input with
// a message, or it hands out frames in reads of any size until the end, at
// least 4410 in all, or stops with a message. Read sizes vary with the input
// so that reads end anywhere within the decoder's pending output.
#include <cstdint>
#include <vector>

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
  g_err[0] = '\0';
  Decoder *d = decoder_open(path);
  if (!d) {
    if (!*ombrelt_last_error()) finding("failure without a message", path);
    return 0;
  }
  static std::vector<float> buf(2 * 65536);
  const int64_t piece = size > 0 ? 1 + data[size - 1] * 257 % 65536 : 4096;
  int64_t total = 0;
  for (;;) {
    int64_t got = decoder_read(d, buf.data(), piece);
    if (got < 0) {
      if (!*ombrelt_last_error()) finding("failure without a message", path);
      break;
    }
    if (got > piece) finding("more frames than asked for", path);
    if (got == 0) {
      if (total < MIN_DECODED_FRAMES) finding("too few frames accepted", path);
      break;
    }
    // Touching both ends lets the address sanitizer check the copy.
    volatile float edge = buf[0] + buf[2 * got - 1];
    (void)edge;
    total += got;
  }
  decoder_close(d);
  return 0;
}
