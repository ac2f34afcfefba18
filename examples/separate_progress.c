/* Separates one song into FLAC stems with a progress line; Ctrl-C cancels
 * cleanly (no stem is left behind).
 *   separate-progress MODEL_DIR SONG OUT_DIR */
#include <signal.h>
#include <stdio.h>

#include "ombrelt_session.h"

static ombrelt_session *running;

static void on_interrupt(int sig) {
  (void)sig;
  ombrelt_session_cancel(running); /* async-signal-safe */
}

static int show(double fraction, void *user) {
  (void)user;
  fprintf(stderr, "\r%5.1f %%", 100.0 * fraction);
  return 0; /* non-zero would cancel */
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s MODEL_DIR SONG OUT_DIR\n", argv[0]);
    return 2;
  }
  char error[512];
  ombrelt_session_options so = {0};
  so.model_dir = argv[1];
  running = ombrelt_session_open(&so, error, sizeof error);
  if (!running) {
    fprintf(stderr, "%s\n", error);
    return 1;
  }
  signal(SIGINT, on_interrupt);

  ombrelt_input in = {0};
  in.path = argv[2];
  ombrelt_separate_options o = {0}; /* all five outputs */
  o.out_dir = argv[3];
  o.format = OMBRELT_FORMAT_FLAC16;
  o.progress = show;
  const char *json = NULL;
  int rc = ombrelt_session_separate(running, &in, &o, &json);
  fputc('\n', stderr);
  if (rc == OMBRELT_SESSION_OK)
    printf("%s\n", json);
  else
    fprintf(stderr, "%s\n", ombrelt_session_last_error(running));
  ombrelt_session_close(running);
  return rc == OMBRELT_SESSION_OK ? 0 : rc == OMBRELT_SESSION_CANCELLED ? 130 : 1;
}
