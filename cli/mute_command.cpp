// ombrelt mute: a song without its vocals, or without its accompaniment.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli.h"
#include "ombrelt.h"

static const char MUTE_HELP[] =
    "usage: ombrelt mute --mode vocal|instrumental -o OUT [options] FILE\n"
    "\n"
    "Removes one part of the song FILE and writes what remains to OUT, a 16-bit\n"
    "stereo 44.1 kHz WAV file whatever its extension.\n"
    "  --mode vocal          removes the vocals: OUT gets the accompaniment\n"
    "                        (other + bass + drums); the three stems it is made\n"
    "                        of stay beside OUT as <out>_other.wav,\n"
    "                        <out>_bass.wav and <out>_drums.wav\n"
    "  --mode instrumental   removes the accompaniment: OUT gets the vocals\n"
    "\n"
    "options:\n"
    "      --mode MODE    vocal or instrumental (required)\n"
    "  -o, --output OUT   the file to write (required); its directory is created\n"
    "                     if missing\n"
    "  -m, --models DIR   the stem models: a directory, or the name of a set,\n"
    "                     one fetched by scripts/get-models.sh (e.g. umxhq) or\n"
    "                     default, the set installed with ombrelt (used when\n"
    "                     no -m is given and $OMBRELT_MODELS is not set)\n"
    "      --json         the result as one JSON object on standard output:\n"
    "                     {\"file\":...,\"ok\":true,\"result\":{...}}, the result\n"
    "                     ending in \"path\" and \"mode\", or\n"
    "                     {\"file\":...,\"ok\":false,\"error\":...}\n"
    "  -h, --help         show this help\n"
    "\n"
    "example:\n"
    "  ombrelt mute --mode vocal -o karaoke/song.wav song.mp3\n"
    "\n"
    "Exit status: 0 on success, 1 when it failed, 2 for a usage error.\n";

int run_mute(int argc, char **argv, int first) {
  static const std::vector<OptionSpec> specs = {
      {"mode", 0, true}, {"output", 'o', true}, {"models", 'm', true}};
  CommandLine cl;
  if (!parse_command_line("mute", specs, argc, argv, first, cl)) return EXIT_USAGE;
  if (cl.help) {
    std::fputs(MUTE_HELP, stdout);
    return EXIT_ALL_DONE;
  }
  const std::string *mode = cl.value("mode");
  if (!mode) return usage_error("mute", "missing --mode vocal|instrumental");
  if (*mode != "vocal" && *mode != "instrumental")
    return usage_error("mute", "unknown mode '" + *mode + "'; choose vocal or instrumental");
  const std::string *out = cl.value("output");
  if (!out || out->empty()) return usage_error("mute", "missing -o OUT, the file to write");
  if (cl.operands.empty()) return usage_error("mute", "no input file");
  if (cl.operands.size() > 1)
    return usage_error("mute", "one input file at a time (got " +
                                   std::to_string(cl.operands.size()) + ")");
  const std::string &file = cl.operands[0];

  if (!load_models(choose_models(cl.value("models")))) return EXIT_SOME_FAILED;
  std::error_code ec;
  std::filesystem::path parent = std::filesystem::path(*out).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);

  const char *json = nullptr;
  ElapsedLine ticker("muting " + file);
  int status = ombrelt_mute(file.c_str(), out->c_str(), mode->c_str(), &json);
  ticker.stop();
  if (status != 0) {
    report_failure(file, cl.json);
    ombrelt_cleanup();
    return EXIT_SOME_FAILED;
  }
  if (cl.json) {
    print_json_success(file, json);
  } else {
    std::vector<JsonMember> m;
    parse_flat_object(json, m);
    double duration = member_number(m, "duration_s");
    double elapsed = member_number(m, "elapsed_s");
    std::printf("%s: %s removed, %s written, %.1f s of audio in %.2f s", file.c_str(),
                *mode == "vocal" ? "vocals" : "accompaniment", out->c_str(), duration, elapsed);
    if (elapsed > 0) std::printf(", %.1fx real time", duration / elapsed);
    std::printf("\n");
  }
  ombrelt_cleanup();
  return EXIT_ALL_DONE;
}
