"""The options of a batch that decide what its stems are, normalized so
that two runs asking for the same stems compare equal."""

from __future__ import annotations

import os
from dataclasses import asdict, dataclass
from typing import Any, Dict, Optional, Tuple, Union

from .._tables import FORMATS, OUTPUTS, Stems, format_number, output_bits

ModelsArg = Union[str, "os.PathLike[str]"]


def _canonical_format(name: str) -> str:
    format_number(name)  # raises ombrelt.Error naming the choices
    # "flac16" is another name of "flac": one name per format in the manifest.
    return "flac" if FORMATS[name] == FORMATS["flac"] else name


def _canonical_models(models: ModelsArg) -> str:
    name = os.fspath(models)
    # A directory is passed to the workers by its absolute path (paths are
    # the interface between machines); a set's name is resolved on each worker.
    if "/" in name or os.path.isdir(name):
        return os.path.abspath(name)
    return name


@dataclass(frozen=True)
class Options:
    """What a separation writes: the stems (in the library's order), the
    format, the model set and the mixing options."""

    stems: Tuple[str, ...]
    format: str
    models: str
    sum_to_mix: bool
    wiener: bool

    @classmethod
    def of(
        cls,
        stems: Stems = None,
        format: str = "wav16",
        models: ModelsArg = "default",
        sum_to_mix: bool = False,
        wiener: bool = False,
    ) -> "Options":
        """Checks and normalizes the options; raises ombrelt.Error on an
        unknown stem or format."""
        bits = output_bits(stems)
        chosen = tuple(name for i, name in enumerate(OUTPUTS) if bits & (1 << i))
        return cls(chosen, _canonical_format(format), _canonical_models(models), bool(sum_to_mix), bool(wiener))

    @property
    def extension(self) -> str:
        return FORMATS[self.format][1]

    def as_dict(self) -> Dict[str, Any]:
        """The form kept in the manifest (JSON: the stems as a list)."""
        record = asdict(self)
        record["stems"] = list(self.stems)
        return record

    @classmethod
    def from_dict(cls, record: Dict[str, Any]) -> Optional["Options"]:
        """The options of a manifest record, or None when it is not one."""
        try:
            return cls(
                tuple(record["stems"]),
                str(record["format"]),
                str(record["models"]),
                bool(record["sum_to_mix"]),
                bool(record["wiener"]),
            )
        except (KeyError, TypeError):
            return None
