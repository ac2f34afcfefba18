"""ombrelt.batch on a local Dask cluster of two worker processes, with the
identity test models (stems as long as the input)."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path
from typing import Any, Callable, Dict, Iterator, List

import pytest

distributed = pytest.importorskip("distributed")

import ombrelt  # noqa: E402
from ombrelt.batch import MANIFEST_NAME, find_audio_files, local_cluster, separate_all  # noqa: E402
from ombrelt.batch._cli import main  # noqa: E402

from batch_fixtures import (  # noqa: E402
    CRASH_ALWAYS,
    CRASH_ONCE,
    CrashPlugin,
    attempts,
    temporaries,
    wav_frames,
    write_song,
    write_songs,
)

SONG_FRAMES = 3 * 44100  # write_song's default length


@pytest.fixture(scope="module")
def identity(test_models: Callable[[str], Path]) -> Path:
    return test_models("identity")


@pytest.fixture(scope="module")
def marks(tmp_path_factory: pytest.TempPathFactory) -> Path:
    return tmp_path_factory.mktemp("crash-marks")


@pytest.fixture(scope="module")
def client(library_dir: Path, marks: Path) -> Iterator[Any]:
    """One cluster for the module: starting one costs seconds."""
    with local_cluster(2, retries=1) as cluster, distributed.Client(cluster) as client:
        client.register_worker_plugin(CrashPlugin(str(marks)))
        yield client


def run(client: Any, models: Path, songs: Path, out: Path, **options: Any) -> List[Dict[str, Any]]:
    return separate_all(find_audio_files(str(songs)), out, client, models=models, progress=False, root=songs, **options)


def manifest(out: Path) -> List[Dict[str, Any]]:
    return [json.loads(line) for line in (out / MANIFEST_NAME).read_text().splitlines()]


def by_name(results: List[Dict[str, Any]]) -> Dict[str, Dict[str, Any]]:
    return {os.path.basename(result["path"]): result for result in results}


def test_every_file_is_done_once_into_its_sub_folder(client: Any, identity: Path, tmp_path: Path) -> None:
    songs, out = tmp_path / "songs", tmp_path / "out"
    # b.wav and b.wave would both write b_vocals.wav
    write_songs(songs, ["one.wav", "a/two.wav", "a/b/b.wav", "a/b/b.wave"])
    results = run(client, identity, songs, out)

    assert [r["status"] for r in results] == ["done"] * 4, results
    lines = manifest(out)
    assert sorted(line["input"] for line in lines) == ["a/b/b.wav", "a/b/b.wave", "a/two.wav", "one.wav"]
    written = [path for result in results for path in result["outputs"].values()]
    assert len(set(written)) == len(written) == 4 * 5
    for result in results:
        relative = os.path.relpath(result["path"], songs)
        for stem, path in result["outputs"].items():
            assert os.path.dirname(path) == str(out / os.path.dirname(relative))
            assert os.path.basename(path).endswith(f"_{stem}.wav")
            assert wav_frames(path) == SONG_FRAMES
        assert result["duration_s"] == pytest.approx(3.0)
        assert result["worker"].startswith("tcp://")
    assert temporaries(out) == []


def test_a_worker_killed_mid_file_gets_its_file_run_again(
    client: Any, identity: Path, marks: Path, tmp_path: Path
) -> None:
    songs, out = tmp_path / "songs", tmp_path / "out"
    crash = f"{CRASH_ONCE}_mid.wav"
    write_songs(songs, ["p.wav", "q.wav", "r.wav", "s.wav"])
    write_song(songs / crash, seconds=5.0)
    results = run(client, identity, songs, out)

    assert [r["status"] for r in results] == ["done"] * 5, results
    tries = attempts(marks, crash)
    assert len(tries) == 2 and tries[1] == "finished", tries
    assert tries[0].startswith("killed with") and tries[0] != "killed with 0 temporaries"
    assert sorted(line["input"] for line in manifest(out)) == sorted(os.listdir(songs))
    assert wav_frames(by_name(results)[crash]["outputs"]["vocals"]) == 5 * 44100
    assert temporaries(out) == []


def test_a_file_that_kills_every_worker_fails_after_two_tries(
    client: Any, identity: Path, marks: Path, tmp_path: Path
) -> None:
    songs, out = tmp_path / "songs", tmp_path / "out"
    crash = f"{CRASH_ALWAYS}_x.wav"
    write_songs(songs, ["p.wav", "q.wav", "r.wav"])
    write_song(songs / crash, seconds=5.0)
    results = by_name(run(client, identity, songs, out))

    assert results[crash]["status"] == "failed"
    assert results[crash]["error"].startswith("KilledWorker: ")
    assert results[crash]["worker"].startswith("tcp://")  # the last to die of it
    assert len(attempts(marks, crash)) == 2
    assert [results[name]["status"] for name in ("p.wav", "q.wav", "r.wav")] == ["done"] * 3
    assert sorted(line["input"] for line in manifest(out)) == ["p.wav", "q.wav", "r.wav"]
    assert temporaries(out) == []


def test_a_corrupt_file_is_reported_with_the_librarys_message(client: Any, identity: Path, tmp_path: Path) -> None:
    songs, out = tmp_path / "songs", tmp_path / "out"
    write_songs(songs, ["good.wav", "fine.wav"])
    corrupt = songs / "corrupt.wav"
    corrupt.write_bytes(os.urandom(20000))
    with ombrelt.Separator(identity) as separator, pytest.raises(ombrelt.Error) as expected:
        separator.separate(str(corrupt), str(tmp_path / "local"), progress=False)

    for _ in range(2):  # a failure is not recorded as done: a rerun tries it again
        results = by_name(run(client, identity, songs, out))
        assert results["corrupt.wav"]["status"] == "failed"
        assert results["corrupt.wav"]["error"] == str(expected.value)
    assert results["good.wav"]["status"] == results["fine.wav"]["status"] == "skipped"
    assert sorted(line["input"] for line in manifest(out)) == ["fine.wav", "good.wav"]


def _rewrite_input(songs: Path, out: Path) -> None:
    write_song(songs / "a.wav", seconds=2.0)


def _remove_a_stem(songs: Path, out: Path) -> None:
    (out / "a_drums.wav").unlink()


@pytest.mark.parametrize(
    "change, options, redone",
    [
        (None, {}, False),
        (None, {"format": "flac"}, True),
        (None, {"stems": ["vocals"]}, True),
        (None, {"sum_to_mix": True}, True),
        (_rewrite_input, {}, True),
        (_remove_a_stem, {}, True),
    ],
    ids=["same", "format", "stems", "sum_to_mix", "input rewritten", "stem removed"],
)
def test_a_rerun_skips_only_what_is_done_as_asked(
    client: Any, identity: Path, tmp_path: Path, change: Any, options: Dict[str, Any], redone: bool
) -> None:
    songs, out = tmp_path / "songs", tmp_path / "out"
    write_songs(songs, ["a.wav", "b.wav"])
    first = by_name(run(client, identity, songs, out))
    stamps = {path: os.stat(path).st_mtime_ns for r in first.values() for path in r["outputs"].values()}
    if change is not None:
        change(songs, out)

    again = by_name(run(client, identity, songs, out, **options))
    assert again["a.wav"]["status"] == ("done" if redone else "skipped")
    if not redone:
        assert again["b.wav"]["status"] == "skipped"
        assert again["a.wav"]["outputs"] == first["a.wav"]["outputs"]
        assert {path: os.stat(path).st_mtime_ns for path in stamps} == stamps
        assert len(manifest(out)) == 2


def test_a_torn_last_line_of_the_manifest_is_passed_over(client: Any, identity: Path, tmp_path: Path) -> None:
    songs, out = tmp_path / "songs", tmp_path / "out"
    write_songs(songs, ["a.wav", "b.wav"])
    run(client, identity, songs, out)
    with open(out / MANIFEST_NAME, "a") as torn:  # as a client killed mid-write leaves it
        torn.write('{"input": "c.wav", "size": 1')
    write_song(songs / "c.wav")

    statuses = {name: r["status"] for name, r in by_name(run(client, identity, songs, out)).items()}
    assert statuses == {"a.wav": "skipped", "b.wav": "skipped", "c.wav": "done"}
    assert {r["status"] for r in run(client, identity, songs, out)} == {"skipped"}


def test_the_command_end_to_end(identity: Path, library_dir: Path, tmp_path: Path) -> None:
    songs, out = tmp_path / "songs", tmp_path / "out"
    write_songs(songs, ["a.wav", "sub/b.wav"])
    (songs / "broken.mp3").write_bytes(b"not audio at all" * 100)
    package = Path(ombrelt.__file__).resolve().parents[1]
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(package), os.environ.get("PYTHONPATH", "")]))
    command = [sys.executable, "-m", "ombrelt.batch", str(songs), str(out), "--models", str(identity), "-q"]

    def table(done: int, skipped: int, failed: int) -> List[str]:
        return [f"files done              {done}", f"skipped (already done)  {skipped}", f"failed                  {failed}"]

    first = subprocess.run(command + ["--workers", "2"], env=env, capture_output=True, text=True, timeout=120)
    assert first.returncode == 1, first.stderr
    lines = first.stdout.splitlines()
    assert lines[:3] == table(2, 0, 1)
    assert lines[5].startswith("speed") and lines[5].endswith("x real time")
    assert lines[6:8] == ["failures:", f"  {songs / 'broken.mp3'}: cannot open {songs / 'broken.mp3'}"]
    assert (out / "sub" / "b_vocals.wav").is_file()

    (songs / "broken.mp3").unlink()
    second = subprocess.run(command, env=env, capture_output=True, text=True, timeout=120)
    assert second.returncode == 0, second.stderr
    assert second.stdout.splitlines()[:3] == table(0, 2, 0)


@pytest.mark.parametrize(
    "arguments, message",
    [
        ([], "the following arguments are required"),
        (["{missing}", "{out}"], "is not a folder"),
        (["{songs}", "{songs}"], "OUT_DIR must not be IN_DIR"),
        (["{songs}", "{out}", "--format", "mp3"], "unknown format 'mp3'"),
        (["{songs}", "{out}", "--stems", "vocals,voice"], "unknown stem 'voice'"),
        (["{songs}", "{out}", "--workers", "0"], "0 is below 1"),
        (["{songs}", "{out}", "--retries", "-1"], "-1 is below 0"),
        (["{songs}", "{out}", "--threads-per-worker", "two"], "'two' is not a whole number"),
        (["{songs}", "{out}", "--scheduler", "tcp://127.0.0.1:1", "--workers", "2"], "--workers is for the local"),
    ],
)
def test_usage_errors(
    arguments: List[str], message: str, tmp_path: Path, capsys: pytest.CaptureFixture[str]
) -> None:
    (tmp_path / "songs").mkdir()
    places = {"songs": tmp_path / "songs", "out": tmp_path / "out", "missing": tmp_path / "missing"}
    with pytest.raises(SystemExit) as exit:
        main([argument.format(**places) for argument in arguments])
    assert exit.value.code == 2
    assert message in capsys.readouterr().err
    assert not (tmp_path / "out").exists()
