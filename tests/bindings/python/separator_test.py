"""The ombrelt package against the test model sets: every call, its errors,
arrays against files, and the ways a call is cancelled."""

import os
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import ombrelt
from wav_files import read_wav, write_float_wav

ALL = ["vocals", "other", "bass", "drums", "instrumental"]


@pytest.fixture(scope="module")
def identity(test_models):
    with ombrelt.Separator(test_models("identity")) as separator:
        yield separator


@pytest.fixture
def song(media_dir, tmp_path) -> Path:
    """A 2 s stereo song under the name song.wav."""
    path = tmp_path / "song.wav"
    shutil.copy(media_dir / "stereo_44k_2s.wav", path)
    return path


@pytest.fixture
def long_song(media_dir) -> Path:
    """10 s: six chunks, so a call can be stopped half-way."""
    return media_dir / "stereo_44k_10s.wav"


def noise(frames: int, channels: int, seed: int = 1) -> np.ndarray:
    return (np.random.default_rng(seed).standard_normal((frames, channels)) * 0.1).astype(np.float32)


# ---- probe, version, opening -------------------------------------------------


def test_version_and_probe(media_dir):
    assert ombrelt.version() == "1.0.0"
    info = ombrelt.probe(media_dir / "stereo_48k_2s.wav")
    assert info["duration_s"] == pytest.approx(2.0, abs=0.01)
    assert (info["sample_rate"], info["channels"]) == (48000, 2)
    with ombrelt.Separator(media_dir.parent / "test-models" / "identity") as separator:
        assert separator.probe(media_dir / "mono_44k_2s.wav")["channels"] == 1


@pytest.mark.parametrize(
    "name, message",
    [
        ("missing.wav", "cannot open {path}"),
        ("not_media.txt", "cannot open {path}"),
        ("video_only.mp4", "no audio stream in {path}"),
    ],
)
def test_probe_errors(media_dir, name, message):
    path = media_dir / name
    with pytest.raises(ombrelt.Error) as error:
        ombrelt.probe(path)
    assert str(error.value) == message.format(path=path)


@pytest.mark.parametrize(
    "models, threads, message",
    [
        ("{sets}/missing_bass", None, "OrtCreateSession: Load model from {sets}/missing_bass/umxl_bass.onnx"),
        ("{sets}/wrong_shape", None, "warmup OrtRun: Got invalid dimensions"),
        ("{sets}/identity", 65, "threads must be 0 to 64"),
        ("{sets}/identity", -1, "threads must be 0 to 64"),
        ("no-such-set", None, "no model set 'no-such-set' in "),
        ("", None, "models is empty"),
    ],
)
def test_open_errors(test_models, models, threads, message):
    sets = str(test_models("identity").parent)
    with pytest.raises(ombrelt.Error) as error:
        ombrelt.Separator(models.format(sets=sets), threads=threads)
    assert str(error.value).startswith(message.format(sets=sets))


def test_model_sets_by_name(test_models, build_dir, tmp_path, monkeypatch):
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path))
    mine = tmp_path / "tavrin-ombrelt" / "models" / "mine"
    shutil.copytree(test_models("zero"), mine)
    monkeypatch.chdir(tmp_path)  # a name, not a directory here
    with ombrelt.Separator("mine") as separator:
        assert separator.model_dir == mine
    with ombrelt.Separator() as separator:
        assert separator.model_dir == build_dir / "models"


# ---- separate to files -------------------------------------------------------


@pytest.mark.parametrize(
    "stems, written",
    [
        (None, ALL),
        ("vocals", ["vocals"]),
        (["bass", "instrumental"], ["bass", "instrumental"]),
    ],
)
def test_separate_writes_the_stems_asked_for(identity, song, tmp_path, stems, written):
    out = tmp_path / "stems"
    result = identity.separate(song, out, stems=stems, progress=False)
    assert [k for k in result if k in ALL] == written
    assert sorted(os.listdir(out)) == sorted(f"song_{s}.wav" for s in written)
    for stem in written:
        samples, rate = read_wav(Path(result[stem]))
        assert rate == 44100 and samples.shape == (88200, 2)
    assert result["duration_s"] == pytest.approx(2.0)
    assert (result["format"], result["sum_to_mix"], result["wiener"]) == ("wav16", False, False)


@pytest.mark.parametrize(
    "name, reported, extension",
    [
        ("wav16", "wav16", ".wav"),
        ("wav24", "wav24", ".wav"),
        ("wav32f", "wav32f", ".wav"),
        ("flac", "flac16", ".flac"),
        ("flac24", "flac24", ".flac"),
    ],
)
def test_formats(identity, song, tmp_path, name, reported, extension):
    result = identity.separate(song, tmp_path / "out", stems="drums", format=name, base_name="x", progress=False)
    assert result["format"] == reported
    assert result["drums"] == str(tmp_path / "out" / f"x_drums{extension}")
    assert ombrelt.probe(result["drums"])["sample_rate"] == 44100


