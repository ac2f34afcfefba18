// The session's input, decoded from a file or converted from memory.
#include "session/input_source.h"

#include "audio/audio.h"
#include "frame/frame.h"

namespace {

int64_t read_decoder(void *self, float *dst, int64_t max) {
  return decoder_read(static_cast<Decoder *>(self), dst, max);
}

double decoder_fraction(const void *self) {
  return decoder_progress(static_cast<const Decoder *>(self));
}

int64_t read_memory(void *self, float *dst, int64_t max) {
  return memory_source_read(static_cast<MemorySource *>(self), dst, max);
}

double memory_fraction(const void *self) {
  return memory_source_progress(static_cast<const MemorySource *>(self));
}

}  // namespace

InputSource::~InputSource() {
  decoder_close(decoder_);
  memory_source_close(memory_);
}

int InputSource::open(const ombrelt_input &input) {
  if (input.path) {
    decoder_ = decoder_open(input.path);
    if (!decoder_) return -1;
    source_ = SampleSource{read_decoder, decoder_, decoder_fraction};
    return 0;
  }
  memory_ = memory_source_open(input.samples, input.frames, input.channels, input.sample_rate);
  if (!memory_) return -1;
  source_ = SampleSource{read_memory, memory_, memory_fraction};
  return 0;
}
