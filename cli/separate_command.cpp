// ombrelt separate: the stems of one or more songs.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <system_error>
#include <thread>

#include "batch.h"
#include "cli.h"
#include "formats.h"
#include "interrupt.h"
#include "stems.h"

static const char SEPARATE_HELP[] =
    "usage: ombrelt separate [options] FILE...\n"
    "\n"
    "Splits each FILE (any audio or video FFmpeg can decode, at least 0.1 s\n"
    "long) into stems, stereo 44.1 kHz files named <name>_<stem>.wav (or\n"
    ".flac), where <name> is the file's name without its extension. When\n"
    "other, bass and drums are all asked for, their sum is written too, as\n"
    "<name>_instrumental. A line for each file tells what was written and how\n"
    "fast it went; on a terminal a progress bar shows while files run.\n"
    "\n"
    "options:\n"
    "  -o, --output DIR   where the stems go (default: stems; created if missing)\n"
    "  -s, --stems LIST   stems to write, separated by commas: vocals, other,\n"
    "                     bass, drums, instrumental (other, bass and drums with\n"
    "                     their sum) or all (the default)\n"
    "      --format F     wav16 (the default), wav24, wav32f (32-bit float WAV),\n"
    "                     flac (16-bit) or flac24\n"
    "      --sum-to-mix   share every bit of the song out between the four\n"
    "                     stems, so that they add up to it (runs all four models)\n"
    "      --wiener       --sum-to-mix refined by a multichannel Wiener filter,\n"
    "                     which also weighs where each stem sits between the\n"
    "                     channels (cleaner vocals, about 1.4x the time)\n"
    "  -j, --jobs N       separate N files at a time (default 1), the cores\n"
    "                     shared between them; lines come as files finish\n"
    "  -m, --models DIR   the stem models: a directory, or the name of a set,\n"
    "                     one fetched by scripts/get-models.sh (e.g. umxhq) or\n"
    "                     default, the set installed with ombrelt (used when\n"
    "                     no -m is given and $OMBRELT_MODELS is not set)\n"
    "  -v, --verbose      show FFmpeg's own warnings about the input\n"
    "      --json         one JSON object per file on standard output:\n"
    "                     {\"file\":...,\"ok\":true,\"result\":{\"vocals\":...,...}}\n"
    "                     or {\"file\":...,\"ok\":false,\"error\":...}\n"
    "  -h, --help         show this help\n"
    "\n"
    "Ctrl-C stops the files running without leaving any of their stems, and\n"
    "starts no further file; a second Ctrl-C ends ombrelt at once.\n"
    "\n"
    "examples:\n"
    "  ombrelt separate song.mp3                   all stems into stems/\n"
    "  ombrelt separate -o out -s vocals,instrumental --format flac *.mp3\n"
    "  ombrelt separate --jobs 2 album/*.flac\n"
    "\n"
    "Exit status: 0 when every file was separated, 1 when any failed, 2 for a\n"
    "usage error, 130 when interrupted by Ctrl-C.\n";

// Turns "vocals,drums" into output bits. "instrumental" brings the three
// stems it is the sum of, and those three bring their sum.
static bool parse_stem_list(const std::string &list, unsigned &outputs) {
  outputs = 0;
  std::size_t pos = 0;
  while (pos <= list.size()) {
    std::size_t comma = list.find(',', pos);
    if (comma == std::string::npos) comma = list.size();
    std::string name = list.substr(pos, comma - pos);
    pos = comma + 1;
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.empty()) continue;
    if (name == "all") {
      outputs |= OMBRELT_OUTPUT_ALL;
      continue;
    }
    int found = -1;
    for (int o = 0; o < N_OUTPUTS; o++)
      if (name == OUTPUT_NAMES[o]) found = o;
    if (found < 0) {
      usage_error("separate", "unknown stem '" + name +
                                  "'; choose from vocals, other, bass, drums, instrumental, all");
      return false;
    }
    outputs |= 1u << found;
  }
  if (!outputs) {
    usage_error("separate", "no stem named in '--stems " + list + "'");
    return false;
  }
  const unsigned accompaniment = OMBRELT_OUTPUT_OTHER | OMBRELT_OUTPUT_BASS | OMBRELT_OUTPUT_DRUMS;
  if (outputs & OMBRELT_OUTPUT_INSTRUMENTAL) outputs |= accompaniment;
  if ((outputs & accompaniment) == accompaniment) outputs |= OMBRELT_OUTPUT_INSTRUMENTAL;
  return true;
}

static bool parse_jobs(const std::string &text, int &jobs) {
  char *end = nullptr;
  errno = 0;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || errno || value < 1 || value > INT_MAX) {
    usage_error("separate", "--jobs takes a whole number from 1 up, not '" + text + "'");
    return false;
  }
  jobs = static_cast<int>(value);
  return true;
}

int run_separate(int argc, char **argv, int first) {
  static const std::vector<OptionSpec> specs = {
      {"output", 'o', true}, {"stems", 's', true},       {"models", 'm', true},
      {"format", 0, true},   {"sum-to-mix", 0, false},   {"jobs", 'j', true},
      {"verbose", 'v', false}, {"wiener", 0, false}};
  CommandLine cl;
  if (!parse_command_line("separate", specs, argc, argv, first, cl)) return EXIT_USAGE;
  if (cl.help) {
    std::fputs(SEPARATE_HELP, stdout);
    return EXIT_ALL_DONE;
  }
  Batch batch;
  const std::string *output = cl.value("output");
  batch.out_dir = output ? *output : "stems";
  if (batch.out_dir.empty()) return usage_error("separate", "empty output directory");
  batch.outputs = OMBRELT_OUTPUT_ALL;
  if (const std::string *list = cl.value("stems"))
    if (!parse_stem_list(*list, batch.outputs)) return EXIT_USAGE;
  if (const std::string *name = cl.value("format")) {
    const FileFormat *format = format_named(*name);
    if (!format)
      return usage_error("separate", "unknown format '" + *name + "'; choose " + format_names());
    batch.format = format->format;
  }
  batch.sum_to_mix = cl.value("sum-to-mix") != nullptr;
  batch.wiener = cl.value("wiener") != nullptr;
  int jobs = 1;
  if (const std::string *text = cl.value("jobs"))
    if (!parse_jobs(*text, jobs)) return EXIT_USAGE;
  batch.json = cl.json;
  batch.files = cl.operands;
  if (batch.files.empty()) return usage_error("separate", "no input file");
  // Two inputs with one name would write the same stem files, the second
  // over the first.
  std::map<std::string, std::string> by_name;
  for (const auto &file : batch.files) {
    auto [it, fresh] = by_name.emplace(stem_base_name(file), file);
    if (!fresh && it->second != file)
      return usage_error("separate", "'" + it->second + "' and '" + file +
                                         "' would write the same stem files; separate them "
                                         "into different -o directories");
  }

  set_media_log(cl.value("verbose") != nullptr);
  install_interrupt_handler();
  // More sessions than files would only load models for nothing. One
  // session keeps the library's default threads; several share the cores.
  int count = static_cast<int>(std::min<std::size_t>(jobs, batch.files.size()));
  int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  int threads = count == 1 ? 0 : std::clamp(cores / count, 1, 64);
  SessionSet sessions;
  if (!open_sessions(choose_models(cl.value("models")), count, threads, sessions))
    return interrupted() ? report_interrupted() : EXIT_SOME_FAILED;
  // The library makes one level of directory; make the parents too.
  std::error_code ec;
  std::filesystem::create_directories(batch.out_dir, ec);
  return run_batch(batch, sessions);
}
