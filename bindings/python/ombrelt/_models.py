"""Where a model set is: a directory, "default", or the name of a set.

- a path (it has a slash, or names a directory here) is used as it is;
- "default" is the default set installed with the library
  (``<libdir>/../share/tavrin-ombrelt/models``), or the build tree's
  (``build/models``) when the library is used from there;
- any other name is a set fetched by ``scripts/get-models.sh`` into the
  user's data directory (``$XDG_DATA_HOME`` or ``~/.local/share``, then
  ``tavrin-ombrelt/models/NAME``), or one installed beside the default set.

These are the rules the ``ombrelt`` command follows for ``-m``.
"""

from __future__ import annotations

import os
from pathlib import Path
from typing import List, Optional, Union

from ._errors import Error

STEM_MODEL_FILES = (
    "umxl_vocals.onnx",
    "umxl_other.onnx",
    "umxl_bass.onnx",
    "umxl_drums.onnx",
)


def has_model_set(directory: Union[str, os.PathLike]) -> bool:
    """Whether the directory holds all four stem models."""
    return all((Path(directory) / name).is_file() for name in STEM_MODEL_FILES)


def _installed_sets_dir(library_file: Path) -> Path:
    return library_file.parent.parent / "share" / "tavrin-ombrelt" / "models"


def _build_tree_models(library_file: Path) -> Path:
    return library_file.parent.parent / "models"


def default_model_dir(library_file: Path) -> Path:
    installed = _installed_sets_dir(library_file)
    build_tree = _build_tree_models(library_file)
    if not has_model_set(installed) and has_model_set(build_tree):
        return build_tree
    return installed


def user_sets_dir() -> Optional[Path]:
    xdg = os.environ.get("XDG_DATA_HOME", "")
    if xdg.startswith("/"):
        data_home = Path(xdg)
    else:
        home = os.environ.get("HOME", "")
        if not home:
            return None
        data_home = Path(home) / ".local" / "share"
    return data_home / "tavrin-ombrelt" / "models"


def resolve(models: Union[str, os.PathLike], library_file: Path) -> Path:
    """The directory of the model set named by ``models``."""
    name = os.fspath(models)
    if not name:
        raise Error("models is empty: give \"default\", a set's name or a directory")
    if "/" in name or os.path.isdir(name):
        return Path(name)
    if name == "default":
        return default_model_dir(library_file)
    tried: List[Path] = []
    user = user_sets_dir()
    if user is not None:
        tried.append(user / name)
    tried.append(_installed_sets_dir(library_file) / name)
    for place in tried:
        if has_model_set(place):
            return place
    raise Error(
        f"no model set '{name}' in "
        + " or ".join(str(p) for p in tried)
        + f"; get it with 'scripts/get-models.sh {name}' from the tavrin-ombrelt sources,"
        " or give a directory"
    )
