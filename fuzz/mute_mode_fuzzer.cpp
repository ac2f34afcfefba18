// The mode of ombrelt_mute. The input does not exist, so every run ends once
// the mode has been judged: exactly "vocal" and "instrumental" get as far as
// the input, everything else is refused.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "ombrelt.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  init_with_test_models();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *mode = bytes_as_text(data, size);
  const char *json = "untouched";
  int rc = ombrelt_mute(MISSING_INPUT, "ombrelt-fuzz-out/song.wav", mode, &json);
  if (rc != -1) finding("a missing input was muted", json);
  if (std::strcmp(json, "untouched") != 0) finding("json_out written on failure", json);
  std::string expected = "mode must be 'vocal' or 'instrumental'";
  if (*mode == '\0')
    expected = "empty path or mode";
  else if (std::strcmp(mode, "vocal") == 0 || std::strcmp(mode, "instrumental") == 0)
    expected = std::string("cannot open ") + MISSING_INPUT;
  if (expected != ombrelt_last_error()) finding("unexpected message", ombrelt_last_error());
  return 0;
}
