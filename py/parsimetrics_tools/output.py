"""Writing results: aligned tables for people, JSON lines and matrices for programs."""

from __future__ import annotations

import csv
import json
from collections.abc import Callable
from typing import IO, Any

# Floats go out through json's own repr, so every digit needed to read the
# same double back is kept.


def json_line(value: Any) -> str:
    return json.dumps(value, ensure_ascii=False)


def fixed(value: float) -> str:
    return f"{value:.4f}"


_Column = tuple[str, int, Callable[[dict], Any]]

_LENGTH: _Column = ("length", 9, lambda r: r["length"])
_COMPLEXITY: _Column = ("complexity", 10, lambda r: r["complexity"])
_H: _Column = ("h", 7, lambda r: fixed(r["h"]))
_EMC: _Column = ("emc", 8, lambda r: fixed(r["emc"]["value"]))
_BLOCKS: _Column = ("blocks", 6, lambda r: len(r["emc"]["summands"]))

COLUMNS: dict[str, list[_Column]] = {
    "factorization": [_LENGTH, _COMPLEXITY],
    "h": [_LENGTH, _H],
    "emc": [_LENGTH, _EMC, _BLOCKS],
    "lz76": [
        _LENGTH,
        _COMPLEXITY,
        _H,
        ("±h", 7, lambda r: fixed(r["normal_error"])),
        _EMC,
        _BLOCKS,
        ("redundancy", 10, lambda r: fixed(r["extras"]["redundancy"])),
    ],
}

_MAX_NAME_WIDTH = 40


def clip_name(name: str, width: int) -> str:
    # Names are paths or "path:record"; the end tells inputs apart, the
    # leading directories rarely do, so those are the part dropped.
    return name if len(name) <= width else "…" + name[len(name) - width + 1 :]


class Table:
    """Rows of fixed-width columns; the name column is sized from the names known in advance."""

    def __init__(self, names: list[str], columns: list[_Column], first: str = "name"):
        self.columns = columns
        self.name_width = min(max([len(first), *map(len, names)]), _MAX_NAME_WIDTH)
        self.first = first

    def header(self) -> str:
        cells = [self.first.ljust(self.name_width)]
        cells += [title.rjust(width) for title, width, _ in self.columns]
        return "  ".join(cells).rstrip()

    def row(self, name: str, result: dict) -> str:
        cells = [clip_name(name, self.name_width).ljust(self.name_width)]
        cells += [str(get(result)).rjust(width) for _, width, get in self.columns]
        return "  ".join(cells).rstrip()


def write_matrix(out: IO[str], names: list[str], matrix: list[list[float]], delimiter: str) -> None:
    writer = csv.writer(out, delimiter=delimiter, lineterminator="\n")
    writer.writerow(["", *names])
    for name, row in zip(names, matrix, strict=True):
        writer.writerow([name, *map(repr, row)])
