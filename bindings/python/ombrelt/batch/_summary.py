"""The table printed at the end of a batch."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, Dict, Iterable, List, Tuple


@dataclass
class Summary:
    """Counts and speed of a batch. ``audio_s`` is the audio separated by
    this run: skipped files count in ``skipped`` only, so the speed is that
    of the work done."""

    done: int = 0
    skipped: int = 0
    failed: int = 0
    audio_s: float = 0.0
    wall_s: float = 0.0
    failures: List[Tuple[str, str]] = field(default_factory=list)  # (path, message)

    @classmethod
    def of(cls, results: Iterable[Dict[str, Any]], wall_s: float) -> "Summary":
        summary = cls(wall_s=wall_s)
        for result in results:
            status = result["status"]
            if status == "done":
                summary.done += 1
                summary.audio_s += result["duration_s"]
            elif status == "skipped":
                summary.skipped += 1
            else:
                summary.failed += 1
                summary.failures.append((result["path"], result["error"]))
        return summary

    @property
    def real_time_factor(self) -> float:
        """Audio time over wall time (0 when nothing ran)."""
        return self.audio_s / self.wall_s if self.wall_s > 0 else 0.0

    def lines(self) -> List[str]:
        speed = f"{self.real_time_factor:.1f}x real time" if self.done else "-"
        rows = [
            ("files done", str(self.done)),
            ("skipped (already done)", str(self.skipped)),
            ("failed", str(self.failed)),
            ("audio", f"{self.audio_s / 3600:.2f} h ({self.audio_s:.1f} s)"),
            ("wall time", f"{self.wall_s:.1f} s"),
            ("speed", speed),
        ]
        width = max(len(label) for label, _ in rows)
        lines = [f"{label:<{width}}  {value}" for label, value in rows]
        if self.failures:
            lines.append("failures:")
            # one line each: library and Dask messages may span several
            lines.extend(f"  {path}: {' '.join(message.split())}" for path, message in self.failures)
        return lines

    def __str__(self) -> str:
        return "\n".join(self.lines())
