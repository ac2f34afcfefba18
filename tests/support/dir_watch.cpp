#include "support/dir_watch.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>

namespace testing_support {

DirWatch::DirWatch(const std::string &dir) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  EXPECT_GE(fd_, 0);
  EXPECT_GE(inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_MOVED_TO), 0) << dir;
}

DirWatch::~DirWatch() {
  if (fd_ >= 0) close(fd_);
}

std::set<std::string> DirWatch::appeared() {
  alignas(inotify_event) char buf[65536];
  for (;;) {
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n <= 0) break;
    for (char *p = buf; p < buf + n;) {
      auto *event = reinterpret_cast<inotify_event *>(p);
      if (event->len > 0) seen_.insert(event->name);
      p += sizeof(inotify_event) + event->len;
    }
  }
  return seen_;
}

bool is_hidden_temporary(const std::string &name) {
  return name.size() > 5 && name[0] == '.' && name.compare(name.size() - 4, 4, ".tmp") == 0;
}

std::set<std::string> finished_names(const std::set<std::string> &names) {
  std::set<std::string> out;
  for (const std::string &n : names)
    if (!is_hidden_temporary(n)) out.insert(n);
  return out;
}

std::set<std::string> entries_of(const std::string &dir) {
  std::set<std::string> out;
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(dir, ec))
    out.insert(entry.path().filename().string());
  return out;
}

}  // namespace testing_support
