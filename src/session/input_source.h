// The input of a session's separation as the engine's sample source: the
// decoder for a path, the memory source for samples.
#pragma once

#include "engine/engine.h"
#include "ombrelt_session.h"

struct Decoder;
struct MemorySource;

class InputSource {
 public:
  InputSource() = default;
  ~InputSource();
  InputSource(const InputSource &) = delete;
  InputSource &operator=(const InputSource &) = delete;

  // Opens input (already checked: exactly one of path and samples is set).
  // Returns 0, or -1 with the decoder's or the memory source's message.
  int open(const ombrelt_input &input);
  const SampleSource &source() const { return source_; }

 private:
  Decoder *decoder_ = nullptr;
  MemorySource *memory_ = nullptr;
  SampleSource source_{};
};
