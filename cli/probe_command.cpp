// ombrelt probe: what the library sees in each file.
#include <cstdio>

#include "cli.h"

static const char PROBE_HELP[] =
    "usage: ombrelt probe [--json] [-v] FILE...\n"
    "\n"
    "Shows the duration, sample rate, channel count, codec and bit rate of each\n"
    "FILE, as the library reads them. Needs no models.\n"
    "\n"
    "options:\n"
    "  -v, --verbose show FFmpeg's own warnings about the input\n"
    "      --json    one JSON object per file on standard output:\n"
    "                {\"file\":...,\"ok\":true,\"result\":{\"duration_s\":...,...}}\n"
    "                or {\"file\":...,\"ok\":false,\"error\":...}\n"
    "  -h, --help    show this help\n"
    "\n"
    "Exit status: 0 when every file was read, 1 when any was not, 2 for a\n"
    "usage error.\n";

static void print_probe_line(const std::string &file, const char *json) {
  std::vector<JsonMember> m;
  if (!parse_flat_object(json, m)) {
    std::printf("%s: %s\n", file.c_str(), json);
    return;
  }
  double duration = member_number(m, "duration_s");
  long rate = static_cast<long>(member_number(m, "sample_rate"));
  long channels = static_cast<long>(member_number(m, "channels"));
  long bitrate = static_cast<long>(member_number(m, "bitrate"));
  const JsonMember *codec = find_member(m, "codec");
  char line[256];
  if (duration > 0)
    std::snprintf(line, sizeof line, "%.2f s", duration);
  else
    std::snprintf(line, sizeof line, "duration unknown");
  std::printf("%s: %s, %ld Hz, %ld channel%s, %s, ", file.c_str(), line, rate, channels,
              channels == 1 ? "" : "s", codec && codec->is_string ? codec->text.c_str() : "?");
  if (bitrate > 0)
    std::printf("%ld kb/s\n", (bitrate + 500) / 1000);
  else
    std::printf("bit rate unknown\n");
}

int run_probe(int argc, char **argv, int first) {
  static const std::vector<OptionSpec> specs = {{"verbose", 'v', false}};
  CommandLine cl;
  if (!parse_command_line("probe", specs, argc, argv, first, cl)) return EXIT_USAGE;
  if (cl.help) {
    std::fputs(PROBE_HELP, stdout);
    return EXIT_ALL_DONE;
  }
  if (cl.operands.empty()) return usage_error("probe", "no input file");
  set_media_log(cl.value("verbose") != nullptr);
  // Probing needs no models.
  char error[256];
  ombrelt_session *session = ombrelt_session_open(nullptr, error, sizeof error);
  if (!session) {
    std::fprintf(stderr, "ombrelt: %s\n", error);
    return EXIT_SOME_FAILED;
  }
  int failed = 0;
  for (const auto &file : cl.operands) {
    const char *json = nullptr;
    if (ombrelt_session_probe(session, file.c_str(), &json) == OMBRELT_SESSION_OK) {
      if (cl.json)
        std::fputs(json_success_line(file, json).c_str(), stdout);
      else
        print_probe_line(file, json);
    } else {
      failed++;
      const char *message = ombrelt_session_last_error(session);
      if (cl.json) std::fputs(json_failure_line(file, message).c_str(), stdout);
      std::fflush(stdout);
      std::fputs(failure_line(file, message).c_str(), stderr);
    }
    std::fflush(stdout);
  }
  ombrelt_session_close(session);
  return failed ? EXIT_SOME_FAILED : EXIT_ALL_DONE;
}