def test_modes_reach_the_library(identity, song, tmp_path):
    result = identity.separate(song, tmp_path / "out", sum_to_mix=True, wiener=True, progress=False)
    assert (result["sum_to_mix"], result["wiener"]) == (True, True)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"stems": "guitar"}, "unknown stem 'guitar'; choose vocals, other, bass, drums or instrumental"),
        ({"stems": []}, "no stems asked for; choose among vocals, other, bass, drums or instrumental"),
        ({"format": "mp3"}, "unknown format 'mp3'; choose wav16, wav24, wav32f, flac or flac24"),
        ({"out_dir": ""}, "out_dir is empty"),
        ({"path": "missing.wav"}, "cannot open missing.wav"),
    ],
)
def test_separate_errors(identity, song, tmp_path, kwargs, message):
    arguments = {"path": song, "out_dir": tmp_path / "out", "progress": False, **kwargs}
    with pytest.raises(ombrelt.Error) as error:
        identity.separate(**arguments)
    assert str(error.value) == message
    assert not (tmp_path / "out").exists()


def test_a_failing_model_leaves_nothing(test_models, song, tmp_path):
    with ombrelt.Separator(test_models("fails_on_signal")) as separator:
        with pytest.raises(ombrelt.Error) as error:
            separator.separate(song, tmp_path / "out", progress=False)
        assert str(error.value).startswith("OrtRun: ")
        with pytest.raises(ombrelt.Error):
            separator.separate_array(noise(44100, 2), 44100, progress=False)
    assert not (tmp_path / "out").exists()


# ---- arrays ------------------------------------------------------------------


@pytest.mark.parametrize("rate, channels", [(44100, 2), (48000, 1), (22050, 3)])
def test_arrays_equal_files(identity, tmp_path, rate, channels):
    samples = noise(rate * 3, channels)
    path = tmp_path / "in.wav"
    write_float_wav(path, samples, rate)
    files = identity.separate(path, tmp_path / "out", format="wav32f", progress=False)
    arrays = identity.separate_array(samples, rate, progress=False)
    assert list(arrays) == ALL
    for stem in ALL:
        from_file, file_rate = read_wav(Path(files[stem]))
        assert file_rate == ombrelt.STEM_RATE
        assert arrays[stem].dtype == np.float32 and arrays[stem].shape[1] == 2
        np.testing.assert_array_equal(arrays[stem], from_file)


def test_arrays_of_other_shapes_and_types(identity, test_models):
    mono = noise(44100, 1)
    flat = identity.separate_array(mono[:, 0].astype(np.float64), 44100, stems="vocals", progress=False)
    as_column = identity.separate_array(mono, 44100, stems="vocals", progress=False)
    assert list(flat) == ["vocals"]
    np.testing.assert_array_equal(flat["vocals"], as_column["vocals"])
    strided = noise(88200, 2)[::2]  # not contiguous
    assert identity.separate_array(strided, 22050, stems="bass", progress=False)["bass"].shape[1] == 2
    with ombrelt.Separator(test_models("zero")) as zero:
        silent = zero.separate_array(noise(44100, 2), 44100, progress=False)
        assert all(not np.any(stem) for stem in silent.values())


@pytest.mark.parametrize(
    "samples, rate, message",
    [
        (np.zeros((4, 4, 2), np.float32), 44100, "samples must be (frames, channels), not of shape (4, 4, 2)"),
        (np.zeros((44100, 2), np.int16), 44100, "samples must be floating point, not int16"),
        (np.zeros((4409, 2), np.float32), 44100, "audio too short (4409 samples)"),
        (np.zeros((44100, 65), np.float32), 44100, None),
        (np.zeros((44100, 2), np.float32), 999, None),
    ],
)
def test_array_errors(identity, samples, rate, message):
    with pytest.raises(ombrelt.Error) as error:
        identity.separate_array(samples, rate, progress=False)
    if message is not None:
        assert str(error.value) == message


# ---- mute --------------------------------------------------------------------


@pytest.mark.parametrize(
    "mode, keep_stems, out_name, files",
    [
        ("vocal", False, "karaoke.flac", ["karaoke.flac"]),
        ("vocal", True, "karaoke.wav", ["karaoke.wav", "karaoke_bass.wav", "karaoke_drums.wav", "karaoke_other.wav"]),
        ("instrumental", False, "a cappella.wav", ["a cappella.wav"]),
    ],
)
def test_mute(identity, song, tmp_path, mode, keep_stems, out_name, files):
    out = tmp_path / "new" / out_name
    result = identity.mute(song, out, mode=mode, keep_stems=keep_stems, progress=False)
    assert (result["path"], result["mode"]) == (str(out), mode)
    assert sorted(os.listdir(out.parent)) == sorted(files)
    assert "instrumental" not in result and "vocals" not in result


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"mode": "karaoke"}, "unknown mode 'karaoke'; choose vocal or instrumental"),
        ({"out_path": "out.mp3"}, "cannot write 'out.mp3': out_path must end in .wav or .flac"),
        ({"format": "flac24"}, "format flac24 writes .flac files, not out.wav"),
        ({"format": "wav"}, "unknown format 'wav'; choose wav16, wav24, wav32f, flac or flac24"),
        ({"mode": "instrumental", "keep_stems": True}, "keep_stems goes with mode vocal"),
    ],
)
def test_mute_errors(identity, song, tmp_path, monkeypatch, kwargs, message):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(ombrelt.Error) as error:
        identity.mute(**{"path": song, "out_path": "out.wav", "progress": False, **kwargs})
    assert str(error.value) == message


