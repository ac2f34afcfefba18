#include "audio/audio.h"
#include "frame/frame.h"
struct MemorySource {};
MemorySource *memory_source_open(const float *, int64_t, int, int) { set_err("pending"); return nullptr; }
int64_t memory_source_read(MemorySource *, float *, int64_t) { return -1; }
void memory_source_close(MemorySource *) {}
double memory_source_progress(const MemorySource *) { return 0; }
double decoder_progress(const Decoder *) { return 0; }
