#!/usr/bin/python3
"""Writes model blocks and the outputs the reference forward pass computes
for them, for the check of converted checkpoints in tests/runtime.

    make_expected_blocks.py CHECKPOINT OUT_DIR

OUT_DIR gets <case>.input.f32 and <case>.expected.f32 (one block each, raw
float32, the model tensor's layout) and cases.txt naming the cases.
"""
import os
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "..", "tools", "umx")]

from checkpoint_reader import read_state_dict  # noqa: E402
import layout  # noqa: E402
import reference_forward  # noqa: E402

SHAPE = (1, layout.CHANNELS, layout.BINS, layout.FRAMES)


def music_like(seed, zero_share, loud):
    """Magnitudes falling with frequency as in music, some of them zero; the
    loud case adds peaks far above the rest."""
    rng = np.random.default_rng(seed)
    level = 200.0 / (1.0 + np.arange(layout.BINS) / 40.0)
    x = np.abs(rng.standard_normal(SHAPE)) * level[None, None, :, None]
    x[rng.random(SHAPE) < zero_share] = 0.0
    if loud:
        x *= 100.0
        peaks = rng.random(SHAPE) < 0.001
        x[peaks] = rng.uniform(1e5, 1e6, int(peaks.sum()))
    return x


CASES = {
    "silence": lambda: np.zeros(SHAPE),
    "music_1": lambda: music_like(1, 0.0, False),
    "music_2": lambda: music_like(2, 0.2, False),
    "loud_3": lambda: music_like(3, 0.05, True),
}


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_expected_blocks.py CHECKPOINT OUT_DIR")
    weights = read_state_dict(sys.argv[1])
    out = sys.argv[2]
    os.makedirs(out, exist_ok=True)
    for name, make in CASES.items():
        block = make().astype(np.float32)
        expected = reference_forward.forward(weights, block, layout.SKIP_FIRST)
        block.tofile(os.path.join(out, f"{name}.input.f32"))
        expected.astype(np.float32).tofile(os.path.join(out, f"{name}.expected.f32"))
    with open(os.path.join(out, "cases.txt"), "w") as f:
        f.write("".join(f"{name}\n" for name in CASES))


if __name__ == "__main__":
    main()
