"""Separator: one session of the library, with its models loaded."""

from __future__ import annotations

import contextlib
import ctypes
import json
import os
import threading
from pathlib import Path
from typing import Any, Dict, Iterator, Optional, Union

import numpy as np

from . import _library as c
from . import _models
from ._errors import Error
from ._progress import Progress, ProgressArg
from ._running_call import RunningCall
from ._tables import OUTPUTS, FORMATS, Stems, format_number, format_of_extension, output_bits

PathLike = Union[str, "os.PathLike[str]"]

STEM_RATE = 44100  # stems come out stereo at this rate, whatever went in

_MUTE_MODES = {
    # mode: (the output written to out_path, what keep_stems adds beside it)
    "vocal": ("instrumental", ("other", "bass", "drums")),
    "instrumental": ("vocals", ()),
}


def _encode(path: PathLike) -> bytes:
    return os.fsencode(path)


def _base_name(path: str) -> str:
    # As the ombrelt command names stems beside a file: its name up to the
    # last dot (a leading dot is part of the name).
    name = os.path.basename(path)
    dot = name.rfind(".")
    return name[:dot] if dot > 0 else name


class Separator:
    """Separates songs with one set of models, loaded once.

    ``models`` is "default" (the set installed with the library), the name
    of a fetched set such as "umxhq", or a directory of the four stem
    models. ``threads`` is None for the library's default (two models at
    once on a pool shared by all such separators of the process), or the
    number of threads this separator may keep busy on its own; with n
    separators side by side on c cores, give each c // n.

    Use it as a context manager, or call ``close()``. One thread at a time
    may call it; ``cancel()`` may come from any thread.
    """

    def __init__(self, models: PathLike = "default", threads: Optional[int] = None) -> None:
        self._lib = c.library()
        self._handle: Optional[int] = None
        self._busy = threading.Lock()  # one call at a time
        self._guard = threading.Lock()  # the handle's life, against cancel()
        self.model_dir = _models.resolve(models, c.library_file())
        options = c.SessionOptions(_encode(self.model_dir), 0 if threads is None else int(threads))
        error = ctypes.create_string_buffer(1024)
        handle = self._lib.ombrelt_session_open(ctypes.byref(options), error, len(error))
        if not handle:
            raise Error(error.value.decode("utf-8", "replace"))
        self._handle = handle

    # ---- life ----------------------------------------------------------------

    def __enter__(self) -> "Separator":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def close(self) -> None:
        """Frees the session and its models; a second call does nothing."""
        with self._busy, self._guard:
            if self._handle is not None:
                self._lib.ombrelt_session_close(self._handle)
                self._handle = None

    def __del__(self) -> None:
        if getattr(self, "_handle", None) is not None:
            self._lib.ombrelt_session_close(self._handle)
            self._handle = None

    def cancel(self) -> None:
        """Cancels the call running on this separator, if any, at its next
        chunk: it raises ``ombrelt.Cancelled`` and writes nothing. Any thread.
        A cancel while nothing runs has no effect on later calls."""
        with self._guard:
            if self._handle is not None:
                self._lib.ombrelt_session_cancel(self._handle)

    # ---- calls ---------------------------------------------------------------

    def _session(self) -> int:
        if self._handle is None:
            raise Error("separator is closed")
        return self._handle

    @contextlib.contextmanager
    def _one_call(self) -> Iterator[None]:
        # Refused rather than waited for: a second call from the progress
        # callable would wait for ever, one from another thread is a bug.
        if not self._busy.acquire(blocking=False):
            raise Error("separator is busy: one call at a time (use a Separator per thread)")
        try:
            yield
        finally:
            self._busy.release()

    def _message(self) -> str:
        text = self._lib.ombrelt_session_last_error(self._handle)
        return text.decode("utf-8", "replace") if text else "unknown error"

    def _run(
        self,
        function: Any,
        progress: ProgressArg,
        description: str,
        source: c.Input,
        options: c.SeparateOptions,
        *outputs: Any,
    ) -> None:
        with self._one_call():
            session = self._session()
            call = RunningCall(self.cancel, Progress(progress, description))
            options.progress = call.callback
            with call:
                status = function(session, ctypes.byref(source), ctypes.byref(options), *outputs)
                call.check(status, self._message)

    def probe(self, path: PathLike) -> Dict[str, Any]:
        """Duration, rate, channels, codec and bit rate of a file."""
        with self._one_call():
            out = ctypes.c_char_p()
            status = self._lib.ombrelt_session_probe(self._session(), _encode(path), ctypes.byref(out))
            if status != c.OK:
                raise Error(self._message())
            return json.loads(out.value)

    def separate(
        self,
        path: PathLike,
        out_dir: PathLike,
        stems: Stems = None,
        format: str = "wav16",
        sum_to_mix: bool = False,
        wiener: bool = False,
        progress: ProgressArg = None,
        base_name: Optional[str] = None,
    ) -> Dict[str, Any]:
        """Writes stems of the file at ``path`` to ``out_dir``.

        ``stems``: None for all five ("vocals", "other", "bass", "drums",
        "instrumental"), one name, or several. ``format``: "wav16", "wav24",
        "wav32f", "flac" or "flac24". Files are named
        ``<base_name>_<stem>.<ext>``, the base name being the input's file
        name without its extension unless given. ``sum_to_mix``: the stems
        add up to the song; ``wiener``: refined by a Wiener filter as well.
        ``progress``: see ``Progress``.

        Returns the library's result: the path of every file written, then
        "duration_s", "chunks", "elapsed_s", "format", "sum_to_mix" and
        "wiener". Nothing is left behind by a failure or a cancellation.
        """
        options = c.SeparateOptions()
        options.outputs = output_bits(stems)
        options.format = format_number(format)
        options.sum_to_mix = bool(sum_to_mix)
        options.wiener = bool(wiener)
        options.out_dir = _encode(out_dir)
        options.base_name = base_name.encode() if base_name else None
        return self._separate_file(path, options, progress)

    def _separate_file(self, path: PathLike, options: c.SeparateOptions, progress: ProgressArg) -> Dict[str, Any]:
        source = c.Input()
        source.path = _encode(path)
        out = ctypes.c_char_p()
        self._run(
            self._lib.ombrelt_session_separate,
            progress,
            os.path.basename(os.fspath(path)),
            source,
            options,
            ctypes.byref(out),
        )
        return json.loads(out.value)

    def mute(
        self,
        path: PathLike,
        out_path: PathLike,
        mode: str = "vocal",
        format: Optional[str] = None,
        keep_stems: bool = False,
        sum_to_mix: bool = False,
        wiener: bool = False,
        progress: ProgressArg = None,
    ) -> Dict[str, Any]:
        """Writes the song without its vocals (mode "vocal") or without its
        accompaniment (mode "instrumental") to ``out_path``.

        The format follows out_path's extension (".wav": wav16, ".flac":
        flac); ``format`` may choose another of the same extension.
        ``keep_stems`` (mode "vocal") also writes the other, bass and drums
        stems beside out_path, named after it. Returns the library's result
        with "path" and "mode" in place of the written output's name.
        """
        if mode not in _MUTE_MODES:
            raise Error(f"unknown mode '{mode}'; choose vocal or instrumental")
        kept, beside = _MUTE_MODES[mode]
        out = os.fspath(out_path)
        default_format = format_of_extension(out)
        if default_format is None:
            raise Error(f"cannot write '{out}': out_path must end in .wav or .flac")
        if format is None:
            format = default_format
        elif format in FORMATS and FORMATS[format][1] != FORMATS[default_format][1]:
            raise Error(f"format {format} writes {FORMATS[format][1]} files, not {out}")
        if keep_stems and not beside:
            raise Error("keep_stems goes with mode vocal")
        options = c.SeparateOptions()
        options.outputs = output_bits([kept, *(beside if keep_stems else ())])
        options.path_output = output_bits(kept)
        options.path = _encode(out)
        options.format = format_number(format)
        options.sum_to_mix = bool(sum_to_mix)
        options.wiener = bool(wiener)
        options.base_name = _base_name(out).encode()
        parent = os.path.dirname(out)
        if parent:
            os.makedirs(parent, exist_ok=True)
        result = self._separate_file(path, options, progress)
        written = result.pop(kept)
        result["path"] = written
        result["mode"] = mode
        return result

    def separate_array(
        self,
        samples: "np.ndarray",
        rate: int,
        stems: Stems = None,
        sum_to_mix: bool = False,
        wiener: bool = False,
        progress: ProgressArg = None,
    ) -> Dict[str, "np.ndarray"]:
        """Separates audio in memory.

        ``samples``: an array of shape (frames, channels), or (frames,) for
        mono, at ``rate`` Hz (1000 to 768000), 1 to 64 channels, values
        nominally in [-1, 1]; any floating dtype is converted to float32.
        Returns {stem: float32 array of shape (frames, 2)} at 44100 Hz
        (``ombrelt.STEM_RATE``), the values a "wav32f" file of the same
        separation holds.
        """
        array = np.asarray(samples)
        if array.ndim == 1:
            array = array[:, np.newaxis]
        if array.ndim != 2:
            raise Error(f"samples must be (frames, channels), not of shape {array.shape}")
        if not np.issubdtype(array.dtype, np.floating):
            # Integers have no one scale to [-1, 1]: the caller knows it.
            raise Error(f"samples must be floating point, not {array.dtype}")
        array = np.ascontiguousarray(array, dtype=np.float32)
        source = c.Input()
        source.samples = array.ctypes.data_as(ctypes.POINTER(ctypes.c_float))
        source.frames = array.shape[0]
        source.channels = array.shape[1]
        source.sample_rate = int(rate)
        options = c.SeparateOptions()
        options.outputs = output_bits(stems)
        options.sum_to_mix = bool(sum_to_mix)
        options.wiener = bool(wiener)
        result = ctypes.POINTER(c.Stems)()
        self._run(
            self._lib.ombrelt_session_separate_to_memory,
            progress,
            "samples",
            source,
            options,
            ctypes.byref(result),
            None,
        )
        try:
            got = result.contents
            frames = got.frames
            stems_out: Dict[str, np.ndarray] = {}
            for i, name in enumerate(OUTPUTS):
                if got.data[i]:
                    view = np.ctypeslib.as_array(got.data[i], shape=(frames, got.channels))
                    stems_out[name] = view.copy()
            return stems_out
        finally:
            self._lib.ombrelt_session_free_stems(result)


