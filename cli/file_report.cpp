// How every subcommand reports the outcome of one file.
#include "cli.h"

std::string json_success_line(const std::string &file, const char *result) {
  return "{\"file\":" + json_quote(file) + ",\"ok\":true,\"result\":" + result + "}\n";
}

std::string json_failure_line(const std::string &file, const char *message) {
  return "{\"file\":" + json_quote(file) + ",\"ok\":false,\"error\":" + json_quote(message) + "}\n";
}

std::string failure_line(const std::string &file, const char *message) {
  // stderr says it with --json too, so a person watching a script still
  // sees what went wrong.
  return "ombrelt: " + file + ": " + message + "\n";
}
