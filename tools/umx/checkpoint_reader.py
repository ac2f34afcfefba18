"""Reads a PyTorch state dict into NumPy arrays without torch and without
running anything the file asks for.

Both serializations are read: the zip format (`<top>/data.pkl` plus one entry
`<top>/data/<key>` per storage) and the legacy one (pickles of the magic
number, the protocol version and the system info, the state dict, the list of
storage keys, then each storage as an 8-byte element count and its bytes).

The pickles are loaded by an Unpickler whose find_class knows only what a
state dict is made of; any other global ends the read before it is called.
Tensors are kept as references while the pickle loads and become arrays only
once their storages are known and checked to hold every element a tensor's
shape, strides and offset reach.
"""

import collections
import io
import os
import pickle
import struct
import zipfile

import numpy as np

LEGACY_MAGIC = 0x1950A86A20F9469CFC6C
LEGACY_PROTOCOL = 1001

STORAGE_DTYPES = {
    "FloatStorage": np.float32,
    "DoubleStorage": np.float64,
    "HalfStorage": np.float16,
    "LongStorage": np.int64,
    "IntStorage": np.int32,
    "ShortStorage": np.int16,
    "CharStorage": np.int8,
    "ByteStorage": np.uint8,
    "BoolStorage": np.bool_,
}


class CheckpointError(Exception):
    """A file that is not a readable state dict. `key` names the tensor
    concerned, when there is one."""

    def __init__(self, message, key=None):
        super().__init__(message)
        self.key = key


class _StorageType:
    __slots__ = ("name", "dtype")

    def __init__(self, name, dtype):
        self.name = name
        self.dtype = np.dtype(dtype).newbyteorder("<")


class _StorageRef:
    __slots__ = ("key", "dtype", "numel", "offset")

    def __init__(self, key, dtype, numel, offset=0):
        self.key, self.dtype, self.numel, self.offset = key, dtype, numel, offset


class _TensorRef:
    __slots__ = ("storage", "offset", "size", "stride")

    def __init__(self, storage, offset, size, stride):
        self.storage, self.offset, self.size, self.stride = storage, offset, size, stride


def _is_count(value):
    return isinstance(value, int) and not isinstance(value, bool) and value >= 0


def _rebuild_tensor(storage, storage_offset, size, stride, *_ignored):
    # _rebuild_tensor_v2 adds requires_grad, backward hooks and metadata,
    # none of which matter for the values.
    if not isinstance(storage, _StorageRef):
        raise CheckpointError("tensor without a storage")
    if not (_is_count(storage_offset) and isinstance(size, tuple) and isinstance(stride, tuple)
            and len(size) == len(stride) and all(map(_is_count, size))
            and all(map(_is_count, stride))):
        raise CheckpointError("tensor with a malformed shape, stride or offset")
    return _TensorRef(storage, storage_offset, size, stride)


def _make_ordered_dict(*args):
    if args:
        raise CheckpointError("OrderedDict with arguments")
    return collections.OrderedDict()


_ALLOWED = {("collections", "OrderedDict"): _make_ordered_dict,
            ("torch._utils", "_rebuild_tensor_v2"): _rebuild_tensor,
            ("torch._utils", "_rebuild_tensor"): _rebuild_tensor}


class _RestrictedUnpickler(pickle.Unpickler):
    def __init__(self, file, persistent_load=None):
        super().__init__(file)
        self._persistent = persistent_load

    def find_class(self, module, name):
        if (module, name) in _ALLOWED:
            return _ALLOWED[(module, name)]
        if module == "torch" and name in STORAGE_DTYPES:
            return _StorageType(name, STORAGE_DTYPES[name])
        raise CheckpointError(f"forbidden global {module}.{name}")

    def persistent_load(self, pid):
        if self._persistent is None:
            raise CheckpointError("unexpected storage reference")
        return self._persistent(pid)


