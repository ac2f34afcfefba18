// The stem file formats the command can write, by their names on the
// command line and the extensions of their files.
#pragma once

#include <string>

#include "ombrelt_session.h"

struct FileFormat {
  const char *name;       // as --format takes it
  ombrelt_format format;
  const char *extension;  // of the files the library writes in it
};

// The first format of each extension is the one an OUT name of that
// extension gets without --format.
inline constexpr FileFormat FILE_FORMATS[] = {
    {"wav16", OMBRELT_FORMAT_WAV16, ".wav"},   {"wav24", OMBRELT_FORMAT_WAV24, ".wav"},
    {"wav32f", OMBRELT_FORMAT_WAV32F, ".wav"}, {"flac", OMBRELT_FORMAT_FLAC16, ".flac"},
    {"flac24", OMBRELT_FORMAT_FLAC24, ".flac"},
};

// The format of a --format value, or nullptr.
const FileFormat *format_named(const std::string &name);
// The format a file name's extension stands for (case aside), or nullptr.
const FileFormat *format_of_extension(const std::string &path);
// "wav16, wav24, wav32f, flac or flac24", for messages.
std::string format_names();
// ".wav or .flac", for messages.
std::string format_extensions();
