"""The command: python3 -m ombrelt.batch IN_DIR OUT_DIR [options].

Exit status: 0 when every file was separated (or already was), 1 when any
failed or the batch could not run (models, library, scheduler), 2 for a
usage error, 130 when interrupted.
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from typing import Any, Callable, Dict, List, Optional

from distributed import Client

from .._errors import Error
from .._tables import FORMATS, OUTPUTS
from ._files import find_audio_files
from ._manifest import MANIFEST_NAME
from ._options import Options
from ._separate_all import separate_all
from ._summary import Summary

PROG = "python3 -m ombrelt.batch"
NAME = "ombrelt.batch"  # how messages begin


def _count(least: int) -> Callable[[str], int]:
    """An argparse type: a whole number no less than ``least``."""

    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"'{text}' is not a whole number") from None
        if value < least:
            raise argparse.ArgumentTypeError(f"{value} is below {least}")
        return value

    return parse


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Separates every audio file under IN_DIR into stems under OUT_DIR, "
        "keeping the sub-folders, on a local Dask cluster or on the one at --scheduler. "
        f"Finished files are recorded in OUT_DIR/{MANIFEST_NAME}; a rerun skips them.",
    )
    parser.add_argument("in_dir", metavar="IN_DIR", help="the folder searched, recursively, for audio files")
    parser.add_argument("out_dir", metavar="OUT_DIR", help="where the stems go (created if missing)")
    parser.add_argument(
        "--stems", default="all", help=f"stems separated by commas: {', '.join(OUTPUTS)} or all (the default)"
    )
    formats = [name for name in FORMATS if name != "flac16"]
    parser.add_argument("--format", default="wav16", help=f"{', '.join(formats)} (default wav16)")
    parser.add_argument("--models", default="default", help="default, the name of a model set, or a directory")
    parser.add_argument("--sum-to-mix", action="store_true", help="stems that add up to the song")
    parser.add_argument("--wiener", action="store_true", help="--sum-to-mix refined by a Wiener filter")
    parser.add_argument("--scheduler", metavar="ADDR", help="a running Dask scheduler, e.g. tcp://host:8786")
    parser.add_argument(
        "--workers", type=_count(1), metavar="N", help="worker processes of the local cluster (default: half the cores, at least 2, no more than the files)"
    )
    parser.add_argument(
        "--threads-per-worker",
        type=_count(1),
        metavar="T",
        help="threads of each worker's separation (default: the cores shared between local workers)",
    )
    parser.add_argument(
        "--retries", type=_count(0), default=1, metavar="R", help="further tries of a file whose worker died (default 1)"
    )
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress bar")
    return parser


def _stems(text: str) -> Optional[List[str]]:
    names = [name.strip() for name in text.split(",") if name.strip()]
    return None if "all" in names else names


def main(argv: Optional[List[str]] = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    if not os.path.isdir(args.in_dir):
        parser.error(f"IN_DIR {args.in_dir} is not a folder")
    if os.path.realpath(args.out_dir) == os.path.realpath(args.in_dir):
        parser.error("OUT_DIR must not be IN_DIR: the stems would be taken as songs on a rerun")
    if args.scheduler and args.workers:
        parser.error("--workers is for the local cluster; a cluster at --scheduler has its own")
    stems = _stems(args.stems)
    try:  # before any cluster starts
        Options.of(stems, args.format, args.models, args.sum_to_mix, args.wiener)
    except Error as error:
        parser.error(str(error))

    paths = find_audio_files(args.in_dir, exclude=args.out_dir)
    if not paths:
        print(f"{NAME}: no audio files under {args.in_dir}", file=sys.stderr)
    started = time.monotonic()
    try:
        results = _separate(args, paths, stems)
    except KeyboardInterrupt:
        print(f"{NAME}: interrupted", file=sys.stderr)
        return 130
    except (Error, OSError, ImportError) as error:  # models, library, scheduler, a worker without the package
        print(f"{NAME}: {error}", file=sys.stderr)
        return 1
    summary = Summary.of(results, time.monotonic() - started)
    print(summary)
    return 1 if summary.failed else 0


def _separate(args: argparse.Namespace, paths: List[str], stems: Optional[List[str]]) -> List[Dict[str, Any]]:
    options: Dict[str, Any] = dict(
        stems=stems,
        format=args.format,
        models=args.models,
        sum_to_mix=args.sum_to_mix,
        wiener=args.wiener,
        retries=args.retries,
        progress=False if args.quiet else None,
        root=args.in_dir,
        threads=args.threads_per_worker,
    )
    if args.scheduler:
        with Client(args.scheduler) as client:
            return separate_all(paths, args.out_dir, client, **options)
    return separate_all(paths, args.out_dir, workers=args.workers, **options)
