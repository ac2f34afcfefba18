"""Where the built tree is, for the Python package's tests.

CTest sets OMBRELT_BUILD_DIR (and OMBRELT_LIBRARY, which the package reads
itself) and puts bindings/python on PYTHONPATH; run by hand, set them the
same way.
"""

import os
from pathlib import Path

import pytest


@pytest.fixture(scope="session")
def build_dir() -> Path:
    place = os.environ.get("OMBRELT_BUILD_DIR")
    if not place:
        pytest.skip("OMBRELT_BUILD_DIR is not set: run through ctest")
    return Path(place)


@pytest.fixture(scope="session")
def media_dir(build_dir: Path) -> Path:
    return build_dir / "test-media"


@pytest.fixture(scope="session")
def test_models(build_dir: Path):
    """test_models("identity") is the directory of that test model set."""
    return lambda name: build_dir / "test-models" / name
