// How every subcommand reports the outcome of one file.
#include <cstdio>

#include "cli.h"
#include "ombrelt.h"

void print_json_success(const std::string &file, const char *result) {
  std::printf("{\"file\":%s,\"ok\":true,\"result\":%s}\n", json_quote(file).c_str(), result);
}

void report_failure(const std::string &file, bool json) {
  // With --json the line goes to standard output as well; stderr always says
  // it, so a person watching a script still sees what went wrong.
  if (json)
    std::printf("{\"file\":%s,\"ok\":false,\"error\":%s}\n", json_quote(file).c_str(),
                json_quote(ombrelt_last_error()).c_str());
  std::fprintf(stderr, "ombrelt: %s: %s\n", file.c_str(), ombrelt_last_error());
}
