// The stem vocabulary of the library and of the ombrelt command: the four
// stems in their fixed order, the instrumental mix after them, and what each
// is called in a stem list, in a result, in a file name and in the model
// directory. Plain constants only: a host may include it without linking
// the library.
#pragma once

// The separated stems; index i names the same stem in every table and in
// the runtime's sessions.
enum Stem { STEM_VOCALS, STEM_OTHER, STEM_BASS, STEM_DRUMS, N_STEMS };

// The files of a separation, in the order in which they are written and
// reported: the four stems, then their accompaniment other + bass + drums.
enum Output { OUT_VOCALS, OUT_OTHER, OUT_BASS, OUT_DRUMS, OUT_INSTRUMENTAL, N_OUTPUTS };

// The name of each output: in stem lists, as a result member, and as the
// suffix of its file <base>_<name>.wav.
inline constexpr const char *OUTPUT_NAMES[N_OUTPUTS] = {"vocals", "other", "bass", "drums",
                                                        "instrumental"};
// The model file of each stem.
inline constexpr const char *STEM_FILES[N_STEMS] = {"umxl_vocals.onnx", "umxl_other.onnx",
                                                    "umxl_bass.onnx", "umxl_drums.onnx"};

// The stems whose sum is the instrumental mix, in the order of the sum.
inline constexpr Stem ACCOMPANIMENT[3] = {STEM_OTHER, STEM_BASS, STEM_DRUMS};
