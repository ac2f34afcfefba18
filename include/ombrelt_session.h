/*
 * ombrelt_session.h: the session interface of tavrin-ombrelt, for hosts that
 * need more than ombrelt.h gives: several separations side by side, progress
 * and cancellation, audio already in memory, stems handed back in memory,
 * FLAC, 24-bit and float output, and stems that add up to the mixture.
 *
 * It is a library of its own, libtavrin-ombrelt-session (pkg-config
 * tavrin-ombrelt-session, CMake tavrin-ombrelt::session), on the same engine
 * as libtavrin-ombrelt: with the same models and options it writes the same
 * stems, sample for sample.
 *
 * Typical use:
 *
 *     char error[256];
 *     ombrelt_session_options so = {0};
 *     so.model_dir = "/path/to/models";
 *     ombrelt_session *s = ombrelt_session_open(&so, error, sizeof error);
 *     if (!s) { fprintf(stderr, "%s\n", error); return 1; }
 *
 *     ombrelt_input in = {0};
 *     in.path = "song.flac";
 *     ombrelt_separate_options o = {0};   // all stems, 16-bit WAV
 *     o.out_dir = "stems";
 *     o.format = OMBRELT_FORMAT_FLAC16;
 *     const char *json;
 *     if (ombrelt_session_separate(s, &in, &o, &json) == OMBRELT_SESSION_OK)
 *         puts(json);    // {"vocals":"stems/song_vocals.flac",...}
 *     else
 *         fprintf(stderr, "%s\n", ombrelt_session_last_error(s));
 *     ombrelt_session_close(s);
 *
 * Status: calls return OMBRELT_SESSION_OK (0), OMBRELT_SESSION_ERROR (-1) or,
 * for a separation that was cancelled, OMBRELT_SESSION_CANCELLED (-2). After
 * a failure the reason is a one-line message read with
 * ombrelt_session_last_error(); it is "cancelled" after a cancellation.
 *
 * Ownership: every argument is a NUL-terminated byte string (paths UTF-8) or
 * a struct the caller owns; the library keeps no pointer to any of them after
 * the call returns. Texts the library returns (version, error message, JSON
 * result) belong to the library: never free or modify them. Stems handed
 * back in memory belong to the caller, who frees them with
 * ombrelt_session_free_stems().
 *
 * Structs: a struct filled with zeros asks for every default; set only the
 * members you need. A NULL options pointer means the defaults too.
 *
 * Threads: a session is used by one thread at a time: calls on one session
 * must not overlap, and its texts are valid until the next call on it. Calls
 * on different sessions are independent and may run at the same time on
 * different threads. ombrelt_session_cancel() is the exception: any thread
 * may call it at any time while the session is open. ombrelt_session_version()
 * may be called at any time from any thread. The progress callback runs on
 * the thread that made the call. A session whose `threads` option is 0 runs
 * two stem models at once (one on a thread it starts and joins within the
 * call) on one pool of ONNX Runtime threads that all such sessions of the
 * process share; with `threads` = n it keeps at most n threads busy of its
 * own. No thread of the library's runs between calls.
 *
 * Loading: nothing runs when the library is loaded or unloaded. Close every
 * session before unloading it.
 */
#ifndef OMBRELT_SESSION_H
#define OMBRELT_SESSION_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(OMBRELT_BUILDING)
#    define OMBRELT_SESSION_API __declspec(dllexport)
#  else
#    define OMBRELT_SESSION_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define OMBRELT_SESSION_API __attribute__((visibility("default")))
#else
#  define OMBRELT_SESSION_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. */
#define OMBRELT_SESSION_OK 0
#define OMBRELT_SESSION_ERROR (-1)
#define OMBRELT_SESSION_CANCELLED (-2)

/* The outputs of a separation, as bits: the four stems and the instrumental
 * mix (other + bass + drums). */
#define OMBRELT_OUTPUT_VOCALS 1u
#define OMBRELT_OUTPUT_OTHER 2u
#define OMBRELT_OUTPUT_BASS 4u
#define OMBRELT_OUTPUT_DRUMS 8u
#define OMBRELT_OUTPUT_INSTRUMENTAL 16u
#define OMBRELT_OUTPUT_STEMS 15u /* the four stems */
#define OMBRELT_OUTPUT_ALL 31u   /* the four stems and the instrumental mix */
/* The number of outputs, and the index of each in ombrelt_stems.data:
 * vocals 0, other 1, bass 2, drums 3, instrumental 4 (bit 1 << index). */
#define OMBRELT_OUTPUT_COUNT 5

/* Formats of stem files: stereo 44.1 kHz, of these sample types. Integer
 * samples are the float value clipped to [-1, 1] and rounded to the nearest
 * step of 1/32767 (16-bit) or 1/8388607 (24-bit); float files hold the
 * values themselves. NaN is written as 0 in every format. */
