// An in-memory input for the engine, handed out in pieces of a chosen size
// so that the engine meets reads that end anywhere.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/engine.h"

struct PieceSource {
  const std::vector<float> *samples;
  int64_t piece = 1 << 20;
  int64_t at = 0;

  static int64_t read(void *self, float *dst, int64_t max) {
    auto *s = static_cast<PieceSource *>(self);
    int64_t total = (int64_t)s->samples->size() / 2;
    int64_t n = std::min({max, s->piece, total - s->at});
    std::memcpy(dst, s->samples->data() + 2 * s->at, sizeof(float) * 2 * (size_t)n);
    s->at += n;
    return n;
  }
  SampleSource source() { return SampleSource{read, this}; }
};
