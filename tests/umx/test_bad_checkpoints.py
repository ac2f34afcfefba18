"""Damaged, foreign and hostile checkpoints through the converter: each one
ends in its one-line message and exit status 1, runs nothing and leaves no
model or temporary file behind. Every variant is made from the fixtures."""

import io
import os
import pickle
import pickletools
import re
import struct
import subprocess
import sys
import zipfile

import numpy as np
import pytest

from checkpoint_reader import read_state_dict
from checkpoint_writer import records_and_storages, state_dict_pickle, write_zip
from conftest import CONVERTER, LEGACY, ZIP

MARKER = "ran.txt"  # what the hostile pickles would create in the working directory


def fixture_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def legacy_pickle_ends():
    """Offsets where the five pickles of the legacy fixture end: magic,
    protocol, system info, state dict, storage keys."""
    f = io.BytesIO(fixture_bytes(LEGACY))
    ends = []
    for _ in range(5):
        for _op in pickletools.genops(f):
            pass
        ends.append(f.tell())
    return ends


def legacy_cut(part, delta):
    def make(path):
        data = fixture_bytes(LEGACY)
        end = len(data) if part == "end" else ([0] + legacy_pickle_ends())[part]
        with open(path, "wb") as f:
            f.write(data[:end + delta])
    return make


def legacy_with_pickle(index, replacement):
    """The legacy fixture with its pickle number `index` replaced."""
    def make(path):
        data = fixture_bytes(LEGACY)
        bounds = [0] + legacy_pickle_ends()
        with open(path, "wb") as f:
            f.write(data[:bounds[index]] + replacement + data[bounds[index + 1]:])
    return make


def legacy_first_count(change):
    def make(path):
        data = bytearray(fixture_bytes(LEGACY))
        at = legacy_pickle_ends()[4]
        (count,) = struct.unpack_from("<q", data, at)
        struct.pack_into("<q", data, at, change(count))
        with open(path, "wb") as f:
            f.write(data)
    return make


def raw(content):
    def make(path):
        with open(path, "wb") as f:
            f.write(content)
    return make


def zip_cut(length):
    return lambda path: raw(fixture_bytes(ZIP)[:length(len(fixture_bytes(ZIP)))])(path)


def zip_entries(edit):
    """The zip fixture with its entries passed through edit(name, bytes),
    which returns the new (name, bytes) or None to drop the entry."""
    def make(path):
        with zipfile.ZipFile(ZIP) as src, zipfile.ZipFile(path, "w") as dst:
            for name in src.namelist():
                entry = edit(name, src.read(name))
                if entry is not None:
                    dst.writestr(*entry)
    return make


def zip_flip_byte(path):
    # One byte inside a storage, past the local headers: the CRC no longer holds.
    data = bytearray(fixture_bytes(ZIP))
    with zipfile.ZipFile(ZIP) as z:
        info = z.getinfo("umx_h8_zip/data/4")
    data[info.header_offset + 200] ^= 0x40
    raw(bytes(data))(path)


def zip_with_pickle(pickle_bytes):
    return zip_entries(lambda name, data: (name, pickle_bytes if name.endswith("data.pkl")
                                           else data))


def rewritten(edit_arrays=None, edit_records=None, edit_storages=None):
    """The fixture's tensors written again by our writer, after the edits."""
    def make(path):
        arrays = read_state_dict(ZIP)
        if edit_arrays:
            edit_arrays(arrays)
        records, storages = records_and_storages(arrays)
        by_name = {r.name: r for r in records}
        if edit_records:
            edit_records(by_name)
        if edit_storages:
            edit_storages(by_name, storages)
        write_zip(path, state_dict_pickle(records), storages, top="vocals")
    return make


def global_call(module, name, argument):
    """A pickle that calls module.name(argument) when loaded."""
    return (b"\x80\x02c" + module.encode() + b"\n" + name.encode() + b"\n"
            + pickle.dumps(argument, protocol=2)[2:-1] + b"\x85R.")


class Hostile:
    """Pickles the way an attacker's object would: os.system of a command."""

    def __reduce__(self):
        return (os.system, (f"touch {MARKER}",))


TOUCH = global_call("os", "system", f"touch {MARKER}")
EVAL = global_call("builtins", "eval", f"open({MARKER!r}, 'w')")
REDUCE_TOUCH = pickle.dumps(Hostile(), protocol=2)  # names posix.system here
LOAD_FROM_BYTES = global_call("torch.storage", "_load_from_bytes", b"\x80\x02N.")


def drop(key):
    return lambda arrays: arrays.pop(key)


def replace(key, value):
    return lambda arrays: arrays.__setitem__(key, value)


def shorten_storage(key, elements):
    def edit(records, storages):
        storages[records[key].key] = storages[records[key].key][:4 * elements]
    return edit


def claim_shape(key, size, stride):
    def edit(records):
        records[key].size, records[key].stride = size, stride
    return edit


