"""Helpers of the batch tests: songs made on the spot, a check of stem
files, and a worker plugin that kills its worker in the middle of chosen
files."""

from __future__ import annotations

import os
import signal
import wave
from pathlib import Path
from typing import Any, List

import numpy as np
from distributed import WorkerPlugin

RATE = 44100
CRASH_ONCE = "crash_once"  # files named so kill their worker on the first try only
CRASH_ALWAYS = "crash_always"  # on every try


def write_song(path: Path, seconds: float = 3.0, frequency: float = 330.0) -> Path:
    """A stereo 16-bit WAV: a tone, a little noise, the channels apart."""
    path.parent.mkdir(parents=True, exist_ok=True)
    t = np.arange(int(seconds * RATE)) / RATE
    rng = np.random.default_rng(int(frequency))
    left = 0.4 * np.sin(2 * np.pi * frequency * t) + 0.05 * rng.standard_normal(t.size)
    right = 0.3 * np.sin(2 * np.pi * frequency * 1.5 * t) + 0.05 * rng.standard_normal(t.size)
    samples = (np.stack([left, right], axis=1) * 32767).astype("<i2")
    with wave.open(str(path), "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(samples.tobytes())
    return path


def write_songs(folder: Path, names: List[str], seconds: float = 3.0) -> List[Path]:
    return [write_song(folder / name, seconds, 220.0 + 55.0 * i) for i, name in enumerate(names)]


def wav_frames(path: str) -> int:
    """The frames of a complete stereo 44.1 kHz WAV (raises otherwise)."""
    with wave.open(path, "rb") as stem:
        assert (stem.getnchannels(), stem.getframerate()) == (2, RATE), path
        frames = stem.getnframes()
        assert len(stem.readframes(frames)) == frames * stem.getnchannels() * stem.getsampwidth(), path
        return frames


def temporaries(folder: Path) -> List[Path]:
    return sorted(folder.rglob("*.tmp"))


def attempts(marks: Path, name: str) -> List[str]:
    """One line per try of the file ``name`` seen by CrashPlugin."""
    path = marks / f"{name}.tries"
    return path.read_text().splitlines() if path.exists() else []


class CrashPlugin(WorkerPlugin):
    """Wraps Separator.separate in each worker process: a file whose name
    starts with CRASH_ONCE (on its first try) or CRASH_ALWAYS (on every
    try) SIGKILLs its worker halfway through, once the library has begun
    writing its own stems. Every try of such a file adds a line to
    ``marks/<name>.tries`` saying how many temporaries the kill left."""

    name = "batch-test-crash"

    def __init__(self, marks: str) -> None:
        self.marks = marks

    def setup(self, worker: Any) -> None:
        from ombrelt import _separator

        original = getattr(_separator.Separator.separate, "__wrapped__", _separator.Separator.separate)
        marks = self.marks

        def separate(self: Any, path: Any, out_dir: Any, *args: Any, **kwargs: Any) -> Any:
            name = os.path.basename(os.fspath(path))
            if not name.startswith((CRASH_ONCE, CRASH_ALWAYS)):
                return original(self, path, out_dir, *args, **kwargs)
            tries = Path(marks) / f"{name}.tries"
            crash = name.startswith(CRASH_ALWAYS) or not tries.exists()
            own = f".{kwargs.get('base_name') or os.path.splitext(name)[0]}_*.tmp"  # not those of other files

            def progress(fraction: float) -> None:
                left = len(list(Path(out_dir).glob(own)))
                if crash and 0 < fraction < 1 and left:
                    with open(tries, "a") as log:
                        log.write(f"killed with {left} temporaries\n")
                    os.kill(os.getpid(), signal.SIGKILL)

            kwargs["progress"] = progress
            result = original(self, path, out_dir, *args, **kwargs)
            with open(tries, "a") as log:
                log.write("finished\n")
            return result

        separate.__wrapped__ = original  # type: ignore[attr-defined]
        _separator.Separator.separate = separate  # type: ignore[method-assign]
