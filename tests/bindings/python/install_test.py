"""The package as users install it: `cmake --install` for the system's
Python, and pip inside a virtual environment. Each is used from a directory
outside the checkout, with nothing set in the environment."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

CHECKOUT = Path(__file__).resolve().parents[3]

USE_IT = """
import sys, ombrelt
print(ombrelt.__file__)
with ombrelt.Separator(*sys.argv[2:]) as separator:
    print(separator.model_dir)
    print(separator.separate(sys.argv[1], "out", stems="vocals", progress=False)["vocals"])
"""


def clean_env(**extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith("OMBRELT_") and k != "PYTHONPATH"}
    env.update(extra)
    return env


def run(command, **kwargs):
    done = subprocess.run(command, capture_output=True, text=True, **kwargs)
    assert done.returncode == 0, f"{command} failed:\n{done.stdout}\n{done.stderr}"
    return done.stdout.splitlines()


def test_cmake_install_for_the_system_python(build_dir, media_dir, tmp_path):
    prefix = tmp_path / "prefix"
    run(["cmake", "--install", str(build_dir), "--prefix", str(prefix)])
    (package,) = prefix.glob("lib/python3*/*-packages/ombrelt")
    assert (package / "py.typed").is_file()
    lines = run(
        [sys.executable, "-c", USE_IT, str(media_dir / "stereo_44k_2s.wav")],
        cwd=tmp_path,
        env=clean_env(PYTHONPATH=str(package.parent)),
    )
    assert lines == [
        str(package / "__init__.py"),
        str(prefix / "share" / "tavrin-ombrelt" / "models"),
        "out/stereo_44k_2s_vocals.wav",
    ]
    assert (tmp_path / lines[2]).is_file()


def test_pip_install_in_a_virtual_environment(build_dir, media_dir, test_models, tmp_path):
    venv = tmp_path / "venv"
    run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)])
    python = venv / "bin" / "python"
    # The library of the tree under test, wherever its build directory is.
    run(
        [str(python), "-m", "pip", "install", "-q", "--no-build-isolation", "--no-index", str(CHECKOUT / "bindings" / "python")],
        cwd=tmp_path,
        env=clean_env(OMBRELT_LIBRARY=str(build_dir / "src")),
    )
    lines = run(
        [str(python), "-c", USE_IT, str(media_dir / "stereo_44k_2s.wav"), str(test_models("identity"))],
        cwd=tmp_path,
        env=clean_env(),
    )
    assert lines[0].startswith(str(venv / "lib")) and lines[2] == "out/stereo_44k_2s_vocals.wav"
