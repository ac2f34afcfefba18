// ombrelt mute: a song without its vocals, or without its accompaniment.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli.h"
#include "formats.h"
#include "interrupt.h"
#include "progress.h"
#include "run_file.h"
#include "stems.h"

static const char MUTE_HELP[] =
    "usage: ombrelt mute --mode vocal|instrumental -o OUT [options] FILE\n"
    "\n"
    "Removes one part of the song FILE and writes what remains to OUT, a\n"
    "stereo 44.1 kHz file whose extension says its format: .wav (16-bit, or\n"
    "as --format says) or .flac (16-bit, or 24-bit with --format flac24).\n"
    "  --mode vocal          removes the vocals: OUT gets the accompaniment\n"
    "                        (other + bass + drums)\n"
    "  --mode instrumental   removes the accompaniment: OUT gets the vocals\n"
    "Only OUT is written, unless --keep-stems is given.\n"
    "\n"
    "options:\n"
    "      --mode MODE    vocal or instrumental (required)\n"
    "  -o, --output OUT   the file to write (required), ending in .wav or .flac;\n"
    "                     its directory is created if missing\n"
    "      --format F     wav16, wav24 or wav32f (32-bit float) for a .wav OUT,\n"
    "                     flac or flac24 for a .flac OUT\n"
    "      --keep-stems   with --mode vocal, also write the three stems OUT is\n"
    "                     made of beside it: <out>_other, <out>_bass and\n"
    "                     <out>_drums, in OUT's format\n"
    "      --sum-to-mix   share every bit of the song out between the four\n"
    "                     stems, so that OUT and what was removed add up to the\n"
    "                     song (runs all four models)\n"
    "      --wiener       --sum-to-mix refined by a multichannel Wiener filter,\n"
    "                     which also weighs where each stem sits between the\n"
    "                     channels (cleaner vocals, about 1.4x the time)\n"
    "  -m, --models DIR   the stem models: a directory, or the name of a set,\n"
    "                     one fetched by scripts/get-models.sh (e.g. umxhq) or\n"
    "                     default, the set installed with ombrelt (used when\n"
    "                     no -m is given and $OMBRELT_MODELS is not set)\n"
    "  -v, --verbose      show FFmpeg's own warnings about the input\n"
    "      --json         the result as one JSON object on standard output:\n"
    "                     {\"file\":...,\"ok\":true,\"result\":{...}}, the result\n"
    "                     ending in \"path\" and \"mode\", or\n"
    "                     {\"file\":...,\"ok\":false,\"error\":...}\n"
    "  -h, --help         show this help\n"
    "\n"
    "Ctrl-C stops it without leaving OUT or any stem.\n"
    "\n"
    "example:\n"
    "  ombrelt mute --mode vocal -o karaoke/song.flac song.mp3\n"
    "\n"
    "Exit status: 0 on success, 1 when it failed, 2 for a usage error, 130\n"
    "when interrupted by Ctrl-C.\n";

namespace {

struct MuteMode {
  const char *name;
  unsigned kept;          // the output that goes to OUT
  unsigned stems_beside;  // what --keep-stems adds
  const char *removed;    // for the result line
};

constexpr MuteMode MODES[] = {
    {"vocal", OMBRELT_OUTPUT_INSTRUMENTAL,
     OMBRELT_OUTPUT_OTHER | OMBRELT_OUTPUT_BASS | OMBRELT_OUTPUT_DRUMS, "vocals"},
    {"instrumental", OMBRELT_OUTPUT_VOCALS, 0, "accompaniment"},
};

// The session's result with OUT as "path" instead of under the kept
// output's name, and the mode: the shape ombrelt_mute gives.
std::string mute_result(const char *json, const MuteMode &mode, const std::string &out) {
  std::vector<JsonMember> members, kept;
  if (!parse_flat_object(json, members)) return json;
  const char *kept_name = nullptr;
  for (int o = 0; o < N_OUTPUTS; o++)
    if (mode.kept == 1u << o) kept_name = OUTPUT_NAMES[o];
  for (auto &m : members)
    if (m.key != kept_name) kept.push_back(std::move(m));
  kept.push_back(JsonMember{"path", true, out, 0});
  kept.push_back(JsonMember{"mode", true, mode.name, 0});
  return flat_object_text(kept);
}

std::string result_line(const std::string &file, const MuteMode &mode, const std::string &out,
                        const char *json) {
  std::vector<JsonMember> m;
  parse_flat_object(json, m);
  return file + ": " + mode.removed + " removed, " + out + " written, " + timing_text(m) + "\n";
}

}  // namespace

