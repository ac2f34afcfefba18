/*
 * ombrelt.h: the C interface of tavrin-ombrelt, a music source separation
 * library. It splits a song into vocals, other, bass and drums stems, plus an
 * instrumental mix (other + bass + drums), written as 16-bit stereo 44.1 kHz
 * WAV files.
 *
 * Typical use:
 *
 *     const char *json;
 *     if (ombrelt_init("/path/to/models") != 0) {
 *         fprintf(stderr, "%s\n", ombrelt_last_error());
 *         return 1;
 *     }
 *     if (ombrelt_separate("song.flac", "stems", "[\"vocals\",\"instrumental\"]", &json) == 0)
 *         puts(json);    // {"vocals":"stems/song_vocals.wav",...}
 *     else
 *         fprintf(stderr, "%s\n", ombrelt_last_error());
 *     ombrelt_cleanup();
 *
 * Status: every operation returns 0 on success and -1 on failure; there are
 * no other codes. After a -1 the reason is a one-line message read with
 * ombrelt_last_error(). The message is not cleared at the start of a call,
 * only by a successful ombrelt_init() and at the end of a successful
 * separation, so it is meaningful right after a call that returned -1.
 *
 * Texts: every argument is a NUL-terminated byte string; paths are UTF-8.
 * The library keeps no pointer to an argument after a call returns. Every
 * text the library returns (version, error message, JSON result) is owned by
 * the library: never free or modify it.
 *
 * Threads: the library keeps one error text, one result text and one set of
 * work buffers per process, without locks. Calls must not overlap: call it
 * from one thread at a time, and read the error text and JSON result before
 * the next call. Only ombrelt_version() may be called concurrently with
 * anything. Inside a separation the library runs two stem models at once,
 * the second on a thread it starts and joins within the call; ONNX Runtime
 * adds one worker thread shared by all models, which sleeps while no model
 * runs. No thread of the library's runs between calls.
 *
 * Loading: nothing runs when the library is loaded or unloaded. Call
 * ombrelt_cleanup() before unloading it.
 */
#ifndef OMBRELT_H
#define OMBRELT_H

#if defined(_WIN32)
#  if defined(OMBRELT_BUILDING)
#    define OMBRELT_API __declspec(dllexport)
#  else
#    define OMBRELT_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define OMBRELT_API __attribute__((visibility("default")))
#else
#  define OMBRELT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Returns the library version, the static string "1.0.0".
 * May be called at any time, from any thread.
 */
OMBRELT_API const char *ombrelt_version(void);

/*
 * Returns the message of the most recent failure, or "" when none is set.
 * Never NULL. The text belongs to the library and stays valid until the next
 * failing call (or the next call that clears it: a successful ombrelt_init,
 * ombrelt_separate or ombrelt_mute). A successful ombrelt_probe leaves it as
 * it was.
 */
OMBRELT_API const char *ombrelt_last_error(void);

/*
 * Loads the four stem models from model_dir and warms each of them up.
 *
 * model_dir must hold umxl_vocals.onnx, umxl_other.onnx, umxl_bass.onnx and
 * umxl_drums.onnx, each an ONNX model with one float input "spectrogram" of
 * shape [1, 2, 2049, 100] and a float output 0 of the same shape. A '/' is
 * put between the directory and the file name unless model_dir already ends
 * in '/' or '\'.
 *
 * Returns 0 on success and clears the error text. Returns 0 at once, without
 * looking at model_dir, while already initialised (models are not reloaded).
 * Returns -1 on failure: "model_dir is empty" for NULL or "", or the runtime's
 * message behind a context such as "OrtCreateSession: " or
 * "warmup OrtRun: ". After a failure nothing stays loaded and init may be
 * called again.
 */
OMBRELT_API int ombrelt_init(const char *model_dir);

/*
 * Releases the models and the runtime. Harmless before ombrelt_init() and
 * when called twice. ombrelt_init() may be called again afterwards.
 */
OMBRELT_API void ombrelt_cleanup(void);

