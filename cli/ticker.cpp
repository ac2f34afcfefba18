// The live elapsed-time line shown on a terminal while a file runs.
#include <unistd.h>

#include <cstdio>

#include "cli.h"

ElapsedLine::ElapsedLine(std::string label)
    : label_(std::move(label)), start_(std::chrono::steady_clock::now()) {
  if (isatty(STDERR_FILENO)) thread_ = std::thread(&ElapsedLine::run, this);
}

ElapsedLine::~ElapsedLine() { stop(); }

void ElapsedLine::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  wake_.notify_one();
  thread_.join();
  std::fputs("\r\033[K", stderr);  // leave the line clean for what follows
  std::fflush(stderr);
}

void ElapsedLine::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!done_) {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(stderr, "\r\033[K%s  %.1f s", label_.c_str(), seconds);
    std::fflush(stderr);
    wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return done_; });
  }
}