int run_mute(int argc, char **argv, int first) {
  static const std::vector<OptionSpec> specs = {
      {"mode", 0, true},        {"output", 'o', true},    {"models", 'm', true},
      {"format", 0, true},      {"keep-stems", 0, false}, {"sum-to-mix", 0, false},
      {"verbose", 'v', false},  {"wiener", 0, false}};
  CommandLine cl;
  if (!parse_command_line("mute", specs, argc, argv, first, cl)) return EXIT_USAGE;
  if (cl.help) {
    std::fputs(MUTE_HELP, stdout);
    return EXIT_ALL_DONE;
  }
  const std::string *mode_name = cl.value("mode");
  if (!mode_name) return usage_error("mute", "missing --mode vocal|instrumental");
  const MuteMode *mode = nullptr;
  for (const MuteMode &m : MODES)
    if (*mode_name == m.name) mode = &m;
  if (!mode)
    return usage_error("mute", "unknown mode '" + *mode_name + "'; choose vocal or instrumental");
  const std::string *out = cl.value("output");
  if (!out || out->empty()) return usage_error("mute", "missing -o OUT, the file to write");
  const FileFormat *format = format_of_extension(*out);
  if (!format)
    return usage_error("mute", "cannot write '" + *out + "': OUT must end in " +
                                   format_extensions());
  if (const std::string *name = cl.value("format")) {
    const FileFormat *asked = format_named(*name);
    if (!asked)
      return usage_error("mute", "unknown format '" + *name + "'; choose " + format_names());
    if (std::string(asked->extension) != format->extension)
      return usage_error("mute", "format " + *name + " writes " + asked->extension +
                                     " files, not '" + *out + "'");
    format = asked;
  }
  bool keep_stems = cl.value("keep-stems") != nullptr;
  if (keep_stems && !mode->stems_beside)
    return usage_error("mute", "--keep-stems goes with --mode vocal");
  if (cl.operands.empty()) return usage_error("mute", "no input file");
  if (cl.operands.size() > 1)
    return usage_error("mute", "one input file at a time (got " +
                                   std::to_string(cl.operands.size()) + ")");
  const std::string &file = cl.operands[0];

  set_media_log(cl.value("verbose") != nullptr);
  install_interrupt_handler();
  SessionSet sessions;
  if (!open_sessions(choose_models(cl.value("models")), 1, 0, sessions))
    return interrupted() ? report_interrupted() : EXIT_SOME_FAILED;
  ombrelt_session *session = sessions.sessions[0];
  arm_interrupt(sessions.sessions);
  std::error_code ec;
  std::filesystem::path parent = std::filesystem::path(*out).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);

  ombrelt_separate_options options{};
  options.outputs = mode->kept | (keep_stems ? mode->stems_beside : 0);
  options.path_output = mode->kept;
  options.path = out->c_str();
  options.format = format->format;
  options.sum_to_mix = cl.value("sum-to-mix") != nullptr;
  options.wiener = cl.value("wiener") != nullptr;
  // The stems beside OUT are named after it, not after the song.
  std::string base = stem_base_name(*out);
  options.base_name = base.c_str();
  const char *json = nullptr;
  ProgressBoard board(isatty(STDERR_FILENO) && !cl.json, "muting", 1, 1);
  int status = run_separation(session, board, 0, file, options, &json);
  const char *message = ombrelt_session_last_error(session);
  if (status == OMBRELT_SESSION_OK) {
    board.end(0, cl.json ? json_success_line(file, mute_result(json, *mode, *out).c_str())
                         : result_line(file, *mode, *out, json),
              "");
    return interrupted() ? report_interrupted() : EXIT_ALL_DONE;
  }
  if (status == OMBRELT_SESSION_CANCELLED) {
    board.end(0, cl.json ? json_failure_line(file, message) : "", "");
    return report_interrupted();
  }
  board.end(0, cl.json ? json_failure_line(file, message) : "", failure_line(file, message));
  return interrupted() ? report_interrupted() : EXIT_SOME_FAILED;
}
