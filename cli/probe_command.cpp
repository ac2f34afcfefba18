// ombrelt probe: what the library sees in each file.
#include <cstdio>

#include "cli.h"
#include "ombrelt.h"

static const char PROBE_HELP[] =
    "usage: ombrelt probe [--json] FILE...\n"
    "\n"
    "Shows the duration, sample rate, channel count, codec and bit rate of each\n"
    "FILE, as the library reads them. Needs no models.\n"
    "\n"
    "options:\n"
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
  CommandLine cl;
  if (!parse_command_line("probe", {}, argc, argv, first, cl)) return EXIT_USAGE;
  if (cl.help) {
    std::fputs(PROBE_HELP, stdout);
    return EXIT_ALL_DONE;
  }
  if (cl.operands.empty()) return usage_error("probe", "no input file");
  int failed = 0;
  for (const auto &file : cl.operands) {
    const char *json = nullptr;
    if (ombrelt_probe(file.c_str(), &json) == 0) {
      if (cl.json)
        print_json_success(file, json);
      else
        print_probe_line(file, json);
    } else {
      failed++;
      report_failure(file, cl.json);
    }
    std::fflush(stdout);
  }
  return failed ? EXIT_SOME_FAILED : EXIT_ALL_DONE;
}
