// Reference stems of the engine: for a table of input lengths that covers
// the chunk plan's edge cases, the 16-bit values of every stem at a fixed
// sparse set of sample positions, and a checksum of each whole stem. They
// were made once by make_engine_reference and are committed beside this
// file; a rewrite of the engine must reproduce them within one 16-bit step.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace engine_reference {

// The files of one separation, in this order.
inline constexpr int N_FILES = 5;
inline constexpr const char *FILE_STEMS[N_FILES] = {"vocals", "other", "bass", "drums",
                                                    "instrumental"};

struct Case {
  const char *name;
  int64_t samples;
};
// How the test runner names a case.
inline void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// One chunk; a last chunk of 25 frames that adds nothing; an exact multiple
// of the chunk step (4 * 76800) and one sample past it; ten minutes.
inline constexpr Case CASES[] = {
    {"shortest", 4410},          {"one_chunk", 44100},     {"last_adds_nothing", 253 * 1024},
    {"step_multiple", 307200},   {"step_multiple_plus_one", 307201},
    {"ten_minutes", 26460000},
};

// The deterministic stereo input of a case: a bass line, a centred voice-like
// tone with vibrato, an instrument off the centre, decaying noise hits and a
// little noise, all slowly changing, so that the default models' harmonic /
// percussive and centre / side decisions vary from chunk to chunk.
std::vector<float> input_signal(int64_t samples);

// The sample positions kept: the first and last 2048, every 997th (coprime
// with the 76800-sample chunk step, so every phase relative to the chunk
// boundaries is met), and 256 on each side of a few chunk boundaries.
std::vector<int64_t> positions(int64_t samples);

struct Reference {
  int64_t samples = 0;
  uint64_t checksum[N_FILES] = {};
  // [position][file][channel]
  std::vector<int16_t> values;
};

// FNV-1a over the 16-bit samples of a whole stem.
uint64_t checksum(const std::vector<int16_t> &stem);

// Keeps the values of the five stems (interleaved 16-bit) at positions().
Reference extract(int64_t samples, const std::vector<int16_t> (&stems)[N_FILES]);

// Little-endian binary file; read returns false when the file is missing or
// malformed.
bool write_reference(const std::string &path, const Reference &ref);
bool read_reference(const std::string &path, Reference *ref);

// Separates input_signal(samples) with the loaded models into dir/ref_<stem>.wav,
// all four stems and the instrumental mix. Returns 0 or -1 (message in g_err).
int run_engine(int64_t samples, const std::string &dir);

}  // namespace engine_reference
