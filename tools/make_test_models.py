#!/usr/bin/python3
"""Makes the stem model sets used by the tests into the directory given as argv[1].

Each set is a directory holding the four stem model files (umxl_vocals.onnx,
umxl_other.onnx, umxl_bass.onnx, umxl_drums.onnx) unless its purpose is to
lack one. The models are tiny graphs on the tensor "spectrogram" of shape
[1, 2, 2049, 100]; none carries more than a few constants.

Sets:
  identity          output "estimate" equals the input
  zero              all zeros
  gain2             twice the input
  renamed_output    equals the input; output named differently again
  two_outputs       output 0 equals the input, output 1 is its negation
  layout            cumulative sums along frames, then channels: on an
                    all-ones input element (c, f, t) is (t + 1) * (c + 1)
  stem_gains        stem i multiplies by i + 1 (vocals 1 ... drums 4)
  nan_output        every output value is NaN
  fails_on_signal   a Reshape whose target shape grows by one frame when
                    the input holds anything but zeros: the warm-up on
                    silence passes, a real block fails in Run
  wrong_input_name  input named "mixture"
  wrong_shape       input of shape [1, 2, 2049, 50]
  short_output      output 0 has only the first 50 frames
  double_output     output 0 is a double tensor
  missing_bass      identity without umxl_bass.onnx
"""

import os
import shutil
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

STEM_FILES = ["umxl_vocals.onnx", "umxl_other.onnx", "umxl_bass.onnx", "umxl_drums.onnx"]
SHAPE = [1, 2, 2049, 100]
INPUT = "spectrogram"
OPSET = 17


def const(name, values, dtype):
    return numpy_helper.from_array(np.array(values, dtype=dtype), name=name)


def model(nodes, outputs, initializers=(), input_name=INPUT, input_shape=SHAPE):
    """outputs: list of (name, element type, shape)."""
    graph = helper.make_graph(
        nodes,
        "stem",
        [helper.make_tensor_value_info(input_name, TensorProto.FLOAT, input_shape)],
        [helper.make_tensor_value_info(n, t, s) for n, t, s in outputs],
        initializer=list(initializers),
    )
    m = helper.make_model(graph, producer_name="ombrelt-test-models",
                          opset_imports=[helper.make_opsetid("", OPSET)])
    onnx.checker.check_model(m, full_check=True)
    return m


def float_out(name="estimate", shape=SHAPE):
    return [(name, TensorProto.FLOAT, shape)]


def identity(output="estimate", input_name=INPUT, input_shape=SHAPE):
    return model([helper.make_node("Identity", [input_name], [output])],
                 float_out(output, input_shape), input_name=input_name, input_shape=input_shape)


def gain(g):
    return model([helper.make_node("Mul", [INPUT, "gain"], ["estimate"])], float_out(),
                 [const("gain", g, np.float32)])


def zero():
    return model([
        helper.make_node("Shape", [INPUT], ["shape"]),
        helper.make_node("ConstantOfShape", ["shape"], ["estimate"],
                         value=helper.make_tensor("value", TensorProto.FLOAT, [1], [0.0])),
    ], float_out())


def two_outputs():
    return model([
        helper.make_node("Identity", [INPUT], ["estimate"]),
        helper.make_node("Neg", [INPUT], ["negated"]),
    ], float_out("estimate") + float_out("negated"))


def layout():
    return model([
        helper.make_node("CumSum", [INPUT, "frame_axis"], ["by_frame"]),
        helper.make_node("CumSum", ["by_frame", "channel_axis"], ["estimate"]),
    ], float_out(), [const("frame_axis", 3, np.int64), const("channel_axis", 1, np.int64)])


def nan_output():
    return model([helper.make_node("Add", [INPUT, "nan"], ["estimate"])], float_out(),
                 [const("nan", np.nan, np.float32)])


def fails_on_signal():
    return model([
        helper.make_node("Abs", [INPUT], ["magnitude"]),
        helper.make_node("ReduceMax", ["magnitude"], ["peak"], keepdims=0),
        helper.make_node("Greater", ["peak", "silence"], ["loud"]),
        helper.make_node("Cast", ["loud"], ["extra_frame"], to=TensorProto.INT64),
        helper.make_node("Mul", ["extra_frame", "frame_step"], ["growth"]),
        helper.make_node("Add", ["block_shape", "growth"], ["target_shape"]),
        helper.make_node("Reshape", [INPUT, "target_shape"], ["estimate"]),
    ], float_out(), [
        const("silence", 0.0, np.float32),
        const("frame_step", [0, 0, 0, 1], np.int64),
        const("block_shape", SHAPE, np.int64),
    ])


def short_output():
    return model([helper.make_node("Slice", [INPUT, "starts", "ends", "axes"], ["estimate"])],
                 float_out(shape=SHAPE[:3] + [50]), [
                     const("starts", [0], np.int64),
                     const("ends", [50], np.int64),
                     const("axes", [3], np.int64),
                 ])


def double_output():
    return model([helper.make_node("Cast", [INPUT], ["estimate"], to=TensorProto.DOUBLE)],
                 [("estimate", TensorProto.DOUBLE, SHAPE)])


def same_for_all(make):
    return lambda stem: make()


SETS = {
    "identity": same_for_all(identity),
    "zero": same_for_all(zero),
    "gain2": same_for_all(lambda: gain(2.0)),
    "renamed_output": same_for_all(lambda: identity(output="separated_magnitude")),
    "two_outputs": same_for_all(two_outputs),
    "layout": same_for_all(layout),
    "stem_gains": lambda stem: gain(float(stem + 1)),
    "nan_output": same_for_all(nan_output),
    "fails_on_signal": same_for_all(fails_on_signal),
    "wrong_input_name": same_for_all(lambda: identity(input_name="mixture")),
    "wrong_shape": same_for_all(lambda: identity(input_shape=SHAPE[:3] + [50])),
    "short_output": same_for_all(short_output),
    "double_output": same_for_all(double_output),
    "missing_bass": same_for_all(identity),
}
MISSING = {"missing_bass": {"umxl_bass.onnx"}}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_test_models.py OUT_DIR")
    out = sys.argv[1]
    for name, make in SETS.items():
        set_dir = os.path.join(out, name)
        shutil.rmtree(set_dir, ignore_errors=True)
        os.makedirs(set_dir)
        for stem, file_name in enumerate(STEM_FILES):
            if file_name in MISSING.get(name, ()):
                continue
            onnx.save(make(stem), os.path.join(set_dir, file_name))


if __name__ == "__main__":
    main()
