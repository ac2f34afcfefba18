#!/usr/bin/python3
"""Converts one published stem-model checkpoint to the library's ONNX model.

    convert_checkpoint.py CHECKPOINT OUTPUT.onnx

CHECKPOINT is a PyTorch state dict in the legacy or the zip serialization;
the hidden size comes from its shapes. Every key of the network must be there
with its shape; other keys are passed over. The model is written under a
temporary name beside OUTPUT and renamed at the end, so OUTPUT appears whole
or not at all. Any fault ends in one line on stderr and exit status 1, with
nothing left behind.
"""
import os
import signal
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import layout  # noqa: E402
from checkpoint_reader import CheckpointError, read_state_dict  # noqa: E402
from stem_graph import build_stem_model  # noqa: E402

PROG = "convert_checkpoint"


class Failure(Exception):
    pass


def fail(path, key, message):
    raise Failure(f"{path}: {key}: {message}" if key else f"{path}: {message}")


def load_weights(path):
    try:
        return read_state_dict(path)
    except CheckpointError as e:
        fail(path, e.key, str(e))
    except OSError as e:
        fail(path, None, f"cannot read ({e.strerror or e})")


def build(path, weights):
    try:
        return build_stem_model(weights, graph_name=os.path.basename(path), producer=PROG)
    except layout.LayoutError as e:
        fail(path, e.key, str(e).split(": ", 1)[1])


def save_atomically(model, output):
    directory = os.path.dirname(os.path.abspath(output))
    try:
        fd, tmp = tempfile.mkstemp(dir=directory, prefix=f".{os.path.basename(output)}.",
                                   suffix=".part")
    except OSError as e:
        fail(output, None, f"cannot write ({e.strerror or e})")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(model.SerializeToString())
        # mkstemp makes the file private; the model is an ordinary file.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(tmp, 0o666 & ~umask)
        os.replace(tmp, output)
    except OSError as e:
        fail(output, None, f"cannot write ({e.strerror or e})")
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)


def convert(checkpoint, output):
    model = build(checkpoint, load_weights(checkpoint))
    save_atomically(model, output)
    return model


def _stop(signum, _frame):
    # Unwinds through the clean-up of the temporary file.
    raise SystemExit(128 + signum)


def main(argv):
    if len(argv) != 3:
        print(f"usage: {PROG}.py CHECKPOINT OUTPUT.onnx", file=sys.stderr)
        return 2
    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, _stop)
    try:
        convert(argv[1], argv[2])
    except Failure as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
