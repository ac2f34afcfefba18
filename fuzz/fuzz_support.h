// Pieces shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>

// An input path that does not exist: the operations judge their other
// arguments and then stop at "cannot open", before any work.
inline constexpr const char *MISSING_INPUT = "/nonexistent/ombrelt-fuzz/input.wav";

// Silences the media library's log, which would bury the fuzzer's own output.
void quiet_media_library();

// ombrelt_init with the identity test models; aborts when that fails.
void init_with_test_models();

// A path at which the bytes can be opened as a file: one memory file,
// rewritten on every call, reached through /proc/self/fd.
const char *bytes_as_file(const uint8_t *data, std::size_t size);

// The input as a C string: its bytes up to the first NUL, as a host that
// passes a C string would hand them over. Valid until the next call.
const char *bytes_as_text(const uint8_t *data, std::size_t size);

// A finding: prints what went wrong and aborts, so that libFuzzer keeps the
// input that did it.
[[noreturn]] void finding(const char *what, const char *detail);
