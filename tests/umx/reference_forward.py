"""The forward pass of one stem model in NumPy, in double precision, written
step by step from the network's description and not from the graph builder:
what the converted models are checked against."""

import numpy as np

MAX_BIN = 1487
EPS = 1e-5


def _batch_norm(x, w, name):
    return ((x - w[f"{name}.running_mean"]) / np.sqrt(w[f"{name}.running_var"] + EPS)
            * w[f"{name}.weight"] + w[f"{name}.bias"])


def _sigmoid(x):
    return 1.0 / (1.0 + np.exp(-x))


def _lstm_direction(x, w, layer, suffix):
    """One direction of one layer over the frames of x [T, in]; gates in
    PyTorch's order input, forget, cell, output."""
    w_ih = w[f"lstm.weight_ih_l{layer}{suffix}"]
    w_hh = w[f"lstm.weight_hh_l{layer}{suffix}"]
    bias = w[f"lstm.bias_ih_l{layer}{suffix}"] + w[f"lstm.bias_hh_l{layer}{suffix}"]
    units = w_hh.shape[1]
    h = np.zeros(units)
    c = np.zeros(units)
    out = np.zeros((x.shape[0], units))
    frames = range(x.shape[0]) if suffix == "" else reversed(range(x.shape[0]))
    for t in frames:
        z = w_ih @ x[t] + w_hh @ h + bias
        i, f, g, o = (z[k * units:(k + 1) * units] for k in range(4))
        c = _sigmoid(f) * c + _sigmoid(i) * np.tanh(g)
        h = _sigmoid(o) * np.tanh(c)
        out[t] = h
    return out


def forward(weights, mix, skip_first=True):
    """mix: magnitudes [1, C, B, T]. Returns the estimate of the same shape,
    in float64."""
    w = {k: np.asarray(v, np.float64) for k, v in weights.items()}
    mix = np.asarray(mix, np.float64)
    _, channels, bins, frames = mix.shape
    # 1. the bins below 16 kHz, shifted and scaled per bin
    x = (mix[0, :, :MAX_BIN, :] + w["input_mean"][:, None]) * w["input_scale"][:, None]
    # 2. one feature vector per frame: channel 0's bins, then channel 1's
    x = x.transpose(2, 0, 1).reshape(frames, channels * MAX_BIN)
    x = np.tanh(_batch_norm(x @ w["fc1.weight"].T, w, "bn1"))
    # 3. three bidirectional layers, each fed the previous one's output
    y = x
    for layer in range(3):
        y = np.concatenate([_lstm_direction(y, w, layer, ""),
                            _lstm_direction(y, w, layer, "_reverse")], axis=1)
    x = np.concatenate([x, y] if skip_first else [y, x], axis=1)
    # 4.
    x = np.maximum(_batch_norm(x @ w["fc2.weight"].T, w, "bn2"), 0.0)
    x = _batch_norm(x @ w["fc3.weight"].T, w, "bn3").reshape(frames, channels, bins)
    # 5.
    x = np.maximum(x * w["output_scale"] + w["output_mean"], 0.0)
    return x.transpose(1, 2, 0)[None] * mix
