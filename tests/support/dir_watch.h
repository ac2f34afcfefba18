// What a call made in a directory: every name that appeared in it (created
// or moved in), seen through inotify, and the rule that tells the hidden
// temporaries of the stem writer from finished files.
#pragma once

#include <set>
#include <string>

namespace testing_support {

class DirWatch {
 public:
  // dir must exist.
  explicit DirWatch(const std::string &dir);
  ~DirWatch();
  DirWatch(const DirWatch &) = delete;
  DirWatch &operator=(const DirWatch &) = delete;
  // Every name that appeared since the watch began.
  std::set<std::string> appeared();

 private:
  int fd_ = -1;
  std::set<std::string> seen_;
};

// ".<name>.<pid>.tmp"
bool is_hidden_temporary(const std::string &name);
// The names that are not hidden temporaries.
std::set<std::string> finished_names(const std::set<std::string> &names);
// The names of the entries of dir (empty when it does not exist).
std::set<std::string> entries_of(const std::string &dir);

}  // namespace testing_support
