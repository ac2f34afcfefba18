#!/usr/bin/python3
"""Checks the default stem models against the model contract: one float
input "spectrogram" of shape [1, 2, 2049, 100], a float output 0 of the same
shape, and no large constant inside (they are signal processing, not
weights)."""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, numpy_helper

SHAPE = [1, 2, 2049, 100]
LARGEST_CONSTANT = 2049  # the per-bin band weights

models_dir = sys.argv[1]
for stem in ("vocals", "other", "bass", "drums"):
    path = os.path.join(models_dir, f"umxl_{stem}.onnx")
    model = onnx.load(path)
    onnx.checker.check_model(model, full_check=True)
    graph = model.graph

    def signature(value):
        t = value.type.tensor_type
        return value.name, t.elem_type, [d.dim_value for d in t.shape.dim]

    inputs = [signature(v) for v in graph.input]
    assert inputs == [("spectrogram", TensorProto.FLOAT, SHAPE)], (path, inputs)
    _, out_type, out_shape = signature(graph.output[0])
    assert (out_type, out_shape) == (TensorProto.FLOAT, SHAPE), (path, out_type, out_shape)
    for init in graph.initializer:
        size = int(np.prod(numpy_helper.to_array(init).shape))
        assert size <= LARGEST_CONSTANT, f"{path}: constant {init.name} has {size} values"
print("default models meet the contract")
