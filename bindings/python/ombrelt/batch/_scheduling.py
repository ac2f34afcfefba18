"""The files of a batch as Dask tasks, one per file, on a cluster whose
workers hold a separator each."""

from __future__ import annotations

import contextlib
import uuid
from typing import Any, Dict, Iterator, List, Optional, Tuple

from distributed import Client, as_completed

from ._cluster import is_local, separator_threads
from ._options import Options
from ._plan import Job
from ._plugin import SeparatorPlugin
from ._task import separate_on_worker

Outcome = Dict[str, Any]  # what separate_on_worker returns, or a failure of the task


def _task_arguments(job: Job, options: Options) -> Dict[str, Any]:
    return {
        "path": job.path,
        "out_dir": job.out_dir,
        "base_name": job.base_name,
        "stems": list(options.stems),
        "format": options.format,
        "sum_to_mix": options.sum_to_mix,
        "wiener": options.wiener,
    }


def _running_threads(dask_scheduler: Any) -> int:
    return sum(worker.nthreads for worker in dask_scheduler.running)


def _slots(client: Client) -> int:
    # No more files in flight than the threads of the workers up and
    # running (not those starting or restarting): the scheduler counts a
    # worker's death against every task it holds, so a file queued behind
    # one that kills its worker would be charged a try it never had.
    return max(1, client.run_on_scheduler(_running_threads))


def _outcome(future: Any) -> Outcome:
    try:
        return future.result()
    except Exception as error:  # raised after its retries, or KilledWorker
        last = getattr(getattr(error, "last_worker", None), "address", None)
        return {"status": "failed", "error": f"{type(error).__name__}: {error}", "worker": last}


def run_on_cluster(
    client: Client, jobs: List[Job], options: Options, retries: int, threads: Optional[int]
) -> Iterator[Tuple[Job, Outcome]]:
    """Runs the jobs on the client's cluster, yielding each with its
    outcome as it ends. The separator plugin is registered for the run
    only; closing the generator early cancels the files not yet done."""
    token = uuid.uuid4().hex[:12]
    name = f"ombrelt-separator-{token}"  # a batch of its own on a shared cluster
    threads = threads if threads is not None else separator_threads(client)
    waiting = iter(sorted(jobs, key=lambda job: -job.size))  # the longest first: a shorter tail
    running: Dict[str, Tuple[Job, Any]] = {}
    finished = as_completed()

    def submit_next() -> bool:
        job = next(waiting, None)
        if job is None:
            return False
        future = client.submit(
            separate_on_worker,
            _task_arguments(job, options),
            name,
            key=f"ombrelt-separate-{token}-{job.index}",
            pure=False,
            retries=retries,
        )
        running[future.key] = (job, future)
        finished.add(future)
        return True

    try:
        plugin = SeparatorPlugin(name, options.models, threads, leave_interrupts=is_local(client))
        client.register_worker_plugin(plugin, name=name)
        while len(running) < _slots(client) and submit_next():
            pass
        for future in finished:
            job, _ = running.pop(future.key)
            outcome = _outcome(future)
            future.release()
            yield job, outcome
            while len(running) < _slots(client) and submit_next():
                pass
    finally:
        if running:
            client.cancel([future for _, future in running.values()])
        with contextlib.suppress(Exception):  # the cluster may be gone already
            client.unregister_worker_plugin(name)
