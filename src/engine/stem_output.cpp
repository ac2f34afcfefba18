// Normalisation of the overlap-added stems and the writing of WAV files.
#include <algorithm>
#include <cstdlib>

#include "audio/audio.h"
#include "engine/engine.h"
#include "engine/stage_timing.h"
#include "frame/frame.h"

void normalise_sum(const float *const *acc, int n_acc, const float *wsum, int frames, float *out) {
  for (long n = 0; n < frames; n++) {
    float w = wsum[n];
    for (int ch = 0; ch < 2; ch++) {
      float v = 0.0f;
      if (w > WSUM_FLOOR) {
        // Each source is divided before it is added, so the instrumental mix
        // equals the sum of the stems as they were written.
        v = acc[0][2 * n + ch] / w;
        for (int s = 1; s < n_acc; s++) v += acc[s][2 * n + ch] / w;
      }
      out[2 * n + ch] = v;
    }
  }
}

int write_output_file(const char *path, const float *const *acc, int n_acc, const float *wsum,
                      int frames) {
  OM_STAGE_START(t_write);
  WavOut w;
  if (wav_open(&w, path) != 0) return -1;
  float *buf = (float *)std::malloc(sizeof(float) * 2 * (size_t)std::max(frames, 1));
  if (!buf) {
    set_err("oom");
    wav_close(&w);
    return -1;
  }
  normalise_sum(acc, n_acc, wsum, frames, buf);
  // A failed block is remembered and the rest is still written, so the file
  // holds as much as the disk took; the writer's message stands.
  bool failed = false;
  for (long off = 0; off < frames; off += WRITE_BLOCK) {
    int n = (int)std::min<long>(frames - off, WRITE_BLOCK);
    if (wav_write(&w, buf + 2 * off, n) != 0) failed = true;
  }
  std::free(buf);
  // The end of the file leaves the writer's buffer only now; a disk that is
  // full by then fails the file like a failed block. After a failed block
  // its message stands.
  if (failed)
    wav_close(&w);
  else if (wav_finish(&w) != 0)
    failed = true;
  OM_STAGE_STOP(STAGE_WRITE, t_write);
  return failed ? -1 : 0;
}
