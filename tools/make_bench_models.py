#!/usr/bin/python3
"""Makes the benchmark model set: four stem models of the umxl size.

    make_bench_models.py OUT_DIR [--seed N] [--checkpoints]

writes OUT_DIR/umxl_{vocals,other,bass,drums}.onnx, or with --checkpoints
the same weights as PyTorch zip checkpoints OUT_DIR/umxl_{stem}.pth, which
tools/umx/convert_checkpoint.py turns into the same models. The weights are
random (fixed seeds, one per stem, ranges of trained weights: see
tools/umx/random_weights.py), so the models separate nothing; the models
are built by the converter's own graph builder (tools/umx/stem_graph.py),
so a separation's timing and memory figures are those of a converted
published set:

  per frame, the magnitudes of the first 1487 bins (16 kHz) of both channels,
  shifted and scaled per bin;
  linear 2974 -> 1024, batch-norm, tanh;
  three bidirectional LSTM layers, 512 units per direction;
  the LSTM's input and output side by side (2048) -> linear 1024,
  batch-norm, ReLU;
  linear 1024 -> 2 x 2049, batch-norm, scaled and shifted per bin, ReLU;
  the result multiplied with the input magnitudes.

About 28 million float32 parameters, roughly 113 MB per file.
"""
import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "umx"))

import onnx  # noqa: E402

import layout  # noqa: E402
from checkpoint_writer import write_checkpoint  # noqa: E402
from random_weights import random_state_dict  # noqa: E402
from stem_graph import build_stem_model, parameter_count  # noqa: E402

STEMS = ("vocals", "other", "bass", "drums")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out_dir")
    parser.add_argument("--seed", type=int, default=20240611)
    parser.add_argument("--checkpoints", action="store_true",
                        help="write PyTorch zip checkpoints (.pth) instead of ONNX models")
    args = parser.parse_args()
    os.makedirs(args.out_dir, exist_ok=True)
    for i, stem in enumerate(STEMS):
        weights = random_state_dict(args.seed + i, layout.UMXL_HIDDEN)
        if args.checkpoints:
            path = os.path.join(args.out_dir, f"umxl_{stem}.pth")
            write_checkpoint(path, weights, top=f"umxl_{stem}")
            what = "checkpoint"
        else:
            model = build_stem_model(weights, graph_name=f"bench_{stem}",
                                     producer="make_bench_models")
            path = os.path.join(args.out_dir, f"umxl_{stem}.onnx")
            # Written under a temporary name first, so an interrupted run never
            # leaves a truncated model that looks finished.
            tmp = path + ".part"
            onnx.save(model, tmp)
            os.replace(tmp, path)
            what = f"{parameter_count(model) / 1e6:.2f} M parameters"
        print(f"{path}: {what}, {os.path.getsize(path) / 1e6:.1f} MB", file=sys.stderr)


if __name__ == "__main__":
    main()
