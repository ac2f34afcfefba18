"""Removing the temporaries a killed separation leaves behind.

The library writes each stem to ``.<name>.<pid>.tmp`` beside its final
name and renames it only once the whole separation has succeeded, so a
worker killed mid-file leaves such hidden files and never a partial stem.
"""

from __future__ import annotations

import os
import re
from typing import Iterable

from .._tables import FORMATS, OUTPUTS
from ._plan import Job

_EXTENSIONS = sorted({extension for _, extension in FORMATS.values()})


def _pattern(base_name: str) -> "re.Pattern[str]":
    stems = "|".join(OUTPUTS)
    extensions = "|".join(re.escape(e) for e in _EXTENSIONS)
    return re.compile(rf"\.{re.escape(base_name)}_(?:{stems})(?:{extensions})\.\d+\.tmp")


def remove_stale_temporaries(jobs: Iterable[Job]) -> int:
    """Removes the temporaries of these files' stems (any format) from
    their output folders; only call it when none of them is running.
    Returns how many were removed."""
    removed = 0
    by_folder = {}
    for job in jobs:
        by_folder.setdefault(job.out_dir, []).append(_pattern(job.base_name))
    for folder, patterns in by_folder.items():
        try:
            names = os.listdir(folder)
        except OSError:
            continue  # never made: nothing ran there
        for name in names:
            if any(p.fullmatch(name) for p in patterns):
                try:
                    os.remove(os.path.join(folder, name))
                    removed += 1
                except FileNotFoundError:
                    pass
    return removed
