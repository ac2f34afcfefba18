"""Fixtures of the Python binding tests: where the built library, models
and media are, from $OMBRELT_LIBRARY and $OMBRELT_BUILD_DIR (the tests
skip when they are not set). CTest sets both and puts bindings/python on
PYTHONPATH; run by hand, set them the same way."""

from __future__ import annotations

import os
from pathlib import Path
from typing import Callable

import pytest


def _from_env(name: str) -> Path:
    value = os.environ.get(name)
    if not value:
        pytest.skip(f"${name} is not set")
    return Path(value)


@pytest.fixture(scope="session")
def library_dir() -> Path:
    """The session library's folder (or the file itself)."""
    return _from_env("OMBRELT_LIBRARY")


@pytest.fixture(scope="session")
def build_dir() -> Path:
    return _from_env("OMBRELT_BUILD_DIR")


@pytest.fixture(scope="session")
def test_models(build_dir: Path) -> Callable[[str], Path]:
    """test_models("identity"): the folder of a test model set."""

    def find(name: str) -> Path:
        path = build_dir / "test-models" / name
        if not path.is_dir():
            pytest.skip(f"no test model set {path}")
        return path

    return find


@pytest.fixture(scope="session")
def media_dir(build_dir: Path) -> Path:
    return build_dir / "test-media"
