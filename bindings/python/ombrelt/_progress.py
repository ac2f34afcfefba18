"""Progress of one call: a tqdm bar when tqdm is installed, and the caller's
own callable."""

from __future__ import annotations

from typing import Any, Callable, Optional, Union

ProgressArg = Union[None, bool, Callable[[float], Any]]


def _tqdm_class() -> Any:
    try:
        from tqdm.auto import tqdm  # a widget in notebooks, text in terminals
    except ImportError:
        return None
    return tqdm


class Progress:
    """Turns the library's fractions into bar updates and callable calls.

    ``progress`` is None (a bar when tqdm is installed, silent otherwise),
    False (silent), True (a bar), or a callable taking the fraction done; a
    true return from the callable cancels the call.
    """

    def __init__(self, progress: ProgressArg, description: str) -> None:
        self._callable = progress if callable(progress) else None
        self._bar = None
        if progress is None or progress is True:
            tqdm = _tqdm_class()
            if tqdm is not None:
                self._bar = tqdm(
                    total=100,
                    desc=description,
                    unit="%",
                    leave=False,
                    bar_format="{desc}: {percentage:3.0f}%|{bar}| {elapsed}<{remaining}",
                )

    def report(self, fraction: float) -> bool:
        """Shows ``fraction``; True when the caller asks to cancel."""
        if self._bar is not None:
            done = min(100, max(self._bar.n, int(round(fraction * 100))))
            self._bar.update(done - self._bar.n)
        if self._callable is not None:
            return bool(self._callable(fraction))
        return False

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None
