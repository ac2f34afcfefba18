#!/usr/bin/env python3
"""Separates a song into stems, then the same song from memory.

    python3 separate.py SONG OUT_DIR [MODELS]

MODELS is "default" (the set installed with the library), a fetched set's
name such as "umxhq", or a directory. Ctrl-C stops cleanly: no files left.
"""

import sys

import numpy as np

import ombrelt

song, out_dir = sys.argv[1], sys.argv[2]
models = sys.argv[3] if len(sys.argv) > 3 else "default"

info = ombrelt.probe(song)
print(f"{song}: {info['duration_s']:.1f} s, {info['sample_rate']} Hz, {info['channels']} channels")

with ombrelt.Separator(models) as separator:
    # Files: FLAC stems; a progress bar when tqdm is installed.
    result = separator.separate(song, out_dir, format="flac")
    for stem in ombrelt.OUTPUTS:
        print(f"{stem:>12}: {result[stem]}")
    print(f"{result['duration_s']:.1f} s of audio in {result['elapsed_s']:.1f} s")

    # Memory: one second of a 220 Hz tone at 48 kHz, mono, in; float arrays out.
    t = np.arange(48000) / 48000
    tone = (0.3 * np.sin(2 * np.pi * 220 * t)).astype(np.float32)
    stems = separator.separate_array(tone, 48000, stems=["vocals", "instrumental"], progress=False)
    for stem, samples in stems.items():
        peak = float(np.abs(samples).max())
        print(f"{stem:>12}: {samples.shape[0]} frames x {samples.shape[1]} at {ombrelt.STEM_RATE} Hz, peak {peak:.3f}")
