// The library frame: process-wide state shared by every export, the one
// error message, the one result text, and the path helpers.
#pragma once

#include <cstddef>

struct yyjson_mut_doc;

inline constexpr std::size_t ERR_SIZE = 1024;
inline constexpr std::size_t JSON_SINK_SIZE = 8192;
inline constexpr std::size_t BASE_NAME_SIZE = 512;
inline constexpr std::size_t DIR_PART_SIZE = 1024;

// 1 while the stem models are loaded (set by ombrelt_init, cleared by cleanup).
extern int g_ready;
// Message of the most recent failure; emptied only by a successful init and
// at the successful end of a separation.
extern char g_err[ERR_SIZE];
// JSON text of the most recent successful probe, separate or mute.
extern char g_json_sink[JSON_SINK_SIZE];

// Formats the failure message into the calling thread's message buffer (g_err
// unless an ErrorTarget is in force), cut at 1023 characters. Pass fixed
// messages as the format and caller data only as arguments.
void set_err(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Empties the calling thread's message buffer.
void clear_err();

// While one lives, set_err and clear_err on this thread write into buffer
// (ERR_SIZE bytes) instead of g_err: a session's calls report into the
// session's own message, whatever thread they run on. Scopes nest.
class ErrorTarget {
 public:
  explicit ErrorTarget(char *buffer);
  ~ErrorTarget();
  ErrorTarget(const ErrorTarget &) = delete;
  ErrorTarget &operator=(const ErrorTarget &) = delete;

 private:
  char *previous_;
};

// Serialises doc (may be null) into a new text that the caller frees with
// free(). Always frees doc. Returns null with "json build failed".
char *write_json(yyjson_mut_doc *doc);

// Serialises doc (may be null) into g_json_sink and points *json_out at it.
// Always frees doc. Returns 0, or -1 with "json build failed" / "json too long".
int finish_json(yyjson_mut_doc *doc, const char **json_out);

// Writes dir + '/' + name into dst (size bytes), without a second separator
// when dir already ends in '/' or '\'. Cut silently at size - 1 characters.
void join_path(char *dst, std::size_t size, const char *dir, const char *name);

// The last '/' or '\' of path, or null when it has neither.
const char *last_separator(const char *path);

// Writes the file name of path, without directory and last extension, into
// out (BASE_NAME_SIZE bytes). A leading dot is kept: ".hidden" stays.
void base_name(const char *path, char *out);

// Writes the directory part of path into dir (DIR_PART_SIZE bytes): "." when
// it has none or when its only separator is the first character. Returns -1
// when it does not fit.
int directory_of(const char *path, char *dir);