def _unpickle(file, persistent_load=None, what="pickle"):
    try:
        return _RestrictedUnpickler(file, persistent_load).load()
    except CheckpointError:
        raise
    except EOFError:
        raise CheckpointError(f"truncated file (in the {what})") from None
    except pickle.UnpicklingError as e:
        if "truncated" in str(e):
            raise CheckpointError(f"truncated file (in the {what})") from None
        raise CheckpointError(f"corrupt {what} ({e})") from None
    except RecursionError:
        raise CheckpointError(f"{what} nested too deeply") from None
    except Exception as e:  # a broken pickle raises almost anything
        raise CheckpointError(f"corrupt {what} ({type(e).__name__}: {e})") from None


def _storage_ref(pid, legacy):
    fields = 6 if legacy else 5
    if not (isinstance(pid, tuple) and len(pid) == fields and pid[0] == "storage"):
        raise CheckpointError(f"malformed storage reference {pid!r:.60}")
    storage_type, key, numel = pid[1], pid[2], pid[4]
    if not isinstance(storage_type, _StorageType):
        raise CheckpointError("storage of an unknown type")
    if not isinstance(key, str) or not _is_count(numel):
        raise CheckpointError(f"malformed storage reference {pid!r:.60}")
    ref = _StorageRef(key, storage_type.dtype, numel)
    if legacy and pid[5] is not None:
        # A view into a larger storage: (view key, offset, size).
        view = pid[5]
        if not (isinstance(view, tuple) and len(view) == 3 and _is_count(view[1])
                and _is_count(view[2])):
            raise CheckpointError("malformed storage view")
        ref = _StorageRef(key, storage_type.dtype, view[2], view[1])
    return ref


def _materialise(name, tensor, storages):
    """storages: key -> bytes of the whole storage."""
    ref = tensor.storage
    data = storages.get(ref.key)
    if data is None:
        raise CheckpointError(f"storage {ref.key} is missing", name)
    itemsize = ref.dtype.itemsize
    held = len(data) // itemsize
    if ref.offset + ref.numel > held:
        raise CheckpointError(f"storage {ref.key} holds {held} elements, "
                              f"the file claims {ref.offset + ref.numel}", name)
    numel = int(np.prod(tensor.size, dtype=object)) if tensor.size else 1
    if numel == 0:
        return np.zeros(tensor.size, ref.dtype)
    reach = tensor.offset + sum((n - 1) * s for n, s in zip(tensor.size, tensor.stride)) + 1
    if reach > ref.numel or numel > ref.numel:
        raise CheckpointError(f"shape {list(tensor.size)} needs {reach} elements, "
                              f"its storage holds {ref.numel}", name)
    flat = np.frombuffer(data, ref.dtype, count=ref.numel, offset=ref.offset * itemsize)
    view = np.lib.stride_tricks.as_strided(
        flat[tensor.offset:], shape=tensor.size,
        strides=tuple(s * itemsize for s in tensor.stride), writeable=False)
    return np.array(view, dtype=ref.dtype.newbyteorder("="))


def _state_dict(obj, storages):
    if not isinstance(obj, dict):
        raise CheckpointError(f"not a state dict (a pickled {type(obj).__name__})")
    result = collections.OrderedDict()
    for name, value in obj.items():
        if not isinstance(name, str):
            raise CheckpointError(f"not a state dict (key {name!r:.40})")
        if isinstance(value, _TensorRef):
            result[name] = _materialise(name, value, storages)
        # Anything else a state dict may carry (plain numbers) is no tensor
        # of the network and is passed over.
    return result


