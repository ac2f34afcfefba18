#!/usr/bin/python3
"""Makes the benchmark model set: four stem models of production size.

    make_bench_models.py OUT_DIR [--seed N]

writes OUT_DIR/umxl_{vocals,other,bass,drums}.onnx. The weights are random
(fixed seeds, one per stem), so the models separate nothing; what matters is
that each one does the work of a real open-unmix style stem model on every
block, so that timing and memory figures of a separation are those of
production:

  per frame, the magnitudes of the first 1487 bins (16 kHz) of both channels,
  shifted and scaled per bin (input mean and scale);
  linear 2974 -> 1024, batch-norm, tanh;
  three bidirectional LSTM layers, 512 units per direction;
  the LSTM output concatenated with its input (2048) -> linear 1024,
  batch-norm, ReLU;
  linear 1024 -> 2 x 2049, batch-norm, ReLU;
  the result multiplied with the input magnitudes.

About 28 million float32 parameters, roughly 110 MB per file. Batch-norm is
folded into the linear layers (a weight scale and a bias), which is what an
inference export does anyway; the multiply-adds are the same.

The tensor contract is the library's: input "spectrogram" float
[1, 2, 2049, 100] (channel, bin, frame), output 0 of the same shape.
"""
import argparse
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

STEMS = ("vocals", "other", "bass", "drums")
CHANNELS = 2
BINS = 2049
FRAMES = 100
MAX_BIN = 1487  # bins below 16 kHz at 44.1 kHz with a 4096-point FFT
HIDDEN = 512  # LSTM units per direction
FC = 2 * HIDDEN  # width of the linear layers around the LSTM
LSTM_LAYERS = 3
OPSET = 17


def linear_with_batch_norm(rng, fan_in, fan_out):
    """A bias-free linear layer followed by inference batch-norm, folded into
    one weight matrix and one bias."""
    weight = rng.normal(0.0, 1.0 / np.sqrt(fan_in), (fan_in, fan_out))
    gamma = 1.0 + 0.1 * rng.standard_normal(fan_out)
    beta = 0.1 * rng.standard_normal(fan_out)
    mean = 0.1 * rng.standard_normal(fan_out)
    var = 1.0 + 0.1 * np.abs(rng.standard_normal(fan_out))
    scale = gamma / np.sqrt(var + 1e-5)
    return (weight * scale).astype(np.float32), (beta - mean * scale).astype(np.float32)


def lstm_weights(rng, input_size):
    """W, R and B of one bidirectional ONNX LSTM layer, uniform in
    +-1/sqrt(hidden) as a freshly made recurrent layer would be."""
    bound = 1.0 / np.sqrt(HIDDEN)
    w = rng.uniform(-bound, bound, (2, 4 * HIDDEN, input_size))
    r = rng.uniform(-bound, bound, (2, 4 * HIDDEN, HIDDEN))
    b = rng.uniform(-bound, bound, (2, 8 * HIDDEN))
    return w.astype(np.float32), r.astype(np.float32), b.astype(np.float32)


