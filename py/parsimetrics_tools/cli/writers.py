"""Writing results: aligned tables for people, JSON lines, CSV and matrices for programs."""

from __future__ import annotations

import csv
import json
import math
import operator
import os
import sys
from collections.abc import Callable, Iterable
from dataclasses import dataclass
from itertools import repeat
from json.encoder import encode_basestring  # the one json_line uses: no ASCII escapes
from typing import IO, Any

from .progress import isatty

def output_mode(args) -> str:
    """The --json/--table/... choice; unchosen, a table on a terminal and the command's own format otherwise."""
    return args.output or ("table" if isatty(sys.stdout) else args.piped_output)


def terminal_width() -> int | None:
    try:
        columns = os.get_terminal_size(sys.stdout.fileno()).columns if sys.stdout.isatty() else 0
    except (OSError, ValueError, AttributeError):
        columns = 0
    return columns or None  # a terminal that reports no size: as for a file


# Floats go out through json's own repr, so every digit needed to read the
# same double back is kept.


# What json.dumps(value, ensure_ascii=False) makes, without building an encoder for every line.
json_line = json.JSONEncoder(ensure_ascii=False).encode


def _json_float(value: float) -> str:
    text = float.__repr__(value)
    return _NOT_FINITE.get(text, text)


_NOT_FINITE = {"nan": "NaN", "inf": "Infinity", "-inf": "-Infinity"}
# json_line of the plain values most fields hold, each in one call rather than through the encoder.
_PLAIN = {str: encode_basestring, int: int.__repr__, float: _json_float, type(None): lambda _: "null"}


def _json_column(values: list) -> Iterable[str]:
    """``json_line`` of each value; a column of one plain type in one pass."""
    kinds = set(map(type, values))
    if kinds == {str}:
        return map(encode_basestring, values)
    if kinds == {int}:
        return _each_distinct(int.__repr__, values)
    if kinds == {float} and all(map(math.isfinite, values)):
        # 0.0 and -0.0 are one key, but two texts.
        return map(float.__repr__, values) if 0.0 in values else _each_distinct(float.__repr__, values)
    return [(_PLAIN.get(type(value)) or json_line)(value) for value in values]


def _each_distinct(encode: Callable[[Any], str], values: list) -> Iterable[str]:
    """``encode`` of each number, each value that repeats encoded once: the lengths of reads repeat, and
    so does h, a function of the length, the factor count and the alphabet size."""
    distinct = set(values)
    if len(distinct) * 2 > len(values):
        return map(encode, values)
    return map({value: encode(value) for value in distinct}.__getitem__, values)


class JsonLines:
    """``json_line`` of flat results in which most fields repeat, such as those of the records of one file.

    ``line(result, group)`` equals ``json_line(result)`` provided that results
    given the same ``group`` agree on every field named in ``shared``: those
    are encoded once per group and key order, and only the others per result.
    """

    def __init__(self, shared: frozenset[str]):
        self._shared = shared
        self._templates: dict[Any, tuple[tuple[str, ...], str, Callable[[dict], tuple], list[str]]] = {}

    def line(self, result: dict, group: Any) -> str:
        keys = tuple(result)
        known = self._templates.get(group)
        if known is None or known[0] != keys:
            known = self._templates[group] = self._template(result, keys)
        return known[1] % tuple([(_PLAIN.get(type(value)) or json_line)(value) for value in known[2](result)])

    def lines(self, sample: dict, group: Any, columns: dict[str, list]) -> list[str]:
        """``line`` of each of several results in ``group`` whose keys are ``sample``'s: ``columns`` holds
        each field that is not shared, one value a result."""
        keys = tuple(sample)
        known = self._templates.get(group)
        if known is None or known[0] != keys:
            known = self._templates[group] = self._template(sample, keys)
        own = known[2](columns)
        if len(columns) != len(own):
            raise ValueError(f"columns {sorted(columns)} are not the fields of the results that are not shared")
        if not own:
            return []
        # Each line joined from the text between the values and the values, without parsing a format.
        texts = [repeat(text) for text in known[3]]
        pieces = [texts[0]]
        for column, text in zip(map(_json_column, own), texts[1:]):
            pieces += [column, text]
        return list(map("".join, zip(*pieces)))

    def _template(self, result: dict, keys: tuple[str, ...]
                  ) -> tuple[tuple[str, ...], str, Callable[[dict], tuple], list[str]]:
        # json.dumps writes an object as "{" + ", ".join(key + ": " + value) + "}".
        slots = []
        texts = ["{"]  # the text before each value that is not shared, and after the last
        for index, (key, value) in enumerate(result.items()):
            texts[-1] += ", " * bool(index) + json_line(key) + ": "
            if key in self._shared:
                texts[-1] += json_line(value)
            else:
                slots.append(key)
                texts.append("")
        texts[-1] += "}"
        if len(slots) > 1:
            values = operator.itemgetter(*slots)
        else:  # itemgetter gives one value bare, and takes no keys at all
            values = lambda result: tuple(result[key] for key in slots)  # noqa: E731
        return keys, "%s".join(text.replace("%", "%%") for text in texts), values, texts


def fixed(value: float | None) -> str:
    return "—" if value is None or (isinstance(value, float) and math.isnan(value)) else f"{value:.4f}"


