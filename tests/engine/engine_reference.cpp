#include "engine/engine_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace engine_reference {

namespace {

constexpr char MAGIC[8] = {'O', 'M', 'B', 'R', 'E', 'F', '1', '\n'};
constexpr int64_t CHUNK_STEP = 75 * 1024;

}  // namespace

std::vector<float> input_signal(int64_t samples) {
  std::vector<float> s(2 * (size_t)samples);
  uint32_t state = 2463534242u;
  double hit = 0.0;
  for (int64_t n = 0; n < samples; n++) {
    double t = (double)n / 44100.0;
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    double noise = ((double)state / 4294967296.0 - 0.5);
    // A hit every 0.37 s, decaying over about 20 ms.
    if (n % 16317 == 0) hit = 0.5;
    hit *= 0.9989;
    double slow = 0.5 + 0.5 * std::sin(2.0 * M_PI * t / 7.3);
    double bass = 0.18 * std::sin(2.0 * M_PI * (55.0 + 10.0 * slow) * t);
    double voice = 0.15 * slow * std::sin(2.0 * M_PI * 440.0 * t + 3.0 * std::sin(2.0 * M_PI * 5.0 * t));
    double other = 0.12 * (1.0 - slow) * std::sin(2.0 * M_PI * 1250.0 * t);
    double common = bass + voice + hit * noise;
    s[2 * (size_t)n] = (float)(common + other + 0.01 * noise);
    s[2 * (size_t)n + 1] = (float)(common + 0.3 * other - 0.01 * noise);
  }
  return s;
}

std::vector<int64_t> positions(int64_t samples) {
  std::vector<int64_t> p;
  auto range = [&](int64_t from, int64_t to) {
    for (int64_t n = std::max<int64_t>(0, from); n < std::min(to, samples); n++) p.push_back(n);
  };
  range(0, 2048);
  range(samples - 2048, samples);
  for (int64_t n = 0; n < samples; n += 997) p.push_back(n);
  // Where chunk c's output ends and chunk c + 1's begins: (75 c + 100) * 1024.
  for (int64_t c : {0, 1, 2}) {
    int64_t b = c * CHUNK_STEP + 100 * 1024;
    range(b - 256, b + 256);
  }
  int64_t last = (samples / CHUNK_STEP) * CHUNK_STEP + 25 * 1024;
  range(last - 256, last + 256);
  std::sort(p.begin(), p.end());
  p.erase(std::unique(p.begin(), p.end()), p.end());
  return p;
}

uint64_t checksum(const std::vector<int16_t> &stem) {
  uint64_t h = 1469598103934665603ull;
  for (int16_t v : stem) {
    uint16_t u = (uint16_t)v;
    h = (h ^ (u & 0xff)) * 1099511628211ull;
    h = (h ^ (u >> 8)) * 1099511628211ull;
  }
  return h;
}

Reference extract(int64_t samples, const std::vector<int16_t> (&stems)[N_FILES]) {
  Reference ref;
  ref.samples = samples;
  for (int f = 0; f < N_FILES; f++) ref.checksum[f] = checksum(stems[f]);
  for (int64_t n : positions(samples))
    for (int f = 0; f < N_FILES; f++)
      for (int ch = 0; ch < 2; ch++) {
        size_t i = 2 * (size_t)n + ch;
        ref.values.push_back(i < stems[f].size() ? stems[f][i] : INT16_MIN);
      }
  return ref;
}

bool write_reference(const std::string &path, const Reference &ref) {
  std::ofstream out(path, std::ios::binary);
  uint64_t count = ref.values.size();
  out.write(MAGIC, sizeof MAGIC);
  out.write(reinterpret_cast<const char *>(&ref.samples), sizeof ref.samples);
  out.write(reinterpret_cast<const char *>(ref.checksum), sizeof ref.checksum);
  out.write(reinterpret_cast<const char *>(&count), sizeof count);
  out.write(reinterpret_cast<const char *>(ref.values.data()), (std::streamsize)(count * 2));
  return (bool)out;
}

bool read_reference(const std::string &path, Reference *ref) {
  std::ifstream in(path, std::ios::binary);
  char magic[sizeof MAGIC];
  uint64_t count = 0;
  in.read(magic, sizeof magic);
  in.read(reinterpret_cast<char *>(&ref->samples), sizeof ref->samples);
  in.read(reinterpret_cast<char *>(ref->checksum), sizeof ref->checksum);
  in.read(reinterpret_cast<char *>(&count), sizeof count);
  if (!in || std::memcmp(magic, MAGIC, sizeof MAGIC) != 0 || count > (1u << 24)) return false;
  ref->values.resize(count);
  in.read(reinterpret_cast<char *>(ref->values.data()), (std::streamsize)(count * 2));
  return (bool)in;
}

}  // namespace engine_reference