typedef enum ombrelt_format {
  OMBRELT_FORMAT_WAV16 = 0, /* 16-bit PCM WAV (the default), "<base>_<stem>.wav" */
  OMBRELT_FORMAT_WAV24 = 1, /* 24-bit PCM WAV, ".wav" */
  OMBRELT_FORMAT_WAV32F = 2, /* 32-bit float WAV, ".wav" */
  OMBRELT_FORMAT_FLAC16 = 3, /* 16-bit FLAC, ".flac" */
  OMBRELT_FORMAT_FLAC24 = 4  /* 24-bit FLAC, ".flac" */
} ombrelt_format;

/* ---- sessions ------------------------------------------------------------ */

typedef struct ombrelt_session ombrelt_session;

typedef struct ombrelt_session_options {
  /* Directory of the four stem models umxl_vocals.onnx, umxl_other.onnx,
   * umxl_bass.onnx and umxl_drums.onnx (the same models as ombrelt_init
   * takes). NULL or "" opens a session without models, which can probe but
   * not separate. */
  const char *model_dir;
  /* 0: the default, two models at once on the process-wide pool of two
   * ONNX Runtime threads. n >= 1: at most n threads of this session's own
   * (two models at once from n = 2 on, the threads divided between them);
   * for n sessions side by side on c cores, give each c / n. At most 64. */
  int threads;
} ombrelt_session_options;

/*
 * Returns the library version, a static string. Any time, any thread.
 */
OMBRELT_SESSION_API const char *ombrelt_session_version(void);

/*
 * Opens a session: loads the four models of options->model_dir and warms
 * each of them up. options NULL opens a session without models.
 *
 * Returns the session, or NULL on failure with the reason written into
 * error (error_size bytes, always NUL-terminated; error may be NULL, then
 * error_size is ignored). Reasons are those of ombrelt_init ("OrtCreateSession:
 * ...", "warmup OrtRun: ...") and "threads must be 0 to 64", "oom".
 * Thread-safe: sessions may be opened from several threads at once.
 */
OMBRELT_SESSION_API ombrelt_session *ombrelt_session_open(const ombrelt_session_options *options,
                                                          char *error, size_t error_size);

/*
 * Closes the session and releases its models, buffers and texts. NULL is
 * accepted and ignored. Must not overlap another call on the same session
 * (ombrelt_session_cancel included).
 */
OMBRELT_SESSION_API void ombrelt_session_close(ombrelt_session *session);

/*
 * Returns the message of the session's most recent failure, or "" when its
 * last call succeeded. Never NULL; "session is null" for a NULL session.
 * Valid until the next call on the session.
 */
OMBRELT_SESSION_API const char *ombrelt_session_last_error(const ombrelt_session *session);

/*
 * Describes an audio file without decoding it; the same JSON object as
 * ombrelt_probe ("duration_s", "sample_rate", "channels", "codec",
 * "bitrate"). Works on a session without models.
 * Returns OMBRELT_SESSION_OK and points *json_out at the text (valid until
 * the next call on the session), or OMBRELT_SESSION_ERROR ("session is null",
 * "json_out is null", "empty input path", "cannot open <path>", ...).
 */
OMBRELT_SESSION_API int ombrelt_session_probe(ombrelt_session *session, const char *path,
                                              const char **json_out);

/* Levels of the media library's own log lines (FFmpeg writes them to
 * stderr: warnings about damaged input, guessed durations and the like). */
#define OMBRELT_LOG_QUIET 0
#define OMBRELT_LOG_ERRORS 1
#define OMBRELT_LOG_WARNINGS 2
#define OMBRELT_LOG_INFO 3 /* FFmpeg's own default */

/*
 * Sets how much of FFmpeg's own logging reaches stderr, for the whole
 * process (FFmpeg keeps one level, shared with any other user of it in the
 * process). Levels outside 0 to 3 are clamped. Call it once at start,
 * before any separation runs: FFmpeg reads the level without a lock.
 */
OMBRELT_SESSION_API void ombrelt_session_set_log_level(int level);

/* ---- separation ---------------------------------------------------------- */

/* The input of a separation: a file, or interleaved float samples in
 * memory. Exactly one of path and samples is set. */
typedef struct ombrelt_input {
  /* Any audio (or video with audio) FFmpeg can decode. */
  const char *path;
  /* frames * channels floats, channel fastest, nominally in [-1, 1]. The
   * samples are converted to stereo 44.1 kHz the way a decoded file is.
   * frames: at least as many as make 0.1 s at 44.1 kHz; channels: 1 to 64;
   * sample_rate: 1000 to 768000 Hz. */
  const float *samples;
  int64_t frames;
  int channels;
  int sample_rate;
} ombrelt_input;

/*
 * Called after every chunk of a separation (about 1.7 s of audio) with the
 * fraction done, from 0 up, and once with 1.0 when the call has succeeded.
 * For a file input the fraction is an estimate from the container's duration
 * (or, without one, from the bytes read). Runs on the calling thread. A
 * non-zero return cancels the separation (ignored at 1.0, when everything
 * is done).
 */
typedef int (*ombrelt_progress_fn)(double fraction, void *user_data);

