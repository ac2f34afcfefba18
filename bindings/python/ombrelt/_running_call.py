"""One separation in the library: progress, Ctrl-C and exceptions.

The library calls back after every chunk on the calling thread. That
callback is also where Python gets to run its signal handlers while the
call is in C, so it is installed on every call, bar or no bar.

Ctrl-C: while a call runs on the main thread with Python's default SIGINT
handler in place, a handler of ours cancels the session instead of raising
at a random point inside the callback (where ctypes would print the
exception and drop it). The call then ends as cancelled, leaving no files,
and KeyboardInterrupt is raised once the library has returned.
"""

from __future__ import annotations

import signal
import threading
from typing import Any, Callable, Optional

from . import _library as c
from ._errors import Cancelled, Error
from ._progress import Progress


class RunningCall:
    def __init__(self, cancel: Callable[[], None], progress: Progress) -> None:
        self._cancel = cancel
        self._progress = progress
        self._interrupted = False
        self._pending: Optional[BaseException] = None
        self._asked_to_cancel = False
        self._old_handler: Any = None
        self.callback = c.PROGRESS_FN(self._on_progress)

    def _on_progress(self, fraction: float, _user_data: Any) -> int:
        if self._pending is not None or self._interrupted or self._asked_to_cancel:
            return 1
        try:
            if self._progress.report(fraction):
                self._asked_to_cancel = True
                return 1
        except BaseException as error:  # re-raised once the library returns
            self._pending = error
            return 1
        return 0

    def _on_sigint(self, _signum: int, _frame: Any) -> None:
        self._interrupted = True
        self._cancel()

    def __enter__(self) -> "RunningCall":
        if threading.current_thread() is threading.main_thread():
            if signal.getsignal(signal.SIGINT) is signal.default_int_handler:
                self._old_handler = signal.signal(signal.SIGINT, self._on_sigint)
        return self

    def __exit__(self, *exc: Any) -> None:
        if self._old_handler is not None:
            signal.signal(signal.SIGINT, self._old_handler)
        self._progress.close()

    def check(self, status: int, message: Callable[[], str]) -> None:
        """Raises what the call's status and its callbacks call for."""
        if self._interrupted:
            raise KeyboardInterrupt
        if self._pending is not None:
            raise self._pending
        if status == c.CANCELLED:
            raise Cancelled(message())
        if status != c.OK:
            raise Error(message())
