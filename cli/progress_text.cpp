// The text of the progress bar line.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "progress.h"

namespace {

constexpr int BAR_WIDEST = 30;
constexpr int BAR_NARROWEST = 10;
constexpr std::size_t LABEL_SHORTEST = 8;  // below this the bar goes first

// The first n bytes of text, not cutting a UTF-8 sequence.
std::string head(const std::string &text, std::size_t n) {
  if (text.size() <= n) return text;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) n--;
  return text.substr(0, n);
}

// The last n bytes of text at most, not cutting a UTF-8 sequence.
std::string tail(const std::string &text, std::size_t n) {
  if (text.size() <= n) return text;
  std::size_t from = text.size() - n;
  while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) from++;
  return text.substr(from);
}

// text in at most n bytes, "..." marking a cut in the middle: the end of a
// label is the file's own name, its start what is done to it.
std::string shorten(const std::string &text, std::size_t n) {
  if (text.size() <= n) return text;
  if (n <= 3) return head(text, n);
  std::size_t front = (n - 3) / 3;
  return head(text, front) + "..." + tail(text, n - 3 - front);
}

std::string bar(int width, double fraction) {
  int filled = static_cast<int>(std::floor(width * fraction));
  return " [" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
}

}  // namespace

std::string clock_text(double seconds) {
  long s = std::isfinite(seconds) && seconds > 0 ? std::lround(seconds) : 0;
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

std::string progress_text(const ProgressView &view, int columns) {
  double fraction = std::isfinite(view.fraction) ? std::clamp(view.fraction, 0.0, 1.0) : 0.0;
  char part[64];
  std::snprintf(part, sizeof part, " %3d%%", static_cast<int>(fraction * 100));
  std::string numbers = part;
  if (view.audio_seconds >= 0 && view.elapsed_seconds > 0 && fraction > 0) {
    std::snprintf(part, sizeof part, "  %.1fx", view.audio_seconds / view.elapsed_seconds);
    numbers += part;
  }
  if (fraction > 0)
    numbers += "  " + clock_text(view.elapsed_seconds * (1 - fraction) / fraction) + " left";
  else
    numbers += "  -:-- left";

  std::size_t most = columns > 1 ? static_cast<std::size_t>(columns - 1) : 0;
  std::size_t bar_frame = 3;  // " [" and "]"
  if (most < numbers.size()) return head(numbers.substr(1), most);
  std::size_t room = most - numbers.size();  // for the label and the bar
  std::size_t label_size = view.label.size();
  if (room >= label_size + bar_frame + BAR_NARROWEST) {
    int width = static_cast<int>(std::min<std::size_t>(BAR_WIDEST, room - label_size - bar_frame));
    return view.label + bar(width, fraction) + numbers;
  }
  if (room >= LABEL_SHORTEST + bar_frame + BAR_NARROWEST)
    return shorten(view.label, room - bar_frame - BAR_NARROWEST) + bar(BAR_NARROWEST, fraction) +
           numbers;
  return shorten(view.label, room) + numbers;
}
