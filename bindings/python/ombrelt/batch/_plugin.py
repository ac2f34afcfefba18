"""The worker plugin: one Separator per worker process, its models loaded
once at setup and freed at teardown."""

from __future__ import annotations

import signal
import threading
from typing import Any, Optional

from distributed import WorkerPlugin, get_worker

from .._separator import Separator, set_log_level


class SeparatorPlugin(WorkerPlugin):
    """Opens ``Separator(models, threads)`` on each worker it is registered
    on, and on every worker that joins later (a restarted one too)."""

    def __init__(self, name: str, models: str, threads: Optional[int], leave_interrupts: bool = False) -> None:
        self.name = name  # Dask's key for the plugin on each worker
        self.models = models
        self.threads = threads
        # Workers of a local cluster share the client's terminal, which sends
        # Ctrl-C to them all: the client cancels the batch and closes the
        # cluster, which would otherwise race with every worker dying of its
        # own KeyboardInterrupt and printing it.
        self.leave_interrupts = leave_interrupts
        self.separator: Optional[Separator] = None
        self.lock = threading.Lock()  # one file at a time, whatever the worker's threads
        self._old_sigint: Any = None

    def __getstate__(self) -> dict:
        return {
            "name": self.name,
            "models": self.models,
            "threads": self.threads,
            "leave_interrupts": self.leave_interrupts,
        }

    def __setstate__(self, state: dict) -> None:
        self.__init__(**state)  # type: ignore[misc]

    def setup(self, worker: Any) -> None:
        if self.leave_interrupts and threading.current_thread() is threading.main_thread():
            self._old_sigint = signal.signal(signal.SIGINT, signal.SIG_IGN)
        # FFmpeg's own lines about a damaged file would only clutter the
        # worker's log: the library's message comes back in the result.
        set_log_level(0)
        # An error here fails the registration, so the client hears of a
        # missing library or model set before any file is sent.
        self.separator = Separator(self.models, self.threads)

    def teardown(self, worker: Any) -> None:
        if self.separator is not None:
            # A batch ended early (Ctrl-C) or a worker closing need not wait
            # for the file in hand: it stops at its next chunk, writing nothing.
            self.separator.cancel()
            self.separator.close()
            self.separator = None
        if self._old_sigint is not None and threading.current_thread() is threading.main_thread():
            signal.signal(signal.SIGINT, self._old_sigint)
            self._old_sigint = None


def plugin_of_this_worker(name: str) -> SeparatorPlugin:
    """The plugin registered under ``name`` on the worker running the task."""
    worker = get_worker()
    plugin = worker.plugins.get(name)
    if not isinstance(plugin, SeparatorPlugin) or plugin.separator is None:
        # A worker that joined after the registration and failed its setup
        # (the plugin's error is in its log).
        raise RuntimeError(f"worker {worker.address} has no separator (see its log)")
    return plugin
