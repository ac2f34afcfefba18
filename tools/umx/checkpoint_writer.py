"""Writes state dicts in PyTorch's zip format without torch: what the
benchmark needs to hand its random-weight sets to the converter, and what the
tests build their damaged checkpoints from.

The pickle is emitted opcode by opcode (protocol 2, as torch writes it),
since its globals name torch's classes, which need not be importable here.
"""

import os
import struct
import zipfile
from dataclasses import dataclass

import numpy as np

from checkpoint_reader import STORAGE_DTYPES

_STORAGE_CLASS = {np.dtype(t): name for name, t in STORAGE_DTYPES.items()}


@dataclass
class TensorRecord:
    """One entry of the state dict pickle: a tensor over storage `key`."""
    name: str
    key: str
    storage_class: str  # e.g. "FloatStorage"
    numel: int  # elements of the storage
    offset: int
    size: tuple
    stride: tuple


def _int(v):
    if 0 <= v < 256:
        return b"K" + bytes([v])
    if 0 <= v < 65536:
        return b"M" + struct.pack("<H", v)
    if -2**31 <= v < 2**31:
        return b"J" + struct.pack("<i", v)
    raw = v.to_bytes((v.bit_length() + 8) // 8, "little", signed=True)
    return b"\x8a" + bytes([len(raw)]) + raw


def _str(s):
    raw = s.encode("utf-8")
    return b"X" + struct.pack("<I", len(raw)) + raw


def _tuple(values):
    return b"(" + b"".join(_int(v) for v in values) + b"t"


def _global(module, name):
    return b"c" + module.encode() + b"\n" + name.encode() + b"\n"


def state_dict_pickle(records):
    """The data.pkl of a state dict made of `records`."""
    out = [b"\x80\x02", _global("collections", "OrderedDict"), b")R("]
    for r in records:
        out += [_str(r.name), _global("torch._utils", "_rebuild_tensor_v2"), b"(",
                b"(", _str("storage"), _global("torch", r.storage_class), _str(r.key),
                _str("cpu"), _int(r.numel), b"tQ",
                _int(r.offset), _tuple(r.size), _tuple(r.stride), b"\x89",
                _global("collections", "OrderedDict"), b")R", b"tR"]
    out += [b"u."]
    return b"".join(out)


def write_zip(path, pickle_bytes, storages, top="archive"):
    """A zip checkpoint from a ready data.pkl and storage bytes by key."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        z.writestr(f"{top}/data.pkl", pickle_bytes)
        for key, data in storages.items():
            z.writestr(f"{top}/data/{key}", data)
        z.writestr(f"{top}/version", b"3\n")


def records_and_storages(arrays):
    """One storage per array, each array contiguous over the whole of it."""
    records, storages = [], {}
    for i, (name, array) in enumerate(arrays.items()):
        a = np.asarray(array)  # not ascontiguousarray: that makes scalars 1-D
        if not a.flags.c_contiguous:
            a = a.copy(order="C")
        le = a.astype(a.dtype.newbyteorder("<"), copy=False)
        key = str(i)
        stride, step = [], 1
        for n in reversed(a.shape):
            stride.insert(0, step)
            step *= n
        records.append(TensorRecord(name, key, _STORAGE_CLASS[a.dtype.newbyteorder("=")],
                                    a.size, 0, tuple(a.shape), tuple(stride)))
        storages[key] = le.tobytes()
    return records, storages


def write_checkpoint(path, arrays, top="archive"):
    """Writes the state dict `arrays` (name -> NumPy array) to `path`, under a
    temporary name first so that a stopped run leaves no file that looks
    whole."""
    records, storages = records_and_storages(arrays)
    tmp = path + ".part"
    try:
        write_zip(tmp, state_dict_pickle(records), storages, top)
        os.replace(tmp, path)
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)
