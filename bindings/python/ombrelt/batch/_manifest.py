"""The manifest: one JSON line per finished file, in OUT_DIR.

Only the client process writes it, appending a line as each result comes
in (flushed and synced), so a batch killed at any point keeps every file
finished before. A line cut short by such a kill is skipped on reading.
"""

from __future__ import annotations

import json
import os
from typing import IO, Any, Dict, Optional, Tuple

from ._options import Options
from ._plan import Job

MANIFEST_NAME = "ombrelt-batch-manifest.jsonl"

Record = Dict[str, Any]


def _ends_mid_line(path: str) -> bool:
    try:
        with open(path, "rb") as file:
            if file.seek(0, os.SEEK_END) == 0:
                return False
            file.seek(-1, os.SEEK_END)
            return file.read(1) != b"\n"
    except FileNotFoundError:
        return False


class Manifest:
    """The files a batch has finished in one output folder."""

    def __init__(self, out_dir: str) -> None:
        self.out_dir = out_dir
        self.path = os.path.join(out_dir, MANIFEST_NAME)
        self._done: Dict[Tuple[str, Options], Record] = {}
        self._file: Optional[IO[str]] = None
        self._load()

    def _load(self) -> None:
        try:
            with open(self.path, encoding="utf-8") as lines:
                for line in lines:
                    self._remember(line)
        except FileNotFoundError:
            pass

    def _remember(self, line: str) -> None:
        try:
            record = json.loads(line)
            options = Options.from_dict(record["options"])
            key = (str(record["input"]), options)
        except (ValueError, KeyError, TypeError):
            return  # torn or foreign: as if absent
        if options is not None and isinstance(record.get("outputs"), dict):
            self._done[key] = record  # a later line for the same file wins

    def finished(self, job: Job, options: Options) -> Optional[Record]:
        """The record of ``job`` when it was done with these options, from
        the same input (size and mtime), and all its stems are still where
        this batch would write them; None otherwise."""
        record = self._done.get((job.relative, options))
        if record is None or record.get("size") != job.size or record.get("mtime_ns") != job.mtime_ns:
            return None
        outputs = record["outputs"]
        if set(outputs) != set(options.stems):
            return None
        for stem, relative in outputs.items():
            path = os.path.join(self.out_dir, relative)
            if os.path.normpath(path) != job.output(stem, options) or not os.path.isfile(path):
                return None
        return record

    def add(self, job: Job, options: Options, result: Record) -> None:
        """Appends the line of a finished file and makes it durable."""
        record = {
            "input": job.relative,
            "size": job.size,
            "mtime_ns": job.mtime_ns,
            "outputs": {stem: os.path.relpath(path, self.out_dir) for stem, path in result["outputs"].items()},
            "duration_s": result["duration_s"],
            "elapsed_s": result["elapsed_s"],
            "worker": result.get("worker"),
            "options": options.as_dict(),
        }
        line = json.dumps(record)
        if self._file is None:
            self._file = self._open_for_append()
        self._file.write(line + "\n")
        self._file.flush()
        os.fsync(self._file.fileno())
        self._remember(line)

    def _open_for_append(self) -> IO[str]:
        torn = _ends_mid_line(self.path)
        file = open(self.path, "a", encoding="utf-8")
        if torn:  # the next record must start a line of its own
            file.write("\n")
        return file

    def close(self) -> None:
        if self._file is not None:
            self._file.close()
            self._file = None
