// What the session tests share: sessions that close themselves, separations
// into memory, and a look at what a directory holds.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ombrelt_session.h"

namespace session_testing {

struct SessionCloser {
  void operator()(ombrelt_session *s) const { ombrelt_session_close(s); }
};
using Session = std::unique_ptr<ombrelt_session, SessionCloser>;

struct StemsFreer {
  void operator()(ombrelt_stems *s) const { ombrelt_session_free_stems(s); }
};
using Stems = std::unique_ptr<ombrelt_stems, StemsFreer>;

// A session on the test model set `set`; fails the test when it cannot open.
Session open_session(const std::string &set, int threads = 0);

// Separates the file at path into memory; fails the test on failure.
Stems separate_file_to_memory(ombrelt_session *s, const std::string &path,
                              const ombrelt_separate_options *options = nullptr);

// One output of stems as a vector (empty when it was not asked for).
std::vector<float> output(const ombrelt_stems &stems, int index);

// The names in dir, hidden ones included; empty when dir does not exist.
std::set<std::string> entries(const std::string &dir);

}  // namespace session_testing
