"""From input paths to jobs: where each file's stems go and under which
names, so that no two inputs write the same stem file."""

from __future__ import annotations

import os
from collections import defaultdict
from dataclasses import dataclass
from typing import Dict, List, Optional, Sequence, Union

from .._separator import _base_name
from ._options import Options

PathArg = Union[str, "os.PathLike[str]"]


@dataclass
class Job:
    """One input file of a batch."""

    index: int  # its place in the caller's list
    given: str  # the path as the caller gave it
    path: str  # absolute
    relative: str  # to the batch's root: the manifest's key
    out_dir: str  # absolute: OUT_DIR plus the relative sub-directory
    base_name: str  # stems are <base_name>_<stem><ext>
    size: int = -1
    mtime_ns: int = -1
    error: Optional[str] = None  # why it cannot run at all

    def output(self, stem: str, options: Options) -> str:
        """The absolute path of one stem of this file."""
        return os.path.join(self.out_dir, f"{self.base_name}_{stem}{options.extension}")


def common_root(paths: Sequence[str]) -> str:
    """The deepest folder holding all the (absolute) paths."""
    return os.path.commonpath([os.path.dirname(p) for p in paths])


def _stat(job: Job) -> None:
    try:
        info = os.stat(job.path)
    except OSError as error:
        job.error = f"cannot read {job.given}: {error.strerror}"
        return
    job.size, job.mtime_ns = info.st_size, info.st_mtime_ns


def _disambiguate(jobs: List[Job]) -> None:
    # Files of one folder with the same name up to the extension (a/b.mp3,
    # a/b.flac) would write the same stems: each of them keeps its whole file
    # name instead (a/b.mp3_vocals.wav, a/b.flac_vocals.wav). Compared without
    # case, for file systems that ignore it.
    def groups() -> Dict[tuple, List[Job]]:
        by_name: Dict[tuple, List[Job]] = defaultdict(list)
        for job in jobs:
            if job.error is None:
                by_name[(job.out_dir, job.base_name.casefold())].append(job)
        return by_name

    for group in groups().values():
        if len(group) > 1:
            for job in group:
                job.base_name = os.path.basename(job.path)
    # Whatever still clashes (b.mp3 beside b.mp3.flac) is refused, never
    # written over.
    for group in groups().values():
        for job in group[1:]:
            job.error = f"its stems would have the same names as those of {group[0].given}"


def plan(paths: Sequence[PathArg], out_dir: str, root: Optional[PathArg] = None) -> List[Job]:
    """One job per path, in the given order. Raises ValueError for a path
    given twice or one outside ``root``."""
    given = [os.fspath(p) for p in paths]
    absolute = [os.path.abspath(p) for p in given]
    seen: Dict[str, str] = {}
    for shown, path in zip(given, absolute):
        if path in seen:
            raise ValueError(f"{shown} is given twice")
        seen[path] = shown
    if not absolute:
        return []
    base = os.path.abspath(root) if root is not None else common_root(absolute)
    jobs = []
    for index, (shown, path) in enumerate(zip(given, absolute)):
        relative = os.path.relpath(path, base)
        if relative.startswith(os.pardir + os.sep):
            raise ValueError(f"{shown} is not under the root {base}")
        job = Job(
            index=index,
            given=shown,
            path=path,
            relative=relative,
            out_dir=os.path.normpath(os.path.join(out_dir, os.path.dirname(relative))),
            base_name=_base_name(path),
        )
        _stat(job)
        jobs.append(job)
    _disambiguate(jobs)
    return jobs
