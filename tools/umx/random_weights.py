"""Random state dicts of a stem model, in the ranges trained weights have:
linear layers scaled by their fan-in, batch-norm gains near one with small
shifts and statistics, recurrent weights uniform in +-1/sqrt(units) as a
fresh LSTM starts, and an input normalisation that brings music magnitudes
(a few hundred at the low bins) near unit size. They separate nothing, but
every layer does the work it does in a trained model."""

from collections import OrderedDict

import numpy as np

import layout


def _tensor(rng, key, shape):
    if key == "input_mean":  # stored negated
        return -0.01 * np.abs(rng.standard_normal(shape))
    if key == "input_scale":  # stored as a reciprocal
        return 0.05 * (1.0 + 0.1 * rng.standard_normal(shape))
    if key == "output_scale":
        return 1.0 + 0.1 * rng.standard_normal(shape)
    if key == "output_mean":
        return 0.1 * rng.standard_normal(shape)
    if key.startswith("fc"):
        return rng.normal(0.0, 1.0 / np.sqrt(shape[1]), shape)
    if key.startswith("lstm."):
        bound = 1.0 / np.sqrt(shape[0] // 4)
        return rng.uniform(-bound, bound, shape)
    stat = key.rsplit(".", 1)[1]
    if stat == "weight":
        return 1.0 + 0.1 * rng.standard_normal(shape)
    if stat in ("bias", "running_mean"):
        return 0.1 * rng.standard_normal(shape)
    if stat == "running_var":
        return 1.0 + 0.1 * np.abs(rng.standard_normal(shape))
    raise KeyError(key)


def random_state_dict(seed, hidden):
    """Every key of a stem model of hidden size `hidden`, float32 (the
    batch-norm counters int64), the same for the same seed."""
    rng = np.random.default_rng(seed)
    weights = OrderedDict()
    for key, shape in layout.expected_shapes(hidden).items():
        if layout.is_counter(key):
            weights[key] = np.array(0, np.int64)
        else:
            weights[key] = _tensor(rng, key, shape).astype(np.float32)
    return weights