CASES = [
    # name, how the file is made, the message after "convert_checkpoint: bad.pth: "
    ("empty", raw(b""), "empty file"),
    ("text", raw(b"not a checkpoint at all\n"), r"corrupt magic number \(.*\)"),
    ("onnx_model", raw(b"\x08\x07\x12\x0fconvert_checkpoint"), r"corrupt magic number \(.*\)"),
    ("legacy_cut_in_magic", legacy_cut(1, -3), r"truncated file \(in the magic number\)"),
    ("legacy_cut_after_system_info", legacy_cut(3, 0),
     r"truncated file \(in the state dict pickle\)"),
    ("legacy_cut_in_state_dict", legacy_cut(3, 300),
     r"truncated file \(in the state dict pickle\)"),
    ("legacy_cut_in_key_list", legacy_cut(4, 5), r"truncated file \(in the storage key list\)"),
    ("legacy_cut_in_count", legacy_cut(5, 4), r"truncated file \(before storage \d+\)"),
    ("legacy_cut_in_last_storage", legacy_cut("end", -100),
     r"truncated file \(in storage \d+: \d+ of \d+ bytes\)"),
    ("legacy_wrong_magic", legacy_with_pickle(0, pickle.dumps(12345, protocol=2)),
     r"not a PyTorch checkpoint \(wrong magic number\)"),
    ("legacy_storage_shorter", legacy_first_count(lambda n: n - 1),
     r"storage \d+ holds \d+ elements, the file claims \d+"),
    ("zip_cut_in_first_entry", zip_cut(lambda n: 100),
     r"truncated or corrupt zip archive \(.*\)"),
    ("zip_cut_in_half", zip_cut(lambda n: n // 2), r"truncated or corrupt zip archive \(.*\)"),
    ("zip_cut_in_directory", zip_cut(lambda n: n - 10),
     r"truncated or corrupt zip archive \(.*\)"),
    ("zip_flipped_byte", zip_flip_byte, r"corrupt zip entry umx_h8_zip/data/4 \(.*CRC.*\)"),
    ("zip_without_data_pkl",
     zip_entries(lambda name, data: None if name.endswith("data.pkl") else (name, data)),
     r"zip archive without data.pkl"),
    ("zip_without_a_storage",
     zip_entries(lambda name, data: None if name.endswith("/data/7") else (name, data)),
     r"storage 7 is missing from the archive"),
    ("zip_pickle_of_a_list", zip_with_pickle(pickle.dumps([1, 2], protocol=2)),
     r"not a state dict \(a pickled list\)"),
    ("storage_shorter_than_tensor", rewritten(edit_storages=shorten_storage("fc2.weight", 100)),
     r"fc2.weight: storage \d+ holds 100 elements, the file claims 128"),
    ("shape_beyond_stored_bytes",
     rewritten(edit_records=claim_shape("lstm.weight_hh_l1", (16, 5), (5, 1))),
     r"lstm.weight_hh_l1: shape \[16, 5\] needs 80 elements, its storage holds 64"),
    ("wrong_shape", rewritten(replace("lstm.weight_hh_l1", np.zeros((16, 5), np.float32))),
     r"lstm.weight_hh_l1: shape \[16, 5\], expected \[16, 4\]"),
    ("wrong_type", rewritten(replace("fc2.weight", np.zeros((8, 16), np.float64))),
     r"fc2.weight: type float64, expected float32"),
    ("odd_hidden_size", rewritten(replace("fc1.weight", np.zeros((7, 2974), np.float32))),
     r"fc1.weight: shape \[7, 2974\], expected \[H, 2974\] with an even H"),
    ("missing_key", rewritten(drop("bn2.running_var")), r"bn2.running_var: missing"),
    ("missing_fc1", rewritten(drop("fc1.weight")), r"fc1.weight: missing"),
    ("zip_os_system", zip_with_pickle(TOUCH), r"forbidden global os.system"),
    ("zip_reduce_system", zip_with_pickle(REDUCE_TOUCH), r"forbidden global posix.system"),
    ("zip_builtins_eval", zip_with_pickle(EVAL), r"forbidden global builtins.eval"),
    ("zip_load_from_bytes", zip_with_pickle(LOAD_FROM_BYTES),
     r"forbidden global torch.storage._load_from_bytes"),
    ("legacy_os_system_as_magic", legacy_with_pickle(0, TOUCH), r"forbidden global os.system"),
    ("legacy_eval_as_state_dict", legacy_with_pickle(3, EVAL), r"forbidden global builtins.eval"),
]


@pytest.mark.parametrize("name,make,message", CASES, ids=[c[0] for c in CASES])
def test_bad_checkpoint_fails_cleanly(tmp_path, name, make, message):
    make(str(tmp_path / "bad.pth"))
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    result = subprocess.run([sys.executable, "-B", CONVERTER, "bad.pth", "out/umxl_vocals.onnx"],
                            cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert result.returncode == 1, result.stderr
    assert re.fullmatch(f"convert_checkpoint: bad.pth: {message}\n", result.stderr), result.stderr
    assert result.stdout == ""
    assert os.listdir(out_dir) == []
    assert sorted(os.listdir(tmp_path)) == ["bad.pth", "out"]  # no marker, nothing else


@pytest.mark.parametrize("payload", [TOUCH, REDUCE_TOUCH, EVAL], ids=["os", "reduce", "eval"])
def test_hostile_pickles_are_armed(tmp_path, payload, monkeypatch):
    # Loaded by plain pickle they do create the marker, so its absence above
    # means the reader refused them, not that they were harmless.
    monkeypatch.chdir(tmp_path)
    pickle.loads(payload)
    assert (tmp_path / MARKER).exists()


def test_conversion_leaves_only_the_model(tmp_path):
    for fixture in (LEGACY, ZIP):
        out = tmp_path / "umxl_drums.onnx"
        result = subprocess.run([sys.executable, "-B", CONVERTER, fixture, str(out)],
                                capture_output=True, text=True, timeout=120)
        assert result.returncode == 0 and result.stderr == "", result.stderr
        assert os.listdir(tmp_path) == ["umxl_drums.onnx"]


def test_unwritable_output_is_one_line(tmp_path):
    result = subprocess.run([sys.executable, "-B", CONVERTER, ZIP, "missing/umxl_bass.onnx"],
                            cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert result.returncode == 1
    assert result.stderr == ("convert_checkpoint: missing/umxl_bass.onnx: "
                             "cannot write (No such file or directory)\n")
    assert os.listdir(tmp_path) == []