# ---- progress and cancelling ---------------------------------------------------


def run_on(separator, kind, song, out_dir, progress):
    if kind == "file":
        return separator.separate(song, out_dir, progress=progress)
    samples, rate = read_wav(song)
    return separator.separate_array(samples, rate, progress=progress)


def test_progress_reports_rise_to_one(identity, long_song, tmp_path):
    seen = []
    identity.separate(long_song, tmp_path / "out", progress=seen.append)
    assert seen == sorted(seen) and seen[-1] == 1.0 and len(seen) == 7


@pytest.mark.parametrize("kind", ["file", "array"])
def test_cancel_from_another_thread(identity, long_song, tmp_path, kind):
    reported, cancelled = threading.Event(), threading.Event()

    def progress(fraction):
        reported.set()
        cancelled.wait(10)  # the cancel lands while this call still runs

    def canceller():
        reported.wait(10)
        identity.cancel()
        cancelled.set()

    thread = threading.Thread(target=canceller)
    thread.start()
    with pytest.raises(ombrelt.Cancelled) as error:
        run_on(identity, kind, long_song, tmp_path / "out", progress)
    thread.join()
    assert str(error.value) == "cancelled"
    assert not (tmp_path / "out").exists()
    # The separator goes on, and the cancel is not remembered.
    assert run_on(identity, kind, long_song, tmp_path / "out", False)


class Stop(Exception):
    pass


def stop(fraction):
    raise Stop


def kill_with_sigint(fraction):
    os.kill(os.getpid(), signal.SIGINT)
    time.sleep(0.05)  # the handler runs at the next chance Python gets


@pytest.mark.parametrize(
    "progress, raised",
    [
        (lambda fraction: fraction > 0.3, ombrelt.Cancelled),  # a true return cancels
        (stop, Stop),  # the callable's own exception comes through
        (kill_with_sigint, KeyboardInterrupt),  # Ctrl-C in the main thread
    ],
)
@pytest.mark.parametrize("kind", ["file", "array"])
def test_a_call_stopped_by_its_progress_leaves_nothing(identity, long_song, tmp_path, kind, progress, raised):
    with pytest.raises(raised):
        run_on(identity, kind, long_song, tmp_path / "out", progress)
    assert not (tmp_path / "out").exists()
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler


@pytest.mark.parametrize("second_call", ["separate", "probe"])
def test_one_call_at_a_time(identity, song, tmp_path, second_call):
    def again(fraction):
        if second_call == "probe":
            identity.probe(song)
        else:
            identity.separate(song, tmp_path / "inner", progress=False)

    with pytest.raises(ombrelt.Error) as error:
        identity.separate(song, tmp_path / "outer", progress=again)
    assert str(error.value).startswith("separator is busy")
    assert not (tmp_path / "outer").exists() and not (tmp_path / "inner").exists()


def test_a_closed_separator(test_models, song, tmp_path):
    separator = ombrelt.Separator(test_models("identity"))
    separator.close()
    separator.close()
    separator.cancel()
    with pytest.raises(ombrelt.Error, match="^separator is closed$"):
        separator.separate(song, tmp_path / "out")


# ---- in a process of its own -----------------------------------------------------

CTRL_C_SCRIPT = """
import sys, time, ombrelt
started = False
def progress(fraction):
    global started
    if not started:
        print("started", flush=True)
        started = True
    time.sleep(0.2)
with ombrelt.Separator(sys.argv[1]) as separator:
    separator.separate(sys.argv[2], sys.argv[3], progress=progress)
"""


def test_ctrl_c_cancels_and_leaves_no_files(test_models, long_song, tmp_path):
    out = tmp_path / "out"
    child = subprocess.Popen(
        [sys.executable, "-c", CTRL_C_SCRIPT, str(test_models("identity")), str(long_song), str(out)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    assert child.stdout.readline() == "started\n"
    child.send_signal(signal.SIGINT)
    _, stderr = child.communicate(timeout=60)
    # Python ends on an uncaught KeyboardInterrupt by dying of SIGINT itself.
    assert child.returncode == -signal.SIGINT and stderr.rstrip().endswith("KeyboardInterrupt"), stderr
    assert not out.exists()


def test_a_missing_library_is_named(tmp_path):
    env = dict(os.environ, OMBRELT_LIBRARY=str(tmp_path / "nowhere"))
    child = subprocess.run(
        [sys.executable, "-c", "import ombrelt; ombrelt.version()"], env=env, capture_output=True, text=True
    )
    assert child.returncode == 1
    assert f"cannot load the tavrin-ombrelt session library; tried {tmp_path / 'nowhere'} (missing)" in child.stderr