def probe(path: PathLike) -> Dict[str, Any]:
    """Duration, rate, channels, codec and bit rate of a file, as the
    library reports them: {"duration_s", "sample_rate", "channels",
    "codec", "bitrate"}."""
    lib = c.library()
    options = c.SessionOptions(None, 0)  # no models: probing only
    error = ctypes.create_string_buffer(1024)
    handle = lib.ombrelt_session_open(ctypes.byref(options), error, len(error))
    if not handle:
        raise Error(error.value.decode("utf-8", "replace"))
    try:
        out = ctypes.c_char_p()
        if lib.ombrelt_session_probe(handle, _encode(path), ctypes.byref(out)) != c.OK:
            raise Error(lib.ombrelt_session_last_error(handle).decode("utf-8", "replace"))
        return json.loads(out.value)
    finally:
        lib.ombrelt_session_close(handle)


def version() -> str:
    """The library's version, e.g. "1.0.0"."""
    return c.library().ombrelt_session_version().decode()


def set_log_level(level: int) -> None:
    """How much of FFmpeg's own logging reaches stderr, for the whole
    process: 0 quiet, 1 errors, 2 warnings, 3 everything (FFmpeg's default).
    Call it before any separation runs."""
    c.library().ombrelt_session_set_log_level(int(level))
