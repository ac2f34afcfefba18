// ombrelt: the command-line host of the tavrin-ombrelt library.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"

static const char MAIN_HELP[] =
    "usage: ombrelt <command> [options] [FILE...]\n"
    "\n"
    "Splits music into vocals, other, bass and drums stems, plus an\n"
    "instrumental mix (other + bass + drums), written as WAV or FLAC files.\n"
    "\n"
    "commands:\n"
    "  separate   write the stems of one or more songs\n"
    "  mute       write a song without its vocals, or without its accompaniment\n"
    "  probe      show the duration, rate, channels, codec and bit rate of files\n"
    "  version    show the versions, the model directory and the model sets\n"
    "\n"
    "Every command takes --json for machine-readable output and --help for its\n"
    "options: 'ombrelt separate --help'. separate, mute and probe hide FFmpeg's\n"
    "own messages unless -v is given. On a terminal, a progress bar shows while\n"
    "a song runs; Ctrl-C stops separate and mute without leaving partial files.\n"
    "\n"
    "Models: separate and mute load four stem models from --models DIR, else from\n"
    "$OMBRELT_MODELS, else from the default set installed with ombrelt. A name\n"
    "instead of a directory picks a set that scripts/get-models.sh downloaded\n"
    "('ombrelt separate -m umxhq song.mp3'); 'ombrelt version' lists them.\n";

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fputs("usage: ombrelt <command> [options] [FILE...]\n"
               "commands: separate, mute, probe, version (see 'ombrelt --help')\n",
               stderr);
    return EXIT_USAGE;
  }
  const char *command = argv[1];
  if (!std::strcmp(command, "--help") || !std::strcmp(command, "-h") ||
      !std::strcmp(command, "help")) {
    if (argc > 2 && std::strcmp(command, "help") == 0) {
      // "ombrelt help separate" reads as "ombrelt separate --help".
      char help_flag[] = "--help";
      char *args[] = {argv[0], argv[2], help_flag};
      return main(3, args);
    }
    std::fputs(MAIN_HELP, stdout);
    return EXIT_ALL_DONE;
  }
  if (!std::strcmp(command, "--version")) return run_version(argc, argv, 2);
  if (!std::strcmp(command, "separate")) return run_separate(argc, argv, 2);
  if (!std::strcmp(command, "mute")) return run_mute(argc, argv, 2);
  if (!std::strcmp(command, "probe")) return run_probe(argc, argv, 2);
  if (!std::strcmp(command, "version")) return run_version(argc, argv, 2);
  if (command[0] == '-') return usage_error(nullptr, std::string("unknown option '") + command + "'");
  return usage_error(nullptr, std::string("unknown command '") + command + "'");
}
