"""Reading and writing the WAV files the tests compare (16-bit or float)."""

import struct
from pathlib import Path

import numpy as np


def write_float_wav(path: Path, samples: np.ndarray, rate: int) -> None:
    """samples: (frames, channels) float32, as a WAVE_FORMAT_IEEE_FLOAT file."""
    data = np.ascontiguousarray(samples, dtype="<f4").tobytes()
    channels = samples.shape[1]
    fmt = struct.pack("<HHIIHH", 3, channels, rate, rate * channels * 4, channels * 4, 32)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + data
    path.write_bytes(b"RIFF" + struct.pack("<I", len(body)) + body)


def read_wav(path: Path) -> "tuple[np.ndarray, int]":
    """The samples of a 16-bit PCM or 32-bit float WAV file, as float32
    (frames, channels), and its rate."""
    blob = Path(path).read_bytes()
    assert blob[:4] == b"RIFF" and blob[8:12] == b"WAVE", f"{path} is not a WAV file"
    at, fmt, data = 12, None, None
    while at + 8 <= len(blob):
        tag, size = blob[at : at + 4], struct.unpack("<I", blob[at + 4 : at + 8])[0]
        chunk = blob[at + 8 : at + 8 + size]
        if tag == b"fmt ":
            fmt = struct.unpack("<HHIIHH", chunk[:16])
        elif tag == b"data":
            data = chunk
        at += 8 + size + (size & 1)
    assert fmt is not None and data is not None, f"{path} lacks fmt or data"
    code, channels, rate, _, _, bits = fmt
    if code == 0xFFFE:  # WAVE_FORMAT_EXTENSIBLE: the sub-format's first two bytes
        fmt_chunk = blob[blob.index(b"fmt ") + 8 :]
        code = struct.unpack("<H", fmt_chunk[24:26])[0]
    if code == 3 and bits == 32:
        samples = np.frombuffer(data, dtype="<f4")
    elif code == 1 and bits == 16:
        samples = np.frombuffer(data, dtype="<i2").astype(np.float32) / 32768
    else:
        raise AssertionError(f"{path}: format {code}, {bits} bits")
    return samples.reshape(-1, channels), rate
