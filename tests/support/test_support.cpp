#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace testing_support {

std::string media(const std::string &name) { return std::string(OMBRELT_TEST_MEDIA) + "/" + name; }

std::string models(const std::string &set) { return std::string(OMBRELT_TEST_MODELS) + "/" + set; }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ombrelt-test-XXXXXX").string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) std::abort();
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

bool file_exists(const std::string &path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

namespace {

void put_u32(std::ofstream &f, uint32_t v) {
  unsigned char b[4] = {(unsigned char)v, (unsigned char)(v >> 8), (unsigned char)(v >> 16),
                        (unsigned char)(v >> 24)};
  f.write(reinterpret_cast<const char *>(b), 4);
}

void put_u16(std::ofstream &f, uint16_t v) {
  unsigned char b[2] = {(unsigned char)v, (unsigned char)(v >> 8)};
  f.write(reinterpret_cast<const char *>(b), 2);
}

uint32_t get_u32(const unsigned char *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24);
}

uint16_t get_u16(const unsigned char *p) { return (uint16_t)(p[0] | (p[1] << 8)); }

}  // namespace

void write_float_wav(const std::string &path, const std::vector<float> &samples, int channels,
                     int rate) {
  std::ofstream f(path, std::ios::binary);
  ASSERT_TRUE(f) << path;
  uint32_t data_bytes = (uint32_t)(samples.size() * sizeof(float));
  f.write("RIFF", 4);
  put_u32(f, 36 + data_bytes);
  f.write("WAVEfmt ", 8);
  put_u32(f, 16);
  put_u16(f, 3);  // IEEE float
  put_u16(f, (uint16_t)channels);
  put_u32(f, (uint32_t)rate);
  put_u32(f, (uint32_t)(rate * channels * 4));
  put_u16(f, (uint16_t)(channels * 4));
  put_u16(f, 32);
  f.write("data", 4);
  put_u32(f, data_bytes);
  f.write(reinterpret_cast<const char *>(samples.data()), data_bytes);
}

Wav16 read_wav16(const std::string &path) {
  Wav16 out;
  std::ifstream f(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(f)), {});
  EXPECT_GE(bytes.size(), 12u) << path;
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    ADD_FAILURE() << path << " is not a RIFF/WAVE file";
    return out;
  }
  EXPECT_EQ(get_u32(bytes.data() + 4), bytes.size() - 8) << path << ": RIFF size";
  bool have_fmt = false, have_data = false;
  for (size_t pos = 12; pos + 8 <= bytes.size();) {
    const unsigned char *chunk = bytes.data() + pos;
    uint32_t size = get_u32(chunk + 4);
    if (pos + 8 + size > bytes.size()) {
      ADD_FAILURE() << path << ": chunk runs past the end of the file";
      return out;
    }
    if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
      EXPECT_EQ(get_u16(chunk + 8), 1) << path << ": not PCM";
      out.channels = get_u16(chunk + 10);
      out.rate = (int)get_u32(chunk + 12);
      out.bits = get_u16(chunk + 22);
      have_fmt = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      out.samples.resize(size / 2);
      if (!out.samples.empty()) std::memcpy(out.samples.data(), chunk + 8, out.samples.size() * 2);
      have_data = true;
    }
    pos += 8 + size + (size & 1);
  }
  EXPECT_TRUE(have_fmt && have_data) << path << ": fmt or data chunk missing";
  return out;
}

}  // namespace testing_support
