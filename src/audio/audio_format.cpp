// The names and file extensions of the stem formats.
#include <cstring>

#include "audio/audio.h"
#include "ombrelt_session.h"

namespace {

struct FormatName {
  const char *name;
  const char *extension;
};

// In the order of AudioFormat.
constexpr FormatName FORMATS[] = {
    {"wav16", "wav"}, {"wav24", "wav"}, {"wav32f", "wav"}, {"flac16", "flac"}, {"flac24", "flac"},
};
static_assert(sizeof FORMATS / sizeof FORMATS[0] == N_AUDIO_FORMATS);

// The session interface hands its format values straight to the writer.
static_assert((int)AudioFormat::WAV16 == OMBRELT_FORMAT_WAV16);
static_assert((int)AudioFormat::WAV24 == OMBRELT_FORMAT_WAV24);
static_assert((int)AudioFormat::WAV32F == OMBRELT_FORMAT_WAV32F);
static_assert((int)AudioFormat::FLAC16 == OMBRELT_FORMAT_FLAC16);
static_assert((int)AudioFormat::FLAC24 == OMBRELT_FORMAT_FLAC24);

}  // namespace

const char *audio_format_name(AudioFormat format) { return FORMATS[(int)format].name; }

const char *audio_format_extension(AudioFormat format) {
  return FORMATS[(int)format].extension;
}

int audio_format_from_name(const char *name, AudioFormat *format) {
  for (int f = 0; f < N_AUDIO_FORMATS; f++)
    if (name && std::strcmp(FORMATS[f].name, name) == 0) {
      *format = (AudioFormat)f;
      return 0;
    }
  return -1;
}
