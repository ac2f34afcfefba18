"""Finding and loading the session library, and its C declarations.

The library is looked for, in this order:

1. ``$OMBRELT_LIBRARY``: the library file itself, or the directory it is in;
2. the place recorded when this package was installed (``_location.py``,
   written by ``cmake --install`` or by ``pip install``);
3. the build tree, when the package is used from a source checkout
   (``bindings/python`` beside ``build/``);
4. the system's dynamic loader, by its SONAME.
"""

from __future__ import annotations

import ctypes
import os
import threading
from pathlib import Path
from typing import List, Optional

SONAME = "libtavrin-ombrelt-session.so.1"
ENV_LIBRARY = "OMBRELT_LIBRARY"

# ---- the C declarations (ombrelt_session.h) --------------------------------

OK = 0
ERROR = -1
CANCELLED = -2
OUTPUT_COUNT = 5


class SessionOptions(ctypes.Structure):
    _fields_ = [("model_dir", ctypes.c_char_p), ("threads", ctypes.c_int)]


class Input(ctypes.Structure):
    _fields_ = [
        ("path", ctypes.c_char_p),
        ("samples", ctypes.POINTER(ctypes.c_float)),
        ("frames", ctypes.c_int64),
        ("channels", ctypes.c_int),
        ("sample_rate", ctypes.c_int),
    ]


PROGRESS_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_double, ctypes.c_void_p)


class SeparateOptions(ctypes.Structure):
    _fields_ = [
        ("outputs", ctypes.c_uint),
        ("format", ctypes.c_int),  # an enum: int-sized on every ABI we build for
        ("sum_to_mix", ctypes.c_int),
        ("wiener", ctypes.c_int),
        ("progress", PROGRESS_FN),
        ("progress_user_data", ctypes.c_void_p),
        ("out_dir", ctypes.c_char_p),
        ("base_name", ctypes.c_char_p),
        ("path_output", ctypes.c_uint),
        ("path", ctypes.c_char_p),
    ]


class Stems(ctypes.Structure):
    _fields_ = [
        ("frames", ctypes.c_int64),
        ("channels", ctypes.c_int),
        ("sample_rate", ctypes.c_int),
        ("data", ctypes.POINTER(ctypes.c_float) * OUTPUT_COUNT),
    ]


def _declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    c_session = ctypes.c_void_p
    json_out = ctypes.POINTER(ctypes.c_char_p)
    table = {
        "ombrelt_session_version": (ctypes.c_char_p, []),
        "ombrelt_session_open": (
            c_session,
            [ctypes.POINTER(SessionOptions), ctypes.c_char_p, ctypes.c_size_t],
        ),
        "ombrelt_session_close": (None, [c_session]),
        "ombrelt_session_last_error": (ctypes.c_char_p, [c_session]),
        "ombrelt_session_probe": (ctypes.c_int, [c_session, ctypes.c_char_p, json_out]),
        "ombrelt_session_separate": (
            ctypes.c_int,
            [c_session, ctypes.POINTER(Input), ctypes.POINTER(SeparateOptions), json_out],
        ),
        "ombrelt_session_separate_to_memory": (
            ctypes.c_int,
            [
                c_session,
                ctypes.POINTER(Input),
                ctypes.POINTER(SeparateOptions),
                ctypes.POINTER(ctypes.POINTER(Stems)),
                json_out,
            ],
        ),
        "ombrelt_session_free_stems": (None, [ctypes.POINTER(Stems)]),
        "ombrelt_session_cancel": (None, [c_session]),
        "ombrelt_session_set_log_level": (None, [ctypes.c_int]),
    }
    for name, (restype, argtypes) in table.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


# ---- finding it ------------------------------------------------------------


def _candidate(place: str) -> Path:
    path = Path(place)
    return path / SONAME if path.is_dir() else path


def _installed_location() -> Optional[Path]:
    try:
        from . import _location  # type: ignore[attr-defined]
    except ImportError:
        return None
    libdir = Path(_location.LIBRARY_DIR)
    if not libdir.is_absolute():
        libdir = Path(__file__).resolve().parent / libdir
    return libdir / SONAME


def _build_tree() -> Path:
    # bindings/python/ombrelt/_library.py -> <checkout>/build/src
    return Path(__file__).resolve().parents[3] / "build" / "src" / SONAME


def candidates() -> List[str]:
    """The places tried, in order (the last is a bare name for the loader)."""
    places: List[str] = []
    env = os.environ.get(ENV_LIBRARY)
    if env:
        places.append(str(_candidate(env)))
        return places  # an explicit choice is never second-guessed
    installed = _installed_location()
    if installed is not None:
        places.append(str(installed))
    places.append(str(_build_tree()))
    places.append(SONAME)
    return places


_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None


class LibraryNotFound(OSError):
    """The session library could not be loaded from any of the places tried."""


def library() -> ctypes.CDLL:
    """The loaded session library (loaded once per process)."""
    global _lib
    with _lock:
        if _lib is None:
            tried = []
            for place in candidates():
                if os.sep in place and not os.path.exists(place):
                    tried.append(f"{place} (missing)")
                    continue
                try:
                    _lib = _declare(ctypes.CDLL(place))
                    break
                except OSError as error:
                    tried.append(f"{place} ({error})")
            if _lib is None:
                raise LibraryNotFound(
                    "cannot load the tavrin-ombrelt session library; tried "
                    + "; ".join(tried)
                    + f". Set {ENV_LIBRARY} to the library or its directory."
                )
        return _lib


def library_file() -> Path:
    """The file the library was loaded from (the loader's choice resolved)."""
    name = library()._name  # type: ignore[attr-defined]
    if os.sep in name:
        return Path(name).resolve()
    try:
        with open("/proc/self/maps", encoding="utf-8", errors="replace") as maps:
            for line in maps:
                fields = line.split(maxsplit=5)
                if len(fields) == 6 and os.path.basename(fields[5].strip()).startswith(SONAME):
                    return Path(fields[5].strip()).resolve()
    except OSError:
        pass
    return Path(name)
