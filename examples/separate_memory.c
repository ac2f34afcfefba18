/* Separates samples already in memory (here: three seconds of a made-up
 * mono signal at 48 kHz) and gets the stems back as float arrays.
 *   separate-memory MODEL_DIR */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "ombrelt_session.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s MODEL_DIR\n", argv[0]);
    return 2;
  }
  enum { RATE = 48000, FRAMES = 3 * RATE };
  float *mono = malloc(sizeof(float) * FRAMES);
  if (!mono) return 1;
  for (int n = 0; n < FRAMES; n++) mono[n] = 0.3f * sinf(2.0f * 3.14159265f * 220.0f * n / RATE);

  char error[512];
  ombrelt_session_options so = {0};
  so.model_dir = argv[1];
  ombrelt_session *s = ombrelt_session_open(&so, error, sizeof error);
  if (!s) {
    fprintf(stderr, "%s\n", error);
    free(mono);
    return 1;
  }
  ombrelt_input in = {0};
  in.samples = mono;
  in.frames = FRAMES;
  in.channels = 1;
  in.sample_rate = RATE; /* converted to stereo 44.1 kHz like a decoded file */
  ombrelt_separate_options o = {0};
  o.outputs = OMBRELT_OUTPUT_VOCALS | OMBRELT_OUTPUT_INSTRUMENTAL;
  ombrelt_stems *stems = NULL;
  int rc = ombrelt_session_separate_to_memory(s, &in, &o, &stems, NULL);
  if (rc == OMBRELT_SESSION_OK) {
    /* data[0] is vocals, data[4] the instrumental mix: frames * 2 floats each. */
    printf("%lld stereo frames at %d Hz; first instrumental sample %f\n",
           (long long)stems->frames, stems->sample_rate, stems->data[4][0]);
    ombrelt_session_free_stems(stems);
  } else {
    fprintf(stderr, "%s\n", ombrelt_session_last_error(s));
  }
  ombrelt_session_close(s);
  free(mono);
  return rc == OMBRELT_SESSION_OK ? 0 : 1;
}
