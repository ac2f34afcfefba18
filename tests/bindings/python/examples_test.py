"""The Python examples run as the README shows them."""

import os
import subprocess
import sys
from pathlib import Path

EXAMPLES = Path(__file__).resolve().parents[3] / "examples" / "python"


def test_separate_example(test_models, media_dir, tmp_path):
    done = subprocess.run(
        [sys.executable, str(EXAMPLES / "separate.py"), str(media_dir / "stereo_44k_2s.wav"), str(tmp_path / "out"), str(test_models("identity"))],
        capture_output=True,
        text=True,
    )
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[0].endswith("stereo_44k_2s.wav: 2.0 s, 44100 Hz, 2 channels")
    assert sorted(os.listdir(tmp_path / "out")) == sorted(
        f"stereo_44k_2s_{stem}.flac" for stem in ("vocals", "other", "bass", "drums", "instrumental")
    )
    assert lines[-1].startswith("instrumental: 44084 frames x 2 at 44100 Hz")
