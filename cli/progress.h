// The progress bar shown on a terminal while files run: the text of one
// bar line (a pure function, tested on its own), and the board that keeps
// the state of the running files and draws that line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What one bar line shows.
struct ProgressView {
  std::string label;          // e.g. "separating song.wav"
  double fraction = 0.0;      // of the work done, 0 to 1
  double audio_seconds = -1;  // seconds of audio done so far; < 0: unknown
  double elapsed_seconds = 0;
};

// "<label> [#####.....]  42%  31.5x  0:07 left", at most columns - 1 bytes
// (a line that fills the last column wraps on some terminals). The label is
// shortened, then the bar, when the line would not fit; the speed is left
// out while the audio done is unknown.
std::string progress_text(const ProgressView &view, int columns);

// Seconds as "m:ss", or "h:mm:ss" from an hour on.
std::string clock_text(double seconds);

// The files running, for the bar line, and the one place that writes the
// command's per-file lines, so that a line is never cut by the bar or by
// another thread's line.
//
// With one job, the bar shows the running file; with several, one line
// covers the whole batch: the names of the files running and the share of
// all files done. Without drawing (stderr is no terminal, or --json) it only
// prints the lines.
class ProgressBoard {
 public:
  ProgressBoard(bool draw, std::string verb, int slots, std::size_t files);
  ~ProgressBoard();
  ProgressBoard(const ProgressBoard &) = delete;
  ProgressBoard &operator=(const ProgressBoard &) = delete;

  bool draws() const { return draw_; }
  // A file starts in a slot (one per job); duration_s <= 0 when unknown.
  void begin(int slot, const std::string &file, double duration_s);
  // The fraction of the slot's file done.
  void advance(int slot, double fraction);
  // The slot's file has ended: wipes the bar, then writes out_text on
  // standard output and err_text on standard error, each whole.
  void end(int slot, const std::string &out_text, const std::string &err_text);

 private:
  struct Slot {
    bool running = false;
    std::string file;
    double duration_s = 0;
    double fraction = 0;
    std::chrono::steady_clock::time_point start;
  };
  ProgressView view_locked() const;
  void draw_locked();
  void wipe_locked();
  void run();

  const bool draw_;
  const std::string verb_;
  const std::size_t files_;
  std::vector<Slot> slots_;
  std::size_t ended_ = 0;        // files that have ended, in any way
  double ended_audio_s_ = 0;     // their seconds of audio
  bool ended_audio_known_ = true;
  const std::chrono::steady_clock::time_point start_;
  bool shown_ = false;           // a bar line is on the screen
  bool done_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
};
