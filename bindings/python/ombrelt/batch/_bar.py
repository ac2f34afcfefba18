"""The progress bar of a batch: one step per file."""

from __future__ import annotations

from typing import Any, Optional

from .._progress import _tqdm_class


class FileBar:
    """A tqdm bar over the files of a batch, the skipped ones counted as
    done from the start. ``progress``: None (a bar when tqdm is installed),
    True (the same), False (silent)."""

    def __init__(self, progress: Optional[bool], total: int, initial: int) -> None:
        self._bar: Any = None
        self._failed = 0
        tqdm = _tqdm_class() if progress is None or progress is True else None
        if tqdm is not None and total > initial:
            self._bar = tqdm(total=total, initial=initial, desc="separating", unit="file")

    def advance(self, status: str) -> None:
        if self._bar is None:
            return
        if status == "failed":
            self._failed += 1
            self._bar.set_postfix(failed=self._failed, refresh=False)
        self._bar.update(1)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None
