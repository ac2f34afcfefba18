"""Builds the package for pip, noting where the session library is.

The package is pure Python over libtavrin-ombrelt-session, which it loads
at run time. A wheel built here records the library's directory, taken from
$OMBRELT_LIBRARY when set, else from the build tree of this checkout
(build/src), else nothing (the system's loader then finds the library by
its SONAME, e.g. after `cmake --install` into /usr/local and ldconfig).
"""

import os
import re
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
SONAME = "libtavrin-ombrelt-session.so.1"


def project_version() -> str:
    text = (HERE.parent.parent / "CMakeLists.txt").read_text()
    return re.search(r"project\(\s*tavrin-ombrelt\s+VERSION\s+([0-9.]+)", text).group(1)


def library_dir():
    env = os.environ.get("OMBRELT_LIBRARY")
    if env:
        path = Path(env).resolve()
        return path if path.is_dir() else path.parent
    build_tree = HERE.parent.parent / "build" / "src"
    return build_tree if (build_tree / SONAME).exists() else None


class BuildPyWithLocation(build_py):
    def run(self):
        super().run()
        found = library_dir()
        if found is not None:
            target = Path(self.build_lib) / "ombrelt" / "_location.py"
            target.write_text(
                "# Written by pip install: the session library's directory.\n"
                f"LIBRARY_DIR = {str(found)!r}\n"
            )


setup(version=project_version(), cmdclass={"build_py": BuildPyWithLocation})