def _read_zip(path):
    try:
        archive = zipfile.ZipFile(path)
    except (zipfile.BadZipFile, OSError) as e:
        raise CheckpointError(f"truncated or corrupt zip archive ({e})") from None
    with archive:
        pickles = [n for n in archive.namelist() if n.count("/") == 1
                   and n.endswith("/data.pkl")]
        if len(pickles) != 1:
            raise CheckpointError("zip archive without data.pkl" if not pickles
                                  else "zip archive with several data.pkl")
        top = pickles[0][:-len("data.pkl")]
        if archive.NameToInfo.get(top + "byteorder") is not None:
            if _zip_entry(archive, top + "byteorder").strip() != b"little":
                raise CheckpointError("big-endian storages are not supported")
        claimed = {}

        def persistent_load(pid):
            ref = _storage_ref(pid, legacy=False)
            if claimed.setdefault(ref.key, ref.numel) != ref.numel:
                raise CheckpointError(f"storage {ref.key} has two sizes")
            return ref

        obj = _unpickle(io.BytesIO(_zip_entry(archive, pickles[0])), persistent_load,
                        "state dict pickle")
        storages = {}
        for key in claimed:
            entry = top + "data/" + key
            info = archive.NameToInfo.get(entry)
            if info is None:
                raise CheckpointError(f"storage {key} is missing from the archive")
            if info.file_size > 8 * claimed[key] + 4096:
                # torch writes a storage's bytes and nothing more; far more
                # than that is not a storage (and may not fit in memory).
                raise CheckpointError(f"storage {key} holds {info.file_size} bytes, "
                                      f"far more than its {claimed[key]} elements")
            storages[key] = _zip_entry(archive, entry)
        return _state_dict(obj, storages)


def _zip_entry(archive, name):
    try:
        return archive.read(name)
    except Exception as e:  # bad CRC, bad local header, truncated member
        raise CheckpointError(f"corrupt zip entry {name} ({e})") from None


def _read_legacy(file):
    magic = _unpickle(file, what="magic number")
    if magic != LEGACY_MAGIC:
        raise CheckpointError("not a PyTorch checkpoint (wrong magic number)")
    version = _unpickle(file, what="protocol version")
    if version != LEGACY_PROTOCOL:
        raise CheckpointError(f"unsupported legacy protocol version {version!r:.20}")
    info = _unpickle(file, what="system info")
    if not isinstance(info, dict) or info.get("little_endian") is not True:
        raise CheckpointError("big-endian or unknown byte order")
    refs = {}

    def persistent_load(pid):
        ref = _storage_ref(pid, legacy=True)
        root = pid[4]
        if refs.setdefault(ref.key, (root, ref.dtype)) != (root, ref.dtype):
            raise CheckpointError(f"storage {ref.key} has two sizes")
        return ref

    obj = _unpickle(file, persistent_load, "state dict pickle")
    keys = _unpickle(file, what="storage key list")
    if not isinstance(keys, list) or not all(isinstance(k, str) for k in keys):
        raise CheckpointError("corrupt storage key list")
    storages = {}
    for key in keys:
        head = file.read(8)
        if len(head) < 8:
            raise CheckpointError(f"truncated file (before storage {key})")
        (count,) = struct.unpack("<q", head)
        if key not in refs:
            raise CheckpointError(f"storage {key} is not referenced")
        root, dtype = refs[key]
        if count != root:
            raise CheckpointError(f"storage {key} holds {count} elements, the file claims {root}")
        # Claims beyond the file's end are caught before any memory is taken.
        left = os.fstat(file.fileno()).st_size - file.tell()
        data = file.read(min(count * dtype.itemsize, left))
        if len(data) < count * dtype.itemsize:
            raise CheckpointError(f"truncated file (in storage {key}: {len(data)} of "
                                  f"{count * dtype.itemsize} bytes)")
        storages[key] = data
    return _state_dict(obj, storages)


def read_state_dict(path):
    """The tensors of the state dict in `path`, by name, as NumPy arrays.
    Raises CheckpointError for anything but a well-formed state dict, and
    OSError when the file cannot be read."""
    with open(path, "rb") as f:
        head = f.read(4)
        if not head:
            raise CheckpointError("empty file")
        if head == b"PK\x03\x04":
            return _read_zip(path)
        f.seek(0)
        return _read_legacy(f)
