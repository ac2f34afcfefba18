// The queue of files of 'ombrelt separate' and the threads that empty it.
#include "batch.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "interrupt.h"
#include "progress.h"
#include "run_file.h"
#include "stems.h"

namespace {

std::string result_line(const std::string &file, const std::string &out_dir, const char *json) {
  std::vector<JsonMember> m;
  if (!parse_flat_object(json, m)) return file + ": " + json + "\n";
  std::string written;
  int count = 0;
  for (const char *stem : OUTPUT_NAMES)
    if (find_member(m, stem)) {
      written += std::string(count ? ", " : "") + stem;
      count++;
    }
  return file + ": " + std::to_string(count) + (count == 1 ? " stem in " : " stems in ") +
         out_dir + " (" + written + "), " + timing_text(m) + "\n";
}

struct Queue {
  const Batch &batch;
  ProgressBoard &board;
  std::atomic<std::size_t> next{0};
  std::atomic<int> failed{0};

  // One session's thread: the next file, until none is left or Ctrl-C.
  void work(ombrelt_session *session, int slot) {
    while (!interrupted()) {
      std::size_t i = next.fetch_add(1);
      if (i >= batch.files.size()) return;
      const std::string &file = batch.files[i];
      ombrelt_separate_options options{};
      options.outputs = batch.outputs;
      options.format = batch.format;
      options.sum_to_mix = batch.sum_to_mix;
      options.wiener = batch.wiener;
      options.out_dir = batch.out_dir.c_str();
      const char *json = nullptr;
      int status = run_separation(session, board, slot, file, options, &json);
      const char *message = ombrelt_session_last_error(session);
      std::string out, err;
      if (status == OMBRELT_SESSION_OK) {
        out = batch.json ? json_success_line(file, json) : result_line(file, batch.out_dir, json);
      } else if (status == OMBRELT_SESSION_CANCELLED) {
        // Ctrl-C: the one line about it comes at the end.
        if (batch.json) out = json_failure_line(file, message);
      } else {
        failed++;
        if (batch.json) out = json_failure_line(file, message);
        err = failure_line(file, message);
      }
      board.end(slot, out, err);
    }
  }
};

}  // namespace

int run_batch(const Batch &batch, const SessionSet &sessions) {
  const auto &list = sessions.sessions;
  arm_interrupt(list);
  int failed = 0;
  {
    ProgressBoard board(isatty(STDERR_FILENO) && !batch.json, "separating",
                        static_cast<int>(list.size()), batch.files.size());
    Queue queue{batch, board};
    std::vector<std::thread> threads;
    for (std::size_t k = 1; k < list.size(); k++)
      threads.emplace_back(&Queue::work, &queue, list[k], static_cast<int>(k));
    queue.work(list[0], 0);
    for (auto &t : threads) t.join();
    failed = queue.failed;
  }
  if (interrupted()) return report_interrupted();
  if (failed && batch.files.size() > 1)
    std::fprintf(stderr, "ombrelt: %d of %zu files failed\n", failed, batch.files.size());
  return failed ? EXIT_SOME_FAILED : EXIT_ALL_DONE;
}
