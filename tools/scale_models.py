#!/usr/bin/python3
"""Makes a model set whose stems come out louder or softer than they should.

    scale_models.py IN_DIR OUT_DIR G_VOCALS G_OTHER G_BASS G_DRUMS

Each umxl_<stem>.onnx of IN_DIR is copied to OUT_DIR with its output
multiplied by its gain. A set whose four magnitudes no longer add up to the
mixture, as a learned set's do not, shows what --sum-to-mix and --wiener
make of that (see the README).
"""
import os
import sys

import numpy as np
import onnx
from onnx import helper, numpy_helper

STEMS = ("vocals", "other", "bass", "drums")


def scale(src, dst, gain):
    model = onnx.load(src)
    out = model.graph.output[0].name
    before = out + "_unscaled"
    for node in model.graph.node:
        node.output[:] = [before if name == out else name for name in node.output]
    model.graph.initializer.append(numpy_helper.from_array(np.array(gain, np.float32), "gain"))
    model.graph.node.append(helper.make_node("Mul", [before, "gain"], [out]))
    onnx.checker.check_model(model)
    onnx.save(model, dst)


def main():
    if len(sys.argv) != 7:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    src, dst = sys.argv[1], sys.argv[2]
    os.makedirs(dst, exist_ok=True)
    for stem, gain in zip(STEMS, sys.argv[3:]):
        name = f"umxl_{stem}.onnx"
        scale(os.path.join(src, name), os.path.join(dst, name), float(gain))


if __name__ == "__main__":
    main()
