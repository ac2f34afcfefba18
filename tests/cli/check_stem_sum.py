#!/usr/bin/python3
"""check_stem_sum.py MIX.wav STEM_DIR
   check_stem_sum.py MIX.wav PART.wav...

Checks that the four stems written for MIX.wav into STEM_DIR (or the parts
named) add up to the mixture within 16-bit rounding, wherever the analysis
frames cover the signal."""
import os
import sys
import wave

import numpy as np


def read16(path):
    with wave.open(path, "rb") as w:
        assert (w.getsampwidth(), w.getnchannels(), w.getframerate()) == (2, 2, 44100), path
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
    return data.reshape(-1, 2).astype(np.float64)


mix_path = sys.argv[1]
base = os.path.splitext(os.path.basename(mix_path))[0]
mix = read16(mix_path)
if len(sys.argv) == 3 and os.path.isdir(sys.argv[2]):
    parts = [os.path.join(sys.argv[2], f"{base}_{s}.wav") for s in ("vocals", "other", "bass", "drums")]
else:
    parts = sys.argv[2:]
stems = [read16(p) for p in parts]
assert all(len(s) == len(mix) for s in stems), "a stem is not as long as the mixture"

# The decoder reads a sample m as m / 32768, the writer stores x as
# round(x * 32767): the mixture's own round trip is m * 32767 / 32768. Four
# stems (or fewer parts), each rounded once, add up to that within 4 x 0.5 steps, plus the
# single-precision error of the transforms (hundredths of a step).
expected = mix * 32767.0 / 32768.0
total = sum(stems)
# Frames cover the signal up to a multiple of the 1024-sample hop; the
# window's first and last 130 samples get too little weight to be kept.
covered = len(mix) // 1024 * 1024
inner = slice(131, covered - 131)
error = np.max(np.abs(total[inner] - expected[inner]))
assert np.max(np.abs(mix[inner])) > 1000, "the mixture is too quiet to show anything"
assert error <= 2.1, f"the stems differ from the mixture by {error} steps"
for s in stems:  # each stem carries part of the music, none is silent
    assert np.max(np.abs(s[inner])) > 100
print(f"stems add up to the mixture within {error:.3f} steps of 16 bits")
