// Times a whole separation per stage and measures its peak memory.
//
//   ombrelt_separation_bench --set NAME=MODEL_DIR ... --input LABEL=AUDIO ...
//                            --work DIR [--repeat N]
//
// runs ombrelt_separate (all stems) on every input with every model set,
// each run in a fresh child process of this program, and prints per model
// set the seconds and share of each stage and the peak resident memory
// against the library's budget. With --repeat N every run is made N times
// and the fastest is reported: on a shared machine it is the one that other
// work disturbed least. Progress goes to stderr, tables to stdout.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "child_run.h"
#include "report.h"

namespace {

struct Named {
  const char *name;
  const char *value;
};

bool split_named(const char *arg, Named *out) {
  const char *eq = std::strchr(arg, '=');
  if (!eq || eq == arg || !eq[1]) return false;
  // The name is kept as its own string; arguments live as long as main.
  char *name = strndup(arg, (size_t)(eq - arg));
  *out = {name, eq + 1};
  return true;
}

// Runs "--child model_dir input out_dir" in a new process of this program
// and reads its result line.
bool spawn_run(const char *model_dir, const char *input, const char *out_dir, RunResult *r) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    const char *args[] = {"ombrelt_separation_bench", "--child", model_dir, input, out_dir,
                          nullptr};
    execv("/proc/self/exe", (char *const *)args);
    _exit(127);
  }
  close(fds[1]);
  FILE *from_child = fdopen(fds[0], "r");
  bool ok = false;
  char line[2048];
  while (from_child && std::fgets(line, sizeof line, from_child))
    if (parse_result(line, r)) ok = true;
  if (from_child) std::fclose(from_child);
  int status = 0;
  waitpid(pid, &status, 0);
  return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: ombrelt_separation_bench --set NAME=MODEL_DIR ... "
               "--input LABEL=AUDIO ... --work DIR [--repeat N]\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && std::strcmp(argv[1], "--child") == 0)
    return child_run(argv[2], argv[3], argv[4]);

  std::vector<Named> sets, inputs;
  const char *work = nullptr;
  int repeat = 1;
  for (int i = 1; i < argc; i++) {
    Named named;
    if (i + 1 < argc && std::strcmp(argv[i], "--set") == 0 && split_named(argv[++i], &named))
      sets.push_back(named);
    else if (i + 1 < argc && std::strcmp(argv[i], "--input") == 0 &&
             split_named(argv[++i], &named))
      inputs.push_back(named);
    else if (i + 1 < argc && std::strcmp(argv[i], "--work") == 0)
      work = argv[++i];
    else if (i + 1 < argc && std::strcmp(argv[i], "--repeat") == 0)
      repeat = std::atoi(argv[++i]);
    else
      return usage();
  }
  if (sets.empty() || inputs.empty() || !work || repeat < 1) return usage();
  mkdir(work, 0777);

  int failures = 0;
  for (const Named &set : sets) {
    std::vector<Run> runs;
    for (const Named &input : inputs) {
      char out_dir[4096];
      std::snprintf(out_dir, sizeof out_dir, "%s/out-%s-%s", work, set.name, input.name);
      Run run{input.name, false, {}};
      for (int k = 0; k < repeat; k++) {
        std::fprintf(stderr, "bench: %s models, input %s ...\n", set.name, input.name);
        RunResult r{};
        if (!spawn_run(set.value, input.value, out_dir, &r)) continue;
        std::fprintf(stderr, "bench: %s models, input %s: %.2f s, %.2f x real time\n", set.name,
                     input.name, r.total_s, r.audio_s / r.total_s);
        if (!run.ok || r.total_s < run.result.total_s) run.result = r;
        run.ok = true;
      }
      if (!run.ok) failures++;
      runs.push_back(run);
    }
    print_set_report(stdout, set.name, set.value, runs.data(), (int)runs.size());
  }
  return failures == 0 ? 0 : 1;
}
