"""The local Dask cluster a batch starts when it is given none, and how
the cores are shared out between its workers."""

from __future__ import annotations

import os
from typing import Any, Optional

import dask
from distributed import LocalCluster


def cores() -> int:
    """The cores this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1


def default_workers(files: Optional[int] = None) -> int:
    """Worker processes for a local cluster: half the cores, each
    separation then running on two threads (two models at once, the
    library's own default), but at least two workers where there are two
    cores (two files side by side beat one file on two threads), and no
    more workers than files to separate."""
    count = cores()
    workers = min(count, max(2, count // 2))
    if files is not None:
        workers = min(workers, max(1, files))
    return workers


def local_cluster(workers: int, retries: int = 1, **options: Any) -> LocalCluster:
    """A LocalCluster of ``workers`` processes of one thread each (a
    separation keeps its cores busy itself), without a dashboard.

    A worker process that dies takes its task with it; the scheduler
    gives the task to another worker after each of up to ``retries`` such
    deaths, and fails it with KilledWorker at the next one: a file is tried
    at most ``retries + 1`` times, as with the retries Dask gives a task
    that raises. (The two are counted apart: a task that raised once and
    lost its worker once may have one try more.)
    """
    with dask.config.set({"distributed.scheduler.allowed-failures": retries}):
        settings = dict(
            n_workers=workers,
            threads_per_worker=1,
            processes=True,
            dashboard_address=None,
        )
        settings.update(options)
        return LocalCluster(**settings)


def is_local(client: Any) -> bool:
    """Whether the client's workers are processes of this machine that it
    started (and that share its terminal)."""
    return isinstance(getattr(client, "cluster", None), LocalCluster)


def separator_threads(client: Any) -> Optional[int]:
    """Threads for each worker's Separator: the cores shared between the
    workers of a local cluster; None (the library's default) on any other
    cluster, whose machines the client cannot see."""
    if not is_local(client):
        return None
    workers = max(1, len(client.nthreads()))
    return max(1, cores() // workers)
