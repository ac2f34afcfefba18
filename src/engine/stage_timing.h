// Optional timing of the stages of a separation, for the benchmark.
//
// Built with OMBRELT_STAGE_TIMING defined, the marked stages add their wall
// seconds to g_stage_seconds, a process-wide table that a host linking the
// library's objects reads and clears between runs. Without it every macro
// expands to nothing, so the marks cost nothing in a normal build.
//
//   OM_STAGE_START(t);                 // t names a local start time
//   ...work...
//   OM_STAGE_STOP(STAGE_ANALYSIS, t);  // adds the seconds since t
//
// A stage left by an early return (a failure) adds nothing.
#pragma once

#ifdef OMBRELT_STAGE_TIMING

#include <time.h>

enum StageId {
  STAGE_DECODE,    // decoding and resampling the input
  STAGE_SETUP,     // chunk plan, per-call arrays and window-square sum
  STAGE_ANALYSIS,  // windowing, forward FFTs and magnitudes
  STAGE_MODEL,     // stem model runs
  STAGE_RESYNTH,   // masking, inverse FFTs and overlap-add
  STAGE_WRITE,     // normalisation and WAV writing
  STAGE_COUNT
};

inline constexpr const char *STAGE_NAMES[STAGE_COUNT] = {"decode",      "setup", "analysis",
                                                         "model",       "resynthesis", "write"};

// Seconds per stage, summed over every separation since the last clear;
// for one separation at a time (sessions side by side would add at once).
// Zero-initialised, so nothing runs at load.
inline double g_stage_seconds[STAGE_COUNT];

inline double stage_clock() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

#define OM_STAGE_START(t) const double t = stage_clock()
#define OM_STAGE_STOP(stage, t) g_stage_seconds[stage] += stage_clock() - (t)

#else

#define OM_STAGE_START(t)
#define OM_STAGE_STOP(stage, t)

#endif
