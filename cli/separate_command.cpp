// ombrelt separate: the stems of one or more songs.
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

#include "cli.h"
#include "ombrelt.h"
#include "stems.h"

static const char SEPARATE_HELP[] =
    "usage: ombrelt separate [options] FILE...\n"
    "\n"
    "Splits each FILE (any audio or video FFmpeg can decode, at least 0.1 s\n"
    "long) into stems, written as 16-bit stereo 44.1 kHz WAV files named\n"
    "<name>_<stem>.wav, where <name> is the file's name without its extension.\n"
    "When other, bass and drums are all asked for, their sum is written too, as\n"
    "<name>_instrumental.wav. The files run one after another; a line for each\n"
    "tells what was written and how fast it went.\n"
    "\n"
    "options:\n"
    "  -o, --output DIR   where the stems go (default: stems; created if missing)\n"
    "  -s, --stems LIST   stems to write, separated by commas: vocals, other,\n"
    "                     bass, drums, instrumental (other, bass and drums with\n"
    "                     their sum) or all (the default)\n"
    "  -m, --models DIR   the stem models: a directory, or the name of a set,\n"
    "                     one fetched by scripts/get-models.sh (e.g. umxhq) or\n"
    "                     default, the set installed with ombrelt (used when\n"
    "                     no -m is given and $OMBRELT_MODELS is not set)\n"
    "      --json         one JSON object per file on standard output:\n"
    "                     {\"file\":...,\"ok\":true,\"result\":{\"vocals\":...,...}}\n"
    "                     or {\"file\":...,\"ok\":false,\"error\":...}\n"
    "  -h, --help         show this help\n"
    "\n"
    "examples:\n"
    "  ombrelt separate song.mp3                   all stems into stems/\n"
    "  ombrelt separate -o out -s vocals,instrumental *.flac\n"
    "\n"
    "Exit status: 0 when every file was separated, 1 when any failed, 2 for a\n"
    "usage error.\n";

// Turns "vocals,drums" into the library's stem list, ["vocals","drums"].
static bool stems_to_json(const std::string &list, std::string &json) {
  std::vector<std::string> names;
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
      for (int s = 0; s < N_STEMS; s++) names.push_back(OUTPUT_NAMES[s]);
      continue;
    }
    bool known = false;
    for (const char *choice : OUTPUT_NAMES) known = known || name == choice;
    if (!known) {
      usage_error("separate", "unknown stem '" + name +
                                  "'; choose from vocals, other, bass, drums, instrumental, all");
      return false;
    }
    names.push_back(name);
  }
  if (names.empty()) {
    usage_error("separate", "no stem named in '--stems " + list + "'");
    return false;
  }
  std::string array(1, '[');
  for (std::size_t i = 0; i < names.size(); i++) {
    if (i) array += ',';
    array.append(1, '"').append(names[i]).append(1, '"');
  }
  json = array + ']';
  return true;
}

static void print_result_line(const std::string &file, const std::string &out_dir,
                              const char *json) {
  std::vector<JsonMember> m;
  if (!parse_flat_object(json, m)) {
    std::printf("%s: %s\n", file.c_str(), json);
    return;
  }
  std::string written;
  int count = 0;
  for (const char *stem : OUTPUT_NAMES)
    if (find_member(m, stem)) {
      written += std::string(count ? ", " : "") + stem;
      count++;
    }
  double duration = member_number(m, "duration_s");
  double elapsed = member_number(m, "elapsed_s");
  std::printf("%s: %d stem%s in %s (%s), %.1f s of audio in %.2f s", file.c_str(), count,
              count == 1 ? "" : "s", out_dir.c_str(), written.c_str(), duration, elapsed);
  if (elapsed > 0)
    std::printf(", %.1fx real time\n", duration / elapsed);
  else
    std::printf("\n");
}

int run_separate(int argc, char **argv, int first) {
  static const std::vector<OptionSpec> specs = {
      {"output", 'o', true}, {"stems", 's', true}, {"models", 'm', true}};
  CommandLine cl;
  if (!parse_command_line("separate", specs, argc, argv, first, cl)) return EXIT_USAGE;
  if (cl.help) {
    std::fputs(SEPARATE_HELP, stdout);
    return EXIT_ALL_DONE;
  }
  const std::string *output = cl.value("output");
  std::string out_dir = output ? *output : "stems";
  if (out_dir.empty()) return usage_error("separate", "empty output directory");
  std::string stems = "[\"vocals\",\"other\",\"bass\",\"drums\"]";
  if (const std::string *list = cl.value("stems"))
    if (!stems_to_json(*list, stems)) return EXIT_USAGE;
  if (cl.operands.empty()) return usage_error("separate", "no input file");
  // Two inputs with one name would write the same stem files, the second
  // over the first.
  std::map<std::string, std::string> by_name;
  for (const auto &file : cl.operands) {
    auto [it, fresh] = by_name.emplace(stem_base_name(file), file);
    if (!fresh && it->second != file)
      return usage_error("separate", "'" + it->second + "' and '" + file +
                                         "' would write the same stem files; separate them "
                                         "into different -o directories");
  }

  if (!load_models(choose_models(cl.value("models")))) return EXIT_SOME_FAILED;
  // The library makes one level of directory; make the parents too.
  std::error_code ec;
  std::filesystem::create_directories(out_dir, ec);

  int failed = 0;
  for (const auto &file : cl.operands) {
    const char *json = nullptr;
    ElapsedLine ticker("separating " + file);
    int status = ombrelt_separate(file.c_str(), out_dir.c_str(), stems.c_str(), &json);
    ticker.stop();
    if (status == 0) {
      if (cl.json)
        print_json_success(file, json);
      else
        print_result_line(file, out_dir, json);
    } else {
      failed++;
      report_failure(file, cl.json);
    }
    std::fflush(stdout);
  }
  ombrelt_cleanup();
  if (failed && cl.operands.size() > 1)
    std::fprintf(stderr, "ombrelt: %d of %zu files failed\n", failed, cl.operands.size());
  return failed ? EXIT_SOME_FAILED : EXIT_ALL_DONE;
}
