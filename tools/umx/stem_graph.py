"""Builds the ONNX model of one stem from its state dict.

The model meets the library's contract: input "spectrogram", float
[1, 2, 2049, 100] (channel, bin, frame), output 0 of the same shape, the
stem's magnitude. Per frame it computes

  the first 1487 bins of both channels, shifted and scaled per bin;
  fc1 -> bn1 -> tanh (width H);
  three bidirectional LSTM layers (H/2 units per direction) over the frames;
  the LSTM's input and output side by side (2H) -> fc2 -> bn2 -> ReLU;
  fc3 -> bn3 (2 x 2049), scaled and shifted per bin, ReLU;
  times the input magnitudes.

Batch-norm is folded into the linear layer before it (a weight scale and a
bias), computed in double precision and rounded once.
"""

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

import layout

OPSET = 17
INPUT = "spectrogram"
OUTPUT = "estimate"

# PyTorch stacks the gates input, forget, cell, output; ONNX wants input,
# output, forget, cell.
_GATE_ORDER = (0, 3, 1, 2)


def _fold_batch_norm(weights, linear, bn):
    """(matrix [in, out], bias [out]) of linear -> batch-norm at inference."""
    w = weights[f"{linear}.weight"].astype(np.float64)
    scale = (weights[f"{bn}.weight"].astype(np.float64)
             / np.sqrt(weights[f"{bn}.running_var"].astype(np.float64) + layout.BN_EPS))
    bias = (weights[f"{bn}.bias"].astype(np.float64)
            - weights[f"{bn}.running_mean"].astype(np.float64) * scale)
    return (w.T * scale).astype(np.float32), bias.astype(np.float32)


def _onnx_gates(matrix, units):
    blocks = [matrix[g * units:(g + 1) * units] for g in range(4)]
    return np.concatenate([blocks[g] for g in _GATE_ORDER])


def _lstm_layer(weights, layer, units):
    """W, R and B of one bidirectional ONNX LSTM layer."""
    w, r, b = [], [], []
    for suffix in ("", "_reverse"):
        p = f"lstm.{{}}_l{layer}{suffix}"
        w.append(_onnx_gates(weights[p.format("weight_ih")], units))
        r.append(_onnx_gates(weights[p.format("weight_hh")], units))
        b.append(np.concatenate([_onnx_gates(weights[p.format("bias_ih")], units),
                                 _onnx_gates(weights[p.format("bias_hh")], units)]))
    return [np.stack(x).astype(np.float32) for x in (w, r, b)]


def build_stem_model(weights, graph_name="stem", producer="ombrelt-umx"):
    """The ONNX model of the state dict `weights` (name -> NumPy array).
    Raises layout.LayoutError when a key is missing or has the wrong shape."""
    hidden = layout.hidden_size(weights)
    units = hidden // 2
    C, B, M = layout.CHANNELS, layout.BINS, layout.MAX_BIN
    inits, nodes = [], []

    def const(name, array):
        inits.append(numpy_helper.from_array(np.asarray(array), name))
        return name

    def node(op, inputs, output, **attrs):
        nodes.append(helper.make_node(op, inputs, [output], name=output, **attrs))
        return output

    def f32(key, shape):
        return weights[key].astype(np.float32).reshape(shape)

    # Per-bin normalisation; [bins, 1] broadcasts over the frames.
    x = node("Slice", [INPUT, const("band_start", np.array([0], np.int64)),
                       const("band_end", np.array([M], np.int64)),
                       const("band_axis", np.array([2], np.int64))], "band")
    x = node("Add", [x, const("input_mean", f32("input_mean", (M, 1)))], "band_shifted")
    x = node("Mul", [x, const("input_scale", f32("input_scale", (M, 1)))], "band_scaled")
    # [1, channel, bin, frame] -> [frame, 1, channel * bin]: frames are the sequence.
    x = node("Transpose", [x], "band_frames", perm=[3, 0, 1, 2])
    x = node("Reshape", [x, const("fc1_in_shape", np.array([-1, 1, C * M], np.int64))], "fc1_in")

    w, b = _fold_batch_norm(weights, "fc1", "bn1")
    x = node("MatMul", [x, const("fc1_w", w)], "fc1_mm")
    x = node("Add", [x, const("fc1_b", b)], "fc1_bn")
    lstm_in = node("Tanh", [x], "fc1_out")

    lstm_out_shape = const("lstm_out_shape", np.array([-1, 1, hidden], np.int64))
    x = lstm_in
    for layer in range(layout.LSTM_LAYERS):
        w, r, b = _lstm_layer(weights, layer, units)
        y = f"lstm{layer}_y"
        nodes.append(helper.make_node(
            "LSTM", [x, const(f"lstm{layer}_w", w), const(f"lstm{layer}_r", r),
                     const(f"lstm{layer}_b", b)],
            [y], name=y, hidden_size=units, direction="bidirectional"))
        # [frame, direction, 1, units] -> [frame, 1, forward units then backward units]
        x = node("Transpose", [y], f"lstm{layer}_t", perm=[0, 2, 1, 3])
        x = node("Reshape", [x, lstm_out_shape], f"lstm{layer}_out")

    pair = [lstm_in, x] if layout.SKIP_FIRST else [x, lstm_in]
    x = node("Concat", pair, "skip", axis=2)
    w, b = _fold_batch_norm(weights, "fc2", "bn2")
    x = node("MatMul", [x, const("fc2_w", w)], "fc2_mm")
    x = node("Add", [x, const("fc2_b", b)], "fc2_bn")
    x = node("Relu", [x], "fc2_out")

    w, b = _fold_batch_norm(weights, "fc3", "bn3")
    x = node("MatMul", [x, const("fc3_w", w)], "fc3_mm")
    x = node("Add", [x, const("fc3_b", b)], "fc3_bn")
    x = node("Reshape", [x, const("mask_shape", np.array([-1, 1, C, B], np.int64))], "mask_frames")
    x = node("Mul", [x, const("output_scale", f32("output_scale", (B,)))], "mask_scaled")
    x = node("Add", [x, const("output_mean", f32("output_mean", (B,)))], "mask_shifted")
    x = node("Relu", [x], "mask_relu")
    x = node("Transpose", [x], "mask", perm=[1, 2, 3, 0])
    node("Mul", [x, INPUT], OUTPUT)

    shape = [1, C, B, layout.FRAMES]
    graph = helper.make_graph(
        nodes, graph_name,
        [helper.make_tensor_value_info(INPUT, TensorProto.FLOAT, shape)],
        [helper.make_tensor_value_info(OUTPUT, TensorProto.FLOAT, shape)],
        initializer=inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                              producer_name=producer)
    onnx.checker.check_model(model)
    return model


def parameter_count(model):
    return sum(int(np.prod(t.dims)) for t in model.graph.initializer
               if t.data_type == TensorProto.FLOAT)