typedef struct ombrelt_separate_options {
  /* OMBRELT_OUTPUT_* bits; 0 asks for all five. The models run are the ones
   * the outputs need (instrumental alone runs other, bass and drums). */
  unsigned outputs;
  /* The file format (files only); 0 is 16-bit WAV. */
  ombrelt_format format;
  /* Non-zero: every time-frequency bin of the mixture is shared out between
   * the four stems in proportion to the models' magnitudes, so that the
   * stems add up to the mixture (all four models run). 0: each stem is its
   * model's magnitude on its own, as ombrelt_separate does. */
  int sum_to_mix;
  /* Non-zero: the stems are further refined by one iteration of a
   * multichannel Wiener filter, which also uses where each stem lies between
   * the two channels; they still add up to the mixture (all four models
   * run; implies sum_to_mix). On the demo song with the default models it
   * adds about 1.5 dB SDR to the vocals and the instrumental mix, at about
   * 1.4 times the time. */
  int wiener;
  ombrelt_progress_fn progress; /* NULL: no progress reports */
  void *progress_user_data;     /* handed to progress as is */

  /* Files only: the stems go to <out_dir>/<base_name>_<output>.<ext>.
   * out_dir is created (one level) when missing. base_name NULL or "" takes
   * the input file's name without directory and extension; it must be set
   * for samples in memory. */
  const char *out_dir;
  const char *base_name;
  /* Files only: one output bit (or 0) whose file goes to `path` instead of
   * out_dir, under exactly that name whatever its extension says. out_dir
   * may then be NULL: it defaults to path's directory. */
  unsigned path_output;
  const char *path;
} ombrelt_separate_options;

/*
 * Separates input into stem files as options say.
 *
 * On success returns OMBRELT_SESSION_OK and points *json_out at a JSON
 * object with the path of every file written ("vocals", "other", "bass",
 * "drums", "instrumental" in that order, the path_output one included under
 * its own key), then "duration_s", "chunks", "elapsed_s", "format" (e.g.
 * "flac16"), "sum_to_mix" and "wiener" (true or false). Valid until the
 * next call on the session.
 *
 * Files are written under hidden temporary names (.<name>.<pid>.tmp) and
 * get their names only when the whole separation has succeeded: a failure
 * or a cancellation removes every temporary (and out_dir when the call made
 * it) and leaves files that already had those names as they were.
 *
 * Returns OMBRELT_SESSION_ERROR with the message, e.g. "session is null",
 * "session has no models", "input is null", "set exactly one of input path
 * and samples", "json_out is null", "out_dir is empty", "base_name is needed
 * for samples in memory", "unknown outputs", "unknown format", the decoder's
 * and the writer's messages; or OMBRELT_SESSION_CANCELLED ("cancelled").
 * Either way the session stays usable.
 */
OMBRELT_SESSION_API int ombrelt_session_separate(ombrelt_session *session,
                                                 const ombrelt_input *input,
                                                 const ombrelt_separate_options *options,
                                                 const char **json_out);

/* Stems handed back in memory: data[i] holds frames * 2 floats, interleaved
 * stereo at 44.1 kHz, for output i (see OMBRELT_OUTPUT_COUNT), or is NULL
 * when that output was not asked for. The values are those a 32-bit float
 * file of the same separation holds. */
typedef struct ombrelt_stems {
  int64_t frames;
  int channels;    /* 2 */
  int sample_rate; /* 44100 */
  float *data[OMBRELT_OUTPUT_COUNT];
} ombrelt_stems;

/*
 * Separates input into stems in memory; the file members of options
 * (format, out_dir, base_name, path_output, path) are ignored.
 *
 * On success returns OMBRELT_SESSION_OK and points *stems_out at the stems,
 * which the caller frees with ombrelt_session_free_stems(); json_out, when
 * not NULL, receives {"duration_s":..,"chunks":..,"elapsed_s":..,
 * "sum_to_mix":..,"wiener":..} (valid until the next call on the session).
 * On failure or cancellation *stems_out is set to NULL; messages as for
 * ombrelt_session_separate, and "stems_out is null", "oom (stems)".
 */
OMBRELT_SESSION_API int ombrelt_session_separate_to_memory(ombrelt_session *session,
                                                           const ombrelt_input *input,
                                                           const ombrelt_separate_options *options,
                                                           ombrelt_stems **stems_out,
                                                           const char **json_out);

/* Frees stems returned by ombrelt_session_separate_to_memory(); NULL is
 * accepted. Any thread; needs no session. */
OMBRELT_SESSION_API void ombrelt_session_free_stems(ombrelt_stems *stems);

/*
 * Cancels the separation running on session, if any, at its next chunk:
 * the call returns OMBRELT_SESSION_CANCELLED and leaves no stem behind. A
 * cancel while no separation runs has no effect on later calls. Any thread,
 * any time while the session is open; async-signal-safe, so a SIGINT
 * handler may call it. NULL is ignored.
 */
OMBRELT_SESSION_API void ombrelt_session_cancel(ombrelt_session *session);

#ifdef __cplusplus
}
#endif

#endif /* OMBRELT_SESSION_H */
