// Audio input and output: decoding any input, or taking samples in memory,
// to 44.1 kHz stereo float, and the stem writer (stereo 44.1 kHz WAV or FLAC
// of several sample types).
#pragma once

#include <algorithm>
#include <cstdint>

#include "constants.h"

struct AVFormatContext;
struct yyjson_mut_doc;
struct AVStream;
struct AVCodecContext;

inline constexpr int MIN_DECODED_FRAMES = 4410;

// Describes the best audio stream of path from its container: a JSON object
// of "duration_s", "sample_rate", "channels", "codec" and "bitrate", into
// *doc (null when memory ran out; finish_json then says so). Returns 0, or
// -1 with "empty input path", "cannot open %s", "no stream info for %s" or
// "no audio stream in %s".
int probe_document(const char *path, yyjson_mut_doc **doc);

// Progress estimates stay below 1: the end of the input is reported by
// whoever reads it, not guessed.
inline constexpr double PROGRESS_CAP = 0.999;
// done / whole within [0, PROGRESS_CAP]; whole > 0.
inline double progress_fraction(double done, double whole) {
  return std::clamp(done / whole, 0.0, PROGRESS_CAP);
}

// The duration in seconds that the container states, else the one the
// stream states; 0 when neither does.
double stated_duration_s(const AVFormatContext *fmt, const AVStream *st);

// The best audio stream of one input, decoded on demand.
struct Decoder;

// Opens path and sets up its decoder and the conversion to stereo 44100 Hz.
// Returns null with the reason in g_err ("cannot open %s", "no stream info
// for %s", "no audio stream in %s", "no decoder for codec id %d", "decoder
// open failed", "resampler init failed", "oom").
Decoder *decoder_open(const char *path);
// Hands out the next stereo frames, at most max of them, into dst (2 * max
// floats, interleaved). Returns how many (less than max only at the end),
// 0 once the input is exhausted, or -1 with the reason in g_err: "oom (audio
// buffer)", "resample failed", and, as soon as the input ends with fewer than
// 4410 frames in all, "audio too short (%lld samples)".
int64_t decoder_read(Decoder *d, float *dst, int64_t max);
// The fraction of the input handed out so far, in [0, PROGRESS_CAP]: frames
// handed out against the stated duration, else bytes read against the
// input's size, else 0. Never decreases. Accepts null (0).
double decoder_progress(const Decoder *d);
// Releases everything; accepts null.
void decoder_close(Decoder *d);

// Interleaved float samples in the caller's memory, of any rate and channel
// count, handed out converted exactly as decoder_read converts a decoded
// file of them.
struct MemorySource;

// Checks the input and sets up the conversion; the samples are read in
// pieces as they are asked for, never copied whole, and must stay valid
// until memory_source_close. Returns null with the reason in g_err:
// "samples is null", "channels must be 1 to 64", "sample_rate must be 1000
// to 768000 Hz", "frames is negative", "frames * channels is too large",
// "resampler init failed", "oom".
MemorySource *memory_source_open(const float *samples, int64_t frames, int channels,
                                 int sample_rate);
// As decoder_read: up to max stereo frames into dst, 0 at the end, -1 with
// "oom (audio buffer)", "resample failed" or, at the end, "audio too short
// (%lld samples)".
int64_t memory_source_read(MemorySource *m, float *dst, int64_t max);
// Frames handed out against the converted length of the input, in
// [0, PROGRESS_CAP]. Accepts null (0).
double memory_source_progress(const MemorySource *m);
// Releases everything and keeps no pointer to the samples; accepts null.
void memory_source_close(MemorySource *m);

// The file formats of the stems, all stereo 44100 Hz. The values equal those
// of ombrelt_format in ombrelt_session.h (checked where the table is).
// Integer samples are the float clipped to [-1, 1] and rounded to the nearest
// step of 1/32767 (16-bit) or 1/8388607 (24-bit); WAV32F keeps the floats
// as they are. NaN becomes 0 in every format.
enum class AudioFormat { WAV16, WAV24, WAV32F, FLAC16, FLAC24 };
inline constexpr int N_AUDIO_FORMATS = 5;

// The format's name on the command line ("wav16", ..., "flac24") and its
// file extension without the dot ("wav" or "flac").
const char *audio_format_name(AudioFormat format);
const char *audio_format_extension(AudioFormat format);
// Finds the format of a name as audio_format_name gives it (exactly, case
// included). Returns 0 and sets *format, or -1 when no format has that name
// (or name is null).
int audio_format_from_name(const char *name, AudioFormat *format);

// A float sample as float files and stems in memory hold it: the value
// itself, beyond full scale too, except that NaN, which carries no level,
// becomes silence.
inline float float_sample(float x) { return x != x ? 0.0f : x; }

struct AVAudioFifo;

// State of one open stem file; fmt, st and enc are null while closed.
struct AudioOut {
  AVFormatContext *fmt;
  AVStream *st;
  AVCodecContext *enc;
  // Encoders that take frames of one fixed size only (FLAC): the samples
  // still short of a full frame. Null for the others.
  AVAudioFifo *pending;
  AudioFormat format;
  int64_t sent;  // samples handed to the encoder so far, the next frame's pts
};

// Creates path and writes the header of a stereo 44100 Hz file in `format`.
// Messages name shown_as when it is given (a file written under a temporary
// name is reported under the name it is meant to get), else path. They are
// "cannot open %s for writing", "cannot create <c> context for %s",
// "<c> header write failed for %s", "<c> muxer not available",
// "<encoder> encoder not available", "<e> encoder open failed" and "oom",
// where <c> is the container ("wav", "flac"), <encoder> the codec's name
// ("pcm_s16le", ..., "flac") and <e> the encoder family ("pcm", "flac").
// Nothing is left open after a failure.
int audio_out_open(AudioOut *w, const char *path, AudioFormat format,
                   const char *shown_as = nullptr);
// Appends `frames` interleaved stereo float frames, converted to the
// format's samples. Fails with "oom", "oom (frame)" (also for frames < 1),
// "<e> encode failed" or "<c> write failed". A failure leaves the writer
// open; audio_out_close still has to be called.
int audio_out_write(AudioOut *w, const float *interleaved, int frames);
// Completes the file and releases the writer. Does nothing when closed.
void audio_out_close(AudioOut *w);
// audio_out_close for a file that is meant to be kept: reports whether
// everything reached the file. Data still in the writer's buffers is written
// only here, so a full disk may show itself nowhere else. Returns 0 (also
// when closed already), or -1 with "<c> write failed"; the writer is closed
// either way.
int audio_out_finish(AudioOut *w);
