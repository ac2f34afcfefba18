"""The outputs and file formats the library knows, by the names Python uses."""

from __future__ import annotations

from typing import Dict, Iterable, Optional, Tuple, Union

from ._errors import Error

# Output i is bit 1 << i, and data[i] of stems handed back in memory.
OUTPUTS: Tuple[str, ...] = ("vocals", "other", "bass", "drums", "instrumental")

# name -> (the library's format number, the file extension). The names are
# the ombrelt command's; "flac16" is what results report for "flac".
FORMATS: Dict[str, Tuple[int, str]] = {
    "wav16": (0, ".wav"),
    "wav24": (1, ".wav"),
    "wav32f": (2, ".wav"),
    "flac": (3, ".flac"),
    "flac16": (3, ".flac"),
    "flac24": (4, ".flac"),
}

Stems = Union[None, str, Iterable[str]]


def _choices(names: Iterable[str]) -> str:
    items = list(names)
    return ", ".join(items[:-1]) + " or " + items[-1]


def output_bits(stems: Stems) -> int:
    """The library's output bits for ``stems`` (None: all five)."""
    if stems is None:
        return (1 << len(OUTPUTS)) - 1
    names = [stems] if isinstance(stems, str) else list(stems)
    if not names:
        raise Error("no stems asked for; choose among " + _choices(OUTPUTS))
    bits = 0
    for name in names:
        if name not in OUTPUTS:
            raise Error(f"unknown stem '{name}'; choose {_choices(OUTPUTS)}")
        bits |= 1 << OUTPUTS.index(name)
    return bits


def format_number(name: str) -> int:
    if name not in FORMATS:
        raise Error(f"unknown format '{name}'; choose {_choices(n for n in FORMATS if n != 'flac16')}")
    return FORMATS[name][0]


def format_of_extension(path: str) -> Optional[str]:
    """The default format of a file named ``path``: wav16 or flac."""
    lower = path.lower()
    for name in ("wav16", "flac"):
        if lower.endswith(FORMATS[name][1]):
            return name
    return None
