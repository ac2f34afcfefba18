// Placeholder until the writer lands.
#include "audio/audio.h"
#include "frame/frame.h"
int wav_open(WavOut *w, const char *) { *w = {}; set_err("not built yet"); return -1; }
int wav_write(WavOut *, const float *, int) { return -1; }
void wav_close(WavOut *) {}
