"""Finding the audio files of a folder."""

from __future__ import annotations

import os
from typing import List, Optional

# What FFmpeg usually holds audio in: audio formats, then video containers
# (their audio track is separated). Compared without regard to case.
AUDIO_EXTENSIONS = frozenset(
    {
        ".aac", ".ac3", ".aif", ".aifc", ".aiff", ".alac", ".ape", ".au", ".caf",
        ".dts", ".flac", ".m4a", ".mka", ".mp2", ".mp3", ".mpc", ".oga", ".ogg",
        ".opus", ".ra", ".tta", ".w64", ".wav", ".wave", ".weba", ".wma", ".wv",
        ".avi", ".flv", ".m4v", ".mkv", ".mov", ".mp4", ".mpeg", ".mpg", ".ts",
        ".webm", ".wmv",
    }
)  # fmt: skip


def is_audio_name(name: str) -> bool:
    """Whether a file of this name is taken as audio (by its extension)."""
    return os.path.splitext(name)[1].lower() in AUDIO_EXTENSIONS


def find_audio_files(in_dir: str, exclude: Optional[str] = None) -> List[str]:
    """The audio files under ``in_dir``, recursively, sorted by their path
    relative to it. Hidden files and folders (a leading dot: our own
    temporaries among them) are passed over, and so is ``exclude`` (the
    output folder, when it lies inside ``in_dir``, so that stems are not
    taken as songs on a rerun)."""
    excluded = os.path.realpath(exclude) if exclude is not None else None
    found: List[str] = []
    for folder, dirs, files in os.walk(in_dir):
        dirs[:] = [
            d for d in dirs if not d.startswith(".") and os.path.realpath(os.path.join(folder, d)) != excluded
        ]
        for name in files:
            if not name.startswith(".") and is_audio_name(name):
                found.append(os.path.join(folder, name))
    return sorted(found, key=lambda path: os.path.relpath(path, in_dir).split(os.sep))
