// Helpers shared by the tests: paths of the generated fixtures, temporary
// directories, and exact WAV files written and read without FFmpeg.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// A file of the generated test media set, e.g. media("stereo_44k_2s.wav").
std::string media(const std::string &name);
// A generated test model set, e.g. models("identity").
std::string models(const std::string &set);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool file_exists(const std::string &path);

// Writes an IEEE-float WAV file: `samples` holds frames * channels values,
// interleaved. Float WAV decodes back bit for bit.
void write_float_wav(const std::string &path, const std::vector<float> &samples, int channels,
                     int rate);

// A parsed 16-bit PCM WAV file.
struct Wav16 {
  int channels = 0;
  int rate = 0;
  int bits = 0;
  std::vector<int16_t> samples;  // interleaved
};
// Parses the RIFF structure of a PCM WAV file; fails the current test when
// the file is not one.
Wav16 read_wav16(const std::string &path);

}  // namespace testing_support
