// The state of the running files, the bar drawn from it, and the per-file
// lines, all behind one lock.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "progress.h"

namespace {

using Clock = std::chrono::steady_clock;

// Often enough for a smooth elapsed time, seldom enough not to flicker.
constexpr auto REDRAW_EVERY = std::chrono::milliseconds(150);

int terminal_columns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

ProgressBoard::ProgressBoard(bool draw, std::string verb, int slots, std::size_t files)
    : draw_(draw), verb_(std::move(verb)), files_(files), slots_(slots), start_(Clock::now()) {
  if (draw_) thread_ = std::thread(&ProgressBoard::run, this);
}

ProgressBoard::~ProgressBoard() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  wipe_locked();
}

void ProgressBoard::begin(int slot, const std::string &file, double duration_s) {
  std::lock_guard<std::mutex> lock(mutex_);
  slots_[slot] = Slot{true, file, duration_s, 0.0, Clock::now()};
  if (draw_) draw_locked();
}

void ProgressBoard::advance(int slot, double fraction) {
  std::lock_guard<std::mutex> lock(mutex_);
  slots_[slot].fraction = fraction;
}

void ProgressBoard::end(int slot, const std::string &out_text, const std::string &err_text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot &s = slots_[slot];
  s.running = false;
  ended_++;
  if (s.duration_s > 0)
    ended_audio_s_ += s.duration_s;
  else
    ended_audio_known_ = false;
  wipe_locked();
  if (!out_text.empty()) {
    std::fputs(out_text.c_str(), stdout);
    std::fflush(stdout);
  }
  if (!err_text.empty()) {
    std::fputs(err_text.c_str(), stderr);
    std::fflush(stderr);
  }
}

ProgressView ProgressBoard::view_locked() const {
  ProgressView view;
  if (slots_.size() == 1) {
    const Slot &s = slots_[0];
    view.label = verb_ + " " + s.file;
    view.fraction = s.fraction;
    view.audio_seconds = s.duration_s > 0 ? s.fraction * s.duration_s : -1;
    view.elapsed_seconds = seconds_since(s.start);
    return view;
  }
  // The batch as a whole: the files running, and the share of all files done.
  std::string names;
  double files_done = static_cast<double>(ended_);
  double audio = ended_audio_s_;
  bool audio_known = ended_audio_known_;
  for (const Slot &s : slots_) {
    if (!s.running) continue;
    names += (names.empty() ? "" : ", ") + s.file;
    files_done += s.fraction;
    audio += s.fraction * s.duration_s;
    audio_known = audio_known && s.duration_s > 0;
  }
  view.label = verb_ + " " + names;
  view.fraction = files_ ? files_done / static_cast<double>(files_) : 0.0;
  view.audio_seconds = audio_known ? audio : -1;
  view.elapsed_seconds = seconds_since(start_);
  return view;
}

void ProgressBoard::draw_locked() {
  bool any_running = false;
  for (const Slot &s : slots_) any_running = any_running || s.running;
  if (!any_running) return wipe_locked();
  std::string text = progress_text(view_locked(), terminal_columns());
  std::fprintf(stderr, "\r\033[K%s", text.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void ProgressBoard::wipe_locked() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);  // leave the line clean for what follows
  std::fflush(stderr);
  shown_ = false;
}

void ProgressBoard::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!done_) {
    draw_locked();
    wake_.wait_for(lock, REDRAW_EVERY, [this] { return done_; });
  }
}