def build_model(stem, seed):
    rng = np.random.default_rng(seed)
    inits = []
    nodes = []

    def const(name, array):
        inits.append(numpy_helper.from_array(np.asarray(array), name))
        return name

    def node(op, inputs, output, **attrs):
        nodes.append(helper.make_node(op, inputs, [output], name=output, **attrs))
        return output

    # Input normalisation, per bin (shape [bins, 1] broadcasts over frames).
    # Music magnitudes reach a few hundred at the low bins; the scale brings
    # them near unit size, as statistics of training data would.
    const("slice_starts", np.array([0], np.int64))
    const("slice_ends", np.array([MAX_BIN], np.int64))
    const("slice_axes", np.array([2], np.int64))
    const("input_mean", (-0.01 * np.abs(rng.standard_normal((MAX_BIN, 1)))).astype(np.float32))
    const("input_scale", (0.05 * (1.0 + 0.1 * rng.standard_normal((MAX_BIN, 1)))).astype(np.float32))
    x = node("Slice", ["spectrogram", "slice_starts", "slice_ends", "slice_axes"], "band")
    x = node("Add", [x, "input_mean"], "band_shifted")
    x = node("Mul", [x, "input_scale"], "band_scaled")
    # [1, ch, bin, frame] -> [frame, 1, ch * bin]: frames become the sequence.
    x = node("Transpose", [x], "band_frames", perm=[3, 0, 1, 2])
    const("shape_fc1_in", np.array([FRAMES, 1, CHANNELS * MAX_BIN], np.int64))
    x = node("Reshape", [x, "shape_fc1_in"], "fc1_in")

    w, b = linear_with_batch_norm(rng, CHANNELS * MAX_BIN, FC)
    x = node("MatMul", [x, const("fc1_w", w)], "fc1_mm")
    x = node("Add", [x, const("fc1_b", b)], "fc1_bn")
    fc1 = node("Tanh", [x], "fc1_out")

    const("shape_lstm_out", np.array([FRAMES, 1, 2 * HIDDEN], np.int64))
    x = fc1
    for layer in range(LSTM_LAYERS):
        w, r, b = lstm_weights(rng, FC if layer == 0 else 2 * HIDDEN)
        y = f"lstm{layer}_y"
        nodes.append(helper.make_node(
            "LSTM", [x, const(f"lstm{layer}_w", w), const(f"lstm{layer}_r", r),
                     const(f"lstm{layer}_b", b)],
            [y], name=y, hidden_size=HIDDEN, direction="bidirectional"))
        # [frame, direction, 1, hidden] -> [frame, 1, 2 * hidden]
        x = node("Transpose", [y], f"lstm{layer}_t", perm=[0, 2, 1, 3])
        x = node("Reshape", [x, "shape_lstm_out"], f"lstm{layer}_out")

    x = node("Concat", [fc1, x], "skip", axis=2)
    w, b = linear_with_batch_norm(rng, FC + 2 * HIDDEN, FC)
    x = node("MatMul", [x, const("fc2_w", w)], "fc2_mm")
    x = node("Add", [x, const("fc2_b", b)], "fc2_bn")
    x = node("Relu", [x], "fc2_out")

    w, b = linear_with_batch_norm(rng, FC, CHANNELS * BINS)
    x = node("MatMul", [x, const("fc3_w", w)], "fc3_mm")
    x = node("Add", [x, const("fc3_b", b)], "fc3_bn")
    const("shape_mask", np.array([FRAMES, 1, CHANNELS, BINS], np.int64))
    x = node("Reshape", [x, "shape_mask"], "mask_frames")
    x = node("Relu", [x], "mask_relu")
    x = node("Transpose", [x], "mask", perm=[1, 2, 3, 0])
    node("Mul", [x, "spectrogram"], "estimate")

    shape = [1, CHANNELS, BINS, FRAMES]
    graph = helper.make_graph(
        nodes, f"bench_{stem}",
        [helper.make_tensor_value_info("spectrogram", TensorProto.FLOAT, shape)],
        [helper.make_tensor_value_info("estimate", TensorProto.FLOAT, shape)],
        initializer=inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                              producer_name="make_bench_models")
    onnx.checker.check_model(model)
    params = sum(int(np.prod(t.dims)) for t in inits if t.data_type == TensorProto.FLOAT)
    return model, params


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out_dir")
    parser.add_argument("--seed", type=int, default=20240611)
    args = parser.parse_args()
    os.makedirs(args.out_dir, exist_ok=True)
    for i, stem in enumerate(STEMS):
        model, params = build_model(stem, args.seed + i)
        path = os.path.join(args.out_dir, f"umxl_{stem}.onnx")
        # Written under a temporary name first, so an interrupted run never
        # leaves a truncated model that looks finished.
        tmp = path + ".part"
        onnx.save(model, tmp)
        os.replace(tmp, path)
        print(f"{path}: {params / 1e6:.2f} M parameters, "
              f"{os.path.getsize(path) / 1e6:.1f} MB", file=sys.stderr)


if __name__ == "__main__":
    main()
