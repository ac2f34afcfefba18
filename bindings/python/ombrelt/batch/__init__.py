"""Separating many files on a Dask cluster.

    python3 -m ombrelt.batch IN_DIR OUT_DIR [--format flac] [--scheduler ADDR]

or, from Python:

    from ombrelt.batch import separate_all
    results = separate_all(paths, "stems", format="flac")   # a local cluster
    results = separate_all(paths, "stems", client=client)   # a cluster of yours

Each worker process loads the models once (a worker plugin) and separates
one file at a time; the client records every finished file in a manifest
in the output folder, so that a rerun skips what is done. BATCH.md beside
the package tells how to run it on several machines.
"""

from ._cluster import default_workers, local_cluster
from ._files import AUDIO_EXTENSIONS, find_audio_files
from ._manifest import MANIFEST_NAME
from ._separate_all import separate_all
from ._summary import Summary

__all__ = [
    "AUDIO_EXTENSIONS",
    "MANIFEST_NAME",
    "Summary",
    "default_workers",
    "find_audio_files",
    "local_cluster",
    "separate_all",
]
