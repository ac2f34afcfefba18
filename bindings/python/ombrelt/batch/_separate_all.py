"""separate_all: a batch from its paths to its results, skipping what the
manifest has as done and recording the rest as it comes in."""

from __future__ import annotations

import contextlib
import os
from typing import Any, Dict, Iterator, List, Optional, Sequence

from distributed import Client

from .._tables import Stems
from ._bar import FileBar
from ._cluster import default_workers, local_cluster
from ._manifest import Manifest, Record
from ._options import ModelsArg, Options
from ._plan import Job, PathArg, plan
from ._scheduling import run_on_cluster
from ._temporaries import remove_stale_temporaries

Result = Dict[str, Any]


def _result(job: Job, status: str, **fields: Any) -> Result:
    result: Result = {
        "path": job.given,
        "status": status,
        "duration_s": None,
        "elapsed_s": None,
        "worker": None,
    }
    result.update(fields)
    return result


def _skipped(job: Job, record: Record, out_dir: str) -> Result:
    outputs = {stem: os.path.join(out_dir, path) for stem, path in record["outputs"].items()}
    return _result(
        job, "skipped", outputs=outputs, duration_s=record.get("duration_s"), elapsed_s=record.get("elapsed_s")
    )


@contextlib.contextmanager
def _client(client: Optional[Client], workers: Optional[int], retries: int, files: int) -> Iterator[Client]:
    if client is not None:
        yield client
        return
    with local_cluster(workers or default_workers(files), retries) as cluster, Client(cluster) as own:
        yield own


def separate_all(
    paths: Sequence[PathArg],
    out_dir: PathArg,
    client: Optional[Client] = None,
    *,
    stems: Stems = None,
    format: str = "wav16",
    models: ModelsArg = "default",
    sum_to_mix: bool = False,
    wiener: bool = False,
    retries: int = 1,
    progress: Optional[bool] = None,
    root: Optional[PathArg] = None,
    workers: Optional[int] = None,
    threads: Optional[int] = None,
) -> List[Result]:
    """Separates every file of ``paths`` on a Dask cluster, one task per file.

    The stems of ROOT/a/b.mp3 go to OUT_DIR/a/ as b_vocals.wav and so on,
    ``root`` being the paths' deepest common folder unless given. Options
    are those of ``Separator.separate``; ``models`` is loaded once by each
    worker. ``client``: a ``distributed.Client``; None starts a local
    cluster of ``workers`` processes (default: ``default_workers``) for
    the call. ``threads``: those of each worker's separator (default: the
    cores shared between a local cluster's workers, else the library's
    default). ``retries``: how many more times a file whose task raised or
    whose worker died is tried. ``progress``: a bar over the files (None:
    when tqdm is installed; False: none).

    Files the manifest in OUT_DIR has as done with the same options, whose
    stems are still there, are skipped. Returns one dict per path, in
    order: "path" (as given), "status" ("done", "skipped" or "failed"),
    "outputs" ({stem: path}) or "error" (a message), "duration_s",
    "elapsed_s" and "worker". Raises ombrelt.Error for an unknown stem or
    format, and what a worker met loading the library or the models
    (ombrelt.Error, ombrelt.LibraryNotFound) before any file is sent;
    ValueError for a path given twice or outside ``root``.
    """
    options = Options.of(stems, format, models, sum_to_mix, wiener)
    if retries < 0:
        raise ValueError("retries must be 0 or more")
    out = os.path.abspath(os.fspath(out_dir))
    jobs = plan(paths, out, root)
    os.makedirs(out, exist_ok=True)
    manifest = Manifest(out)
    results: List[Optional[Result]] = [None] * len(jobs)
    pending: List[Job] = []
    for job in jobs:
        if job.error is not None:
            results[job.index] = _result(job, "failed", error=job.error)
            continue
        record = manifest.finished(job, options)
        if record is not None:
            results[job.index] = _skipped(job, record, out)
        else:
            pending.append(job)
    bar = FileBar(progress, total=len(jobs), initial=len(jobs) - len(pending))
    try:
        if pending:
            with _client(client, workers, retries, len(pending)) as running_on, contextlib.closing(
                run_on_cluster(running_on, pending, options, retries, threads)
            ) as outcomes:
                for job, outcome in outcomes:
                    if outcome["status"] == "done":
                        manifest.add(job, options, outcome)
                    results[job.index] = _result(job, **outcome)
                    bar.advance(outcome["status"])
    finally:
        bar.close()
        manifest.close()
        remove_stale_temporaries(pending)  # no task of this batch runs any more
    assert all(result is not None for result in results)
    return results  # type: ignore[return-value]
