// A separation killed on the way: at most hidden temporaries remain, never a
// stem under its final name, and the next run into the same directory
// leaves nothing of them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/piece_source.h"
#include "ombrelt.h"
#include "support/dir_watch.h"
#include "support/test_support.h"

namespace {

using testing_support::entries_of;
using testing_support::finished_names;
using testing_support::is_hidden_temporary;
using testing_support::TempDir;

struct KillCase {
  const char *op;     // "separate" or "mute"
  const char *point;  // the engine point at which the process dies
  int nth;            // at its nth passage
};

const char *kill_point = nullptr;
int kill_countdown = 0;

void kill_at_point(const char *point) {
  if (std::strcmp(point, kill_point) == 0 && --kill_countdown == 0) raise(SIGKILL);
}

std::vector<float> tones(int frames) {
  std::vector<float> s(2 * (size_t)frames);
  for (int n = 0; n < frames; n++) {
    s[2 * n] = 0.1f * std::sin(0.03f * (float)n);
    s[2 * n + 1] = 0.1f * std::sin(0.05f * (float)n);
  }
  return s;
}

// Runs the operation of the case on ten seconds of input; the files are
// song_<stem>.wav in dir, and, for mute, dir/song.wav.
int run(const KillCase &c, const std::string &dir, const std::string &input) {
  const char *json = nullptr;
  if (std::strcmp(c.op, "mute") == 0)
    return ombrelt_mute(input.c_str(), (dir + "/song.wav").c_str(), "vocal", &json);
  return ombrelt_separate(input.c_str(), dir.c_str(), nullptr, &json);
}

TEST(Interrupted, AKilledSeparationLeavesOnlyHiddenTemporaries) {
  const KillCase cases[] = {
      {"separate", "chunk", 1},  // before anything was written
      {"separate", "chunk", 4},
      {"separate", "write", 3},  // while writing
      {"separate", "rename", 1},  // complete, but not yet renamed
      {"mute", "write", 2},
      {"mute", "rename", 1},
  };
  TempDir media;
  const std::string input = media / "song.wav";
  testing_support::write_float_wav(input, tones(10 * 44100), 2, 44100);
  for (const KillCase &c : cases) {
    SCOPED_TRACE(std::string(c.op) + " " + c.point + " " + std::to_string(c.nth));
    TempDir tmp;
    testing_support::DirWatch watch(tmp.path());
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The runtime is set up in the child: its threads do not survive a fork.
      if (ombrelt_init(testing_support::models("identity").c_str()) != 0) _exit(3);
      kill_point = c.point;
      kill_countdown = c.nth;
      g_engine_hook = kill_at_point;
      run(c, tmp.path(), input);
      _exit(4);  // the point was never reached
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    EXPECT_EQ(finished_names(watch.appeared()), std::set<std::string>{});
    const std::set<std::string> left = entries_of(tmp.path());
    EXPECT_FALSE(left.empty());
    for (const std::string &name : left) EXPECT_TRUE(is_hidden_temporary(name)) << name;

    // The next run into the same directory clears what the dead one left.
    ASSERT_EQ(ombrelt_init(testing_support::models("identity").c_str()), 0)
        << ombrelt_last_error();
    ASSERT_EQ(run(c, tmp.path(), input), 0) << ombrelt_last_error();
    ombrelt_cleanup();
    for (const std::string &name : entries_of(tmp.path()))
      EXPECT_FALSE(is_hidden_temporary(name)) << name;
  }
}

}  // namespace
