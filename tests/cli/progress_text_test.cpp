// The text of the command's progress bar line.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "progress.h"

namespace {

struct LineCase {
  const char *what;
  ProgressView view;
  int columns;
  const char *expected;
};

const LineCase LINE_CASES[] = {
    {"all parts on a wide terminal",
     {"separating song.wav", 0.5, 15.0, 1.0}, 100,
     "separating song.wav [###############...............]  50%  15.0x  0:01 left"},
    {"no speed while the audio done is unknown",
     {"separating song.wav", 0.25, -1, 30.0}, 100,
     "separating song.wav [#######.......................]  25%  1:30 left"},
    {"no time left before any progress",
     {"separating song.wav", 0.0, 0.0, 2.0}, 100,
     "separating song.wav [..............................]   0%  -:-- left"},
    {"the bar narrows first",
     {"separating song.wav", 0.5, 15.0, 1.0}, 60,
     "separating song.wav [#######.......]  50%  15.0x  0:01 left"},
    {"then the label loses its middle, keeping the file's name",
     {"separating music/albums/2024/song.wav", 0.5, 15.0, 1.0}, 60,
     "separa.../2024/song.wav [#####.....]  50%  15.0x  0:01 left"},
    {"then the bar goes",
     {"separating song.wav", 0.5, 15.0, 1.0}, 40,
     "sepa... song.wav  50%  15.0x  0:01 left"},
    {"then the numbers are cut",
     {"separating song.wav", 0.5, 15.0, 1.0}, 12,
     " 50%  15.0x"},
    {"a fraction past the end is full",
     {"muting a.wav", 1.5, 3.0, 1.0}, 80,
     "muting a.wav [##############################] 100%  3.0x  0:00 left"},
    {"a fraction that is no number is none",
     {"muting a.wav", std::nan(""), 3.0, 1.0}, 80,
     "muting a.wav [..............................]   0%  -:-- left"},
};

class ProgressLine : public testing::TestWithParam<LineCase> {};

TEST_P(ProgressLine, Text) {
  const LineCase &c = GetParam();
  EXPECT_EQ(progress_text(c.view, c.columns), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressLine, testing::ValuesIn(LINE_CASES));

// Whatever the width, the line leaves the last column free (a full line
// wraps on some terminals) and never cuts a UTF-8 sequence of the label.
TEST(ProgressLine, FitsEveryWidthAndKeepsUtf8Whole) {
  const std::string label = "separating \xC3\xA9t\xC3\xA9/\xE6\xAD\x8C.flac";  // été/歌.flac
  for (int columns = 0; columns <= 120; columns++) {
    std::string text = progress_text({label, 0.375, 10.0, 2.5}, columns);
    EXPECT_LE(text.size(), static_cast<std::size_t>(std::max(columns - 1, 0))) << columns;
    for (std::size_t i = 0; i < text.size();) {
      auto c = static_cast<unsigned char>(text[i]);
      std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
      ASSERT_NE(n, 0u) << "a cut sequence at width " << columns << ": " << text;
      ASSERT_LE(i + n, text.size()) << "a cut sequence at width " << columns << ": " << text;
      for (std::size_t k = 1; k < n; k++)
        ASSERT_EQ(static_cast<unsigned char>(text[i + k]) & 0xC0, 0x80) << columns << ": " << text;
      i += n;
    }
  }
}

TEST(ClockText, MinutesThenHours) {
  const std::pair<double, const char *> cases[] = {
      {0, "0:00"},        {59.4, "0:59"},     {59.6, "1:00"}, {3599, "59:59"},
      {3725, "1:02:05"},  {-3, "0:00"},       {std::nan(""), "0:00"},
  };
  for (const auto &[seconds, text] : cases) EXPECT_EQ(clock_text(seconds), text) << seconds;
}

}  // namespace