@dataclass(frozen=True)
class Column:
    title: str
    width: int
    get: Callable[[dict], Any]
    # Columns that do not fit the terminal are left out, lowest priority first;
    # the JSON output always has every value.
    priority: int = 0


def _h_title(log_base: int | None) -> str:
    # Normalized (base k, the distinct symbols) unless a base was chosen.
    if log_base is None:
        return "h"
    return "h(bits)" if log_base == 2 else f"h(base {log_base})"


def columns(measure: str, log_base: int | None = None) -> list[Column]:
    """The table's columns for a measure; ``parsimetrics explain`` defines each."""
    length = Column("length", 9, lambda r: r["length"], 3)
    k = Column("k", 3, lambda r: r["alphabet_size"], 2)
    complexity = Column("complexity", 10, lambda r: r["complexity"], 3)
    # Beside complexity where the table has room; the JSON always has it.
    ks = Column("ks_complexity", 13, lambda r: r["ks_complexity"], 1)
    h = Column(_h_title(log_base), 7, lambda r: fixed(r["h"]), 3)
    emc = Column("emc", 8, lambda r: fixed(r["emc"]["value"]), 3)
    blocks = Column("blocks", 6, lambda r: len(r["emc"]["summands"]), 0)
    if measure.startswith("permutation:"):
        return [k, length, ks, Column("permutation_lzc", 15, lambda r: fixed(r["permutation_lzc"]), 1)]
    return {
        "factorization": [k, length, complexity, ks],
        "h": [k, length, h],
        "emc": [k, length, emc, blocks],
        "kaspar_schuster": [k, length, ks, Column("ks_normalized", 13, lambda r: fixed(r["ks_normalized"]), 1)],
        "lz76": [
            k,
            length,
            complexity,
            h,
            Column("normal_error", 12, lambda r: fixed(r["normal_error"]), 1),
            emc,
            blocks,
            Column("redundancy", 10, lambda r: fixed(r["extras"]["redundancy"]), 0),
        ],
    }[measure]


_MAX_NAME_WIDTH = 40
_MIN_NAME_WIDTH = 12
_GAP = "  "


def clip_name(name: str, width: int) -> str:
    # Names are paths or "path:record"; the end tells inputs apart, the
    # leading directories rarely do, so those are the part dropped.
    return name if len(name) <= width else "…" + name[len(name) - width + 1 :]


class Table:
    """Rows of fixed-width columns; the name column is sized from the names known in advance.

    With a terminal ``width``, the name column takes what the other columns
    leave, and columns are dropped (lowest priority first) when even a short
    name column would not fit.
    """

    def __init__(self, names: list[str], columns: list[Column], first: str = "name", width: int | None = None):
        wanted = max([len(first), *map(len, names)])
        self.columns = list(columns)
        self.first = first
        if width is None:
            self.name_width = min(wanted, _MAX_NAME_WIDTH)
            return

        def room() -> int:
            return width - sum(c.width + len(_GAP) for c in self.columns)

        while room() < min(wanted, _MIN_NAME_WIDTH) and any(c.priority < 3 for c in self.columns):
            lowest = min(c.priority for c in self.columns)
            drop = max(i for i, c in enumerate(self.columns) if c.priority == lowest)
            del self.columns[drop]
        # On a very narrow terminal the name keeps a readable minimum and the rows wrap.
        self.name_width = max(min(wanted, room()), min(wanted, _MIN_NAME_WIDTH), len(first))

    def header(self) -> str:
        cells = [self.first.ljust(self.name_width)]
        cells += [c.title.rjust(c.width) for c in self.columns]
        return _GAP.join(cells).rstrip()

    def row(self, name: str, result: dict) -> str:
        cells = [clip_name(name, self.name_width).ljust(self.name_width)]
        cells += [str(c.get(result)).rjust(c.width) for c in self.columns]
        return _GAP.join(cells).rstrip()


def _cell(value: float | None) -> str:
    return "" if value is None else repr(value)


def write_matrix(out: IO[str], names: list[str], matrix: list[list[float | None]], delimiter: str) -> None:
    """Labelled matrix, every digit kept; a pair that could not be computed is an empty cell."""
    writer = csv.writer(out, delimiter=delimiter, lineterminator="\n")
    writer.writerow(["", *names])
    for name, row in zip(names, matrix, strict=True):
        writer.writerow([name, *map(_cell, row)])


def matrix_table(names: list[str], matrix: list[list[float | None]], width: int | None = None) -> list[str]:
    """The matrix aligned for reading, 4 decimals; long names are clipped at the front."""
    cell = 6  # "0.1234"
    label = max(map(len, names))
    if width is not None:
        label = max(min(label, width - len(names) * (cell + 2)), _MIN_NAME_WIDTH)
    head = min(max(map(len, names)), 10)
    heads = [clip_name(n, head) for n in names]
    cell = max(cell, head)
    lines = [" " * label + "".join(_GAP + h.rjust(cell) for h in heads)]
    for name, row in zip(names, matrix, strict=True):
        cells = "".join(_GAP + fixed(v).rjust(cell) for v in row)
        lines.append(clip_name(name, label).ljust(label) + cells)
    return [line.rstrip() for line in lines]
