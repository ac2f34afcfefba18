"""The task run on a worker for one file."""

from __future__ import annotations

import os
from typing import Any, Dict

from distributed import get_worker

from .._errors import Error
from ._plugin import plugin_of_this_worker


def separate_on_worker(job: Dict[str, Any], plugin_name: str) -> Dict[str, Any]:
    """Separates ``job["path"]`` with the worker's separator.

    A file the library refuses (``ombrelt.Error``: a damaged input, a
    folder it cannot write to) is a result, {"status": "failed", "error"}:
    trying it again would fail the same way. Anything else raises, so that
    Dask retries the task.
    """
    plugin = plugin_of_this_worker(plugin_name)
    worker = get_worker().address
    with plugin.lock:
        assert plugin.separator is not None
        os.makedirs(job["out_dir"], exist_ok=True)
        try:
            result = plugin.separator.separate(
                job["path"],
                job["out_dir"],
                stems=job["stems"],
                format=job["format"],
                sum_to_mix=job["sum_to_mix"],
                wiener=job["wiener"],
                progress=False,
                base_name=job["base_name"],
            )
        except Error as error:
            return {"status": "failed", "error": str(error), "worker": worker}
    return {
        "status": "done",
        "outputs": {stem: result[stem] for stem in job["stems"]},
        "duration_s": result["duration_s"],
        "elapsed_s": result["elapsed_s"],
        "worker": worker,
    }
