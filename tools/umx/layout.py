"""The state dict of one stem model: its keys, their shapes and the sizes
they derive from. The converter checks checkpoints against it, the graph
builder and the benchmark generator take their sizes from it."""

from collections import OrderedDict

CHANNELS = 2
BINS = 2049  # bins of a 4096-point FFT
MAX_BIN = 1487  # bins below 16 kHz at 44.1 kHz: the only ones the network sees
FRAMES = 100  # frames of one model block
LSTM_LAYERS = 3
BN_EPS = 1e-5

UMXHQ_HIDDEN = 512
UMXL_HIDDEN = 1024

# The linear layer after the LSTM reads the LSTM's input (the skip
# connection) first and the LSTM's output second.
SKIP_FIRST = True

FLOAT_DTYPE = "float32"
# Kept by batch-norm for training only; present in every saved state dict.
COUNTER_SUFFIX = ".num_batches_tracked"


def _batch_norm(name, width):
    return [(f"{name}.weight", (width,)), (f"{name}.bias", (width,)),
            (f"{name}.running_mean", (width,)), (f"{name}.running_var", (width,)),
            (f"{name}{COUNTER_SUFFIX}", ())]


def expected_shapes(hidden):
    """Every key a checkpoint of hidden size `hidden` must hold, with its
    shape, in the order the network uses them."""
    units = hidden // 2  # per direction
    keys = [("input_mean", (MAX_BIN,)), ("input_scale", (MAX_BIN,)),
            ("fc1.weight", (hidden, CHANNELS * MAX_BIN))]
    keys += _batch_norm("bn1", hidden)
    for layer in range(LSTM_LAYERS):
        for suffix in ("", "_reverse"):
            keys += [(f"lstm.weight_ih_l{layer}{suffix}", (4 * units, hidden)),
                     (f"lstm.weight_hh_l{layer}{suffix}", (4 * units, units)),
                     (f"lstm.bias_ih_l{layer}{suffix}", (4 * units,)),
                     (f"lstm.bias_hh_l{layer}{suffix}", (4 * units,))]
    keys += [("fc2.weight", (hidden, 2 * hidden))]
    keys += _batch_norm("bn2", hidden)
    keys += [("fc3.weight", (CHANNELS * BINS, hidden))]
    keys += _batch_norm("bn3", CHANNELS * BINS)
    keys += [("output_scale", (BINS,)), ("output_mean", (BINS,))]
    return OrderedDict(keys)


def is_counter(key):
    return key.endswith(COUNTER_SUFFIX)


class LayoutError(Exception):
    """A state dict that lacks a key of the network or holds it with another
    shape or type."""

    def __init__(self, key, message):
        super().__init__(f"{key}: {message}")
        self.key = key


def _dims(shape):
    return "[" + ", ".join(str(n) for n in shape) + "]"


def hidden_size(weights):
    """H of the state dict `weights` (name -> array), found from fc1.weight,
    once every key of the network is there with its shape and type. Keys
    outside the network are passed over."""
    fc1 = weights.get("fc1.weight")
    if fc1 is None:
        raise LayoutError("fc1.weight", "missing")
    if fc1.ndim != 2 or fc1.shape[0] < 2 or fc1.shape[0] % 2:
        raise LayoutError("fc1.weight", f"shape {_dims(fc1.shape)}, expected "
                          f"[H, {CHANNELS * MAX_BIN}] with an even H")
    hidden = fc1.shape[0]
    for key, shape in expected_shapes(hidden).items():
        value = weights.get(key)
        if value is None:
            raise LayoutError(key, "missing")
        if tuple(value.shape) != shape:
            raise LayoutError(key, f"shape {_dims(value.shape)}, expected {_dims(shape)}")
        if not is_counter(key) and value.dtype != FLOAT_DTYPE:
            raise LayoutError(key, f"type {value.dtype}, expected {FLOAT_DTYPE}")
    return hidden
