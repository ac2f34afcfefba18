#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "session/session_fixture.h"
#include "support/json_view.h"
#include "support/test_support.h"

namespace {

using session_testing::entries;
using session_testing::open_session;
using testing_support::file_exists;
using testing_support::media;
using testing_support::TempDir;

// The progress reports of one call, and the report at which to cancel.
struct Reports {
  std::vector<double> fractions;
  size_t cancel_at = 0;  // 1-based; 0: never
  int (*on_cancel)(Reports &) = nullptr;
  ombrelt_session *session = nullptr;
  std::mutex lock;
  std::condition_variable changed;
  bool asked = false;    // the report has asked the other thread to cancel
  bool done = false;     // the other thread has cancelled

  static int report(double fraction, void *self) {
    auto *r = static_cast<Reports *>(self);
    r->fractions.push_back(fraction);
    if (r->fractions.size() != r->cancel_at) return 0;
    return r->on_cancel(*r);
  }
};

// The callback's own answer.
int by_return(Reports &) { return 1; }

// Another thread's ombrelt_session_cancel, while the call waits in its
// report; the report itself lets the call go on.
int by_other_thread(Reports &r) {
  std::unique_lock<std::mutex> hold(r.lock);
  r.asked = true;
  r.changed.notify_all();
  r.changed.wait(hold, [&] { return r.done; });
  return 0;
}

void cancel_when_asked(Reports &r) {
  std::unique_lock<std::mutex> hold(r.lock);
  r.changed.wait(hold, [&] { return r.asked; });
  ombrelt_session_cancel(r.session);
  r.done = true;
  r.changed.notify_all();
}

const std::string SONG = media("stereo_44k_10s.wav");  // 6 chunks

int separate(ombrelt_session *s, const std::string &out_dir, Reports *reports,
             const char **json) {
  ombrelt_input in{};
  in.path = SONG.c_str();
  ombrelt_separate_options o{};
  o.out_dir = out_dir.c_str();
  o.format = OMBRELT_FORMAT_FLAC16;
  o.progress = Reports::report;
  o.progress_user_data = reports;
  return ombrelt_session_separate(s, &in, &o, json);
}

// Cancelled before the first chunk, between chunks and after the last but
// one, from the callback and from another thread: the call says so, leaves
// no file (not even the directory it made), and the session separates the
// next song as if nothing had happened.
TEST(SessionCancel, LeavesNothingAndTheSessionGoesOn) {
  auto s = open_session("identity");
  TempDir tmp;
  for (size_t at : {1, 2, 4, 6}) {
    for (bool other_thread : {false, true}) {
      SCOPED_TRACE("report " + std::to_string(at) + (other_thread ? " other thread" : ""));
      const std::string out = tmp / "out";
      Reports r;
      r.cancel_at = at;
      r.on_cancel = other_thread ? by_other_thread : by_return;
      r.session = s.get();
      std::thread canceller;
      if (other_thread) canceller = std::thread(cancel_when_asked, std::ref(r));
      const char *json = nullptr;
      EXPECT_EQ(separate(s.get(), out, &r, &json), OMBRELT_SESSION_CANCELLED);
      if (canceller.joinable()) canceller.join();
      EXPECT_STREQ(ombrelt_session_last_error(s.get()), "cancelled");
      EXPECT_EQ(r.fractions.size(), at);
      EXPECT_FALSE(file_exists(out));

      Reports next;
      ASSERT_EQ(separate(s.get(), out, &next, &json), OMBRELT_SESSION_OK)
          << ombrelt_session_last_error(s.get());
      EXPECT_EQ(entries(out).size(), 5u);
      EXPECT_EQ(next.fractions.back(), 1.0);
      std::filesystem::remove_all(out);
    }
  }
}

// A directory that was there before stays, with what it held.
TEST(SessionCancel, KeepsADirectoryThatWasThere) {
  auto s = open_session("identity");
  TempDir tmp;
  Reports r;
  r.cancel_at = 3;
  r.on_cancel = by_return;
  const char *json = nullptr;
  EXPECT_EQ(separate(s.get(), tmp.path(), &r, &json), OMBRELT_SESSION_CANCELLED);
  EXPECT_TRUE(entries(tmp.path()).empty());
}

// In memory too: nothing is handed back.
TEST(SessionCancel, InMemoryHandsNothingBack) {
  auto s = open_session("identity");
  Reports r;
  r.cancel_at = 2;
  r.on_cancel = by_return;
  ombrelt_input in{};
  in.path = SONG.c_str();
  ombrelt_separate_options o{};
  o.progress = Reports::report;
  o.progress_user_data = &r;
  ombrelt_stems *stems = reinterpret_cast<ombrelt_stems *>(&r);
  EXPECT_EQ(ombrelt_session_separate_to_memory(s.get(), &in, &o, &stems, nullptr),
            OMBRELT_SESSION_CANCELLED);
  EXPECT_EQ(stems, nullptr);
}

// A cancel while nothing runs is forgotten: the next call runs to its end.
TEST(SessionCancel, WhileIdleHasNoEffect) {
  auto s = open_session("identity");
  TempDir tmp;
  ombrelt_session_cancel(s.get());
  Reports r;
  const char *json = nullptr;
  EXPECT_EQ(separate(s.get(), tmp.path(), &r, &json), OMBRELT_SESSION_OK)
      << ombrelt_session_last_error(s.get());
}

// One report per chunk and a last one at 1.0, rising in between; the answer
// to the last one is ignored, since everything is done by then.
TEST(SessionProgress, RisesOncePerChunkAndEndsAtOne) {
  auto s = open_session("identity");
  TempDir tmp;
  Reports r;
  r.cancel_at = 7;
  r.on_cancel = by_return;
  const char *json = nullptr;
  ASSERT_EQ(separate(s.get(), tmp.path(), &r, &json), OMBRELT_SESSION_OK)
      << ombrelt_session_last_error(s.get());
  const double chunks = testing_support::json_member(json, "chunks").num;
  EXPECT_EQ(chunks, 6);
  ASSERT_EQ(r.fractions.size(), 7u);
  for (size_t i = 0; i + 1 < r.fractions.size(); i++) {
    EXPECT_GE(r.fractions[i], 0.0);
    EXPECT_LT(r.fractions[i], 1.0);
    EXPECT_LE(r.fractions[i], r.fractions[i + 1]);
  }
  EXPECT_GT(r.fractions[5], 0.5);
  EXPECT_EQ(r.fractions.back(), 1.0);
  EXPECT_EQ(entries(tmp.path()).size(), 5u);
}

}  // namespace
