// The SIGINT handler. It may run on any thread at any moment, so it only
// reads lock-free atomics and calls ombrelt_session_cancel, which is
// async-signal-safe.
#include "interrupt.h"

#include <signal.h>
#include <sched.h>

#include <atomic>
#include <cstdio>

#include "cli.h"

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the handler may use only lock-free atomics");

std::atomic<bool> g_interrupted{false};
// The list is set before g_armed goes up and left alone until it is down
// and no handler is inside (g_in_handler).
ombrelt_session *const *g_sessions = nullptr;
std::size_t g_count = 0;
std::atomic<bool> g_armed{false};
std::atomic<int> g_in_handler{0};

void on_interrupt(int) {
  g_interrupted.store(true);
  g_in_handler.fetch_add(1);
  if (g_armed.load())
    for (std::size_t i = 0; i < g_count; i++) ombrelt_session_cancel(g_sessions[i]);
  g_in_handler.fetch_sub(1);
}

}  // namespace

void install_interrupt_handler() {
  struct sigaction old {};
  if (sigaction(SIGINT, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
}

bool interrupted() { return g_interrupted.load(); }

void arm_interrupt(const std::vector<ombrelt_session *> &sessions) {
  g_sessions = sessions.data();
  g_count = sessions.size();
  g_armed.store(true);
}

void disarm_interrupt() {
  g_armed.store(false);
  while (g_in_handler.load() != 0) sched_yield();
  g_sessions = nullptr;
  g_count = 0;
}

int report_interrupted() {
  std::fputs("ombrelt: interrupted\n", stderr);
  return EXIT_INTERRUPTED;
}
