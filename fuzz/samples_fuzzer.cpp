// Samples in memory on arbitrary bytes: the first byte chooses the channel
// count and the next four the rate (both also outside what is allowed), the
// rest are the float samples, NaN and infinities included. Either the source
// refuses them with a message, or it hands out frames in reads of any size
// until the end, at least 4410 in all, or stops with a message.
#include <cstdint>
#include <cstring>
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
  if (size < 6) return 0;
  const int channels = (int)data[0] - 2;
  uint32_t rate_bits = 0;
  std::memcpy(&rate_bits, data + 1, 4);
  // Mostly rates within reach, now and then any 32-bit value.
  const int rate = rate_bits & 1u ? (int)(rate_bits >> 1) : 1000 + (int)(rate_bits % 96000);
  const int64_t piece = 1 + data[5] * 257 % 65536;
  // The samples in memory of their own, so that the sanitizer sees every
  // read past them.
  const size_t floats = (size - 6) / sizeof(float);
  std::vector<float> samples(floats);
  if (floats) std::memcpy(samples.data(), data + 6, floats * sizeof(float));
  const int64_t frames = channels > 0 ? (int64_t)(floats / (size_t)channels) : (int64_t)floats;

  g_err[0] = '\0';
  MemorySource *m = memory_source_open(samples.data(), frames, channels, rate);
  if (!m) {
    if (!*ombrelt_last_error()) finding("refusal without a message", "");
    return 0;
  }
  static std::vector<float> buf(2 * 65536);
  int64_t total = 0;
  for (;;) {
    int64_t got = memory_source_read(m, buf.data(), piece);
    if (got < 0) {
      if (!*ombrelt_last_error()) finding("failure without a message", "");
      break;
    }
    if (got > piece) finding("more frames than asked for", "");
    if (got == 0) {
      if (total < MIN_DECODED_FRAMES) finding("too few frames accepted", "");
      break;
    }
    volatile float edge = buf[0] + buf[2 * got - 1];
    (void)edge;
    total += got;
    const double fraction = memory_source_progress(m);
    if (!(fraction >= 0.0 && fraction < 1.0)) finding("progress outside [0, 1)", "");
  }
  memory_source_close(m);
  return 0;
}