/*
 * Describes an audio file without decoding it. Needs no initialisation.
 *
 * On success returns 0 and points *json_out at a JSON object with, in order:
 *   "duration_s"  (real, seconds; 0 when the file states no duration),
 *   "sample_rate" (integer, Hz),
 *   "channels"    (integer),
 *   "codec"       (string, the codec's short name, e.g. "mp3"),
 *   "bitrate"     (integer, bits per second of the container; 0 if unknown).
 * The text belongs to the library and stays valid until the next successful
 * probe, separate or mute call.
 *
 * On failure returns -1 and leaves *json_out untouched. Messages include
 * "json_out is null", "empty input path", "cannot open <path>",
 * "no stream info for <path>" and "no audio stream in <path>".
 */
OMBRELT_API int ombrelt_probe(const char *path, const char **json_out);

/*
 * Separates in_path into stems written to out_dir. Needs ombrelt_init().
 *
 * in_path:    any audio (or video with audio) that FFmpeg can decode; at
 *             least 0.1 s long.
 * out_dir:    directory for the stems; created (one level) if missing.
 * stems_json: a JSON array of stem names: "vocals", "other", "bass", "drums"
 *             and "instrumental" (which stands for other, bass and drums).
 *             NULL or "" asks for all four stems. Unknown names and
 *             non-string elements are ignored.
 *
 * Writes <out_dir>/<base>_<stem>.wav for each requested stem, where <base> is
 * the input's file name without directory and extension, and
 * <base>_instrumental.wav whenever other, bass and drums are all requested.
 *
 * On success returns 0 and points *json_out at a JSON object with the path of
 * every written file (keys "vocals", "other", "bass", "drums",
 * "instrumental", in that order), then "duration_s", "chunks" and
 * "elapsed_s". The text belongs to the library (see ombrelt_probe).
 *
 * The stems are written under hidden temporary names in out_dir
 * (.<name>.<pid>.tmp) and get their names only once the whole separation has
 * succeeded. On failure returns -1, leaves *json_out untouched, removes every
 * temporary (and out_dir when the call made it) and leaves files that
 * already had the stems' names as they were. Messages include
 * "not initialized — call ombrelt_init first", "json_out is null",
 * "empty in_path or out_dir", a complaint about stems_json (checked before
 * the input is opened), the decoder's and the writer's messages.
 */
OMBRELT_API int ombrelt_separate(const char *in_path, const char *out_dir,
                                 const char *stems_json, const char **json_out);

/*
 * Removes the vocals or the accompaniment from in_path and writes what
 * remains to out_path (16-bit stereo WAV whatever its extension).
 * Needs ombrelt_init().
 *
 * mode "vocal":        removes the vocals; out_path receives the instrumental
 *                      mix, and <base>_other.wav, <base>_bass.wav and
 *                      <base>_drums.wav stay beside it.
 * mode "instrumental": removes the accompaniment; out_path receives the
 *                      vocals.
 * <base> is out_path's file name without directory and extension; the
 * intermediate files go to out_path's directory (the current directory when
 * out_path has none).
 *
 * On success returns 0 and points *json_out at a JSON object with the paths
 * of the stems that remain beside out_path, "duration_s", "chunks",
 * "elapsed_s", then "path" (out_path) and "mode". The text belongs to the
 * library (see ombrelt_probe).
 *
 * Nothing gets its name, out_path included, before the kept part has moved
 * onto out_path; on failure it is as with ombrelt_separate. Returns -1 then
 * and leaves *json_out untouched. Messages include
 * "not initialized — call ombrelt_init first", "json_out is null",
 * "empty path or mode", "mode must be 'vocal' or 'instrumental'",
 * "output path too long" and "cannot rename <from> -> <to>".
 */
OMBRELT_API int ombrelt_mute(const char *in_path, const char *out_path,
                             const char *mode, const char **json_out);

#ifdef __cplusplus
}
#endif

#endif /* OMBRELT_H */
