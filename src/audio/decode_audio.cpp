// Placeholder until decoding lands.
#include "audio/audio.h"
#include "frame/frame.h"
int decode_audio(const char *, float **, int *) { set_err("not built yet"); return -1; }
