"""Reading numbers: value streams, whitespace and delimited tables, with one rule for gaps.

Conversion is NumPy's, on whole columns at once; Python loops run only over
rows of tables and over the tokens of an input that is about to be refused
(to name the line at fault).
"""

from __future__ import annotations

import csv
import io
import re
from collections.abc import Callable
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from .records import InputError

# Gaps: what spreadsheets, R and JSON write for a missing value (compared in lower case).
MISSING_WORDS = ("", "nan", "na", "n/a", "null", "none")
_NUMBER = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?\Z")
# Characters a plain decimal number may hold; anything else sends a column down the careful path.
_PLAIN = re.compile(r"[^0-9.eE+\-]")
_PLAIN_BYTES = b"0123456789.eE+-"
_SPACE_BYTES = b" \t\r\n\v\f"


@dataclass(frozen=True)
class Numbers:
    values: npt.NDArray[np.float64] | npt.NDArray[np.int64]
    integral: bool  # every value was written as an integer
    dropped: int  # gaps left out under --missing drop
    column: int | str | None = None  # the table column read, by name if it has one


def _shown(token: str) -> str:
    return repr(token if len(token) <= 40 else token[:37] + "...")


def convert(tokens: list[str], where: Callable[[int], str], missing: str, source: str) -> Numbers:
    """Numbers from their text, in order; ``where(i)`` names the line of token i for messages."""
    if not tokens:
        raise InputError(f"{source}: no values")
    text = np.array(tokens)
    joined = "".join(tokens)
    careful = bool(_PLAIN.search(joined)) or "" in tokens
    kept = None  # positions of the tokens left after gaps were dropped
    if careful:
        text = np.char.strip(text)
        gap = np.isin(np.char.lower(text), MISSING_WORDS)
        count = int(np.count_nonzero(gap))
        if count:
            if missing != "drop":
                what = f"{count} missing values, the first on this line" if count > 1 else "a missing value"
                raise InputError(f"{where(int(np.argmax(gap)))}: {what}; --missing drop leaves them out")
            kept = np.flatnonzero(~gap)
            text = text[kept]
            if not len(text):
                raise InputError(f"{source}: no values, only {count} missing")
            joined = "".join(text.tolist())

    def at(i: int) -> str:
        return where(int(kept[i]) if kept is not None else i)

    # NumPy also takes 'inf', '1_000' and the like, which are not numbers here.
    values = None if careful and _PLAIN.search(joined) else _parse(text, not re.search(r"[.eE]", joined))
    if values is None:
        _refuse(text.tolist(), at)
    assert values is not None
    if values.dtype.kind == "f" and not np.isfinite(values).all():
        i = int(np.argmin(np.isfinite(values)))
        raise InputError(f"{at(i)}: number out of range {_shown(str(text[i]))}")
    return Numbers(values, values.dtype.kind == "i" or not re.search(r"[.eE]", joined), len(tokens) - len(text))


def _parse(text: np.ndarray, integral: bool) -> np.ndarray | None:
    if integral:
        try:
            return text.astype(np.int64)
        except (OverflowError, ValueError):  # beyond 64 bits (or Python's digit limit): as floats
            pass
    try:
        return text.astype(np.float64)
    except ValueError:
        return None


def _refuse(tokens: list[str], where: Callable[[int], str]) -> None:
    for i, token in enumerate(tokens):
        if not _NUMBER.match(token):
            if token.lower().lstrip("+-") in ("inf", "infinity"):
                raise InputError(f"{where(i)}: infinite value {_shown(token)}")
            raise InputError(f"{where(i)}: bad number {_shown(token)}")
    raise AssertionError("no bad token found")


# --------------------------------------------------------------------------
# A stream of values: whitespace and commas between them


def read_stream(data: bytes, source: str, missing: str) -> Numbers:
    """Every value in reading order, rows of any length; an empty field between commas is a gap."""
    if not data.translate(None, _PLAIN_BYTES + _SPACE_BYTES):
        # Plain numbers between whitespace: straight to NumPy.
        tokens = data.split()
        if not tokens:
            raise InputError(f"{source}: no values")
        integral = not re.search(rb"[.eE]", data)
        values = _parse(np.array(tokens), integral)
        if values is not None and (values.dtype.kind != "f" or np.isfinite(values).all()):
            return Numbers(values, integral, 0)
    words: list[str] = []
    lines: list[int] = []
    for lineno, line in enumerate(data.decode("utf-8", "replace").splitlines(), 1):
        fields = line.split(",")
        for field in fields:
            parts = field.split() or ([""] if len(fields) > 1 else [])
            words.extend(parts)
            lines.extend([lineno] * len(parts))
    return convert(words, lambda i: f"{source}:{lines[i]}", missing, source)


# --------------------------------------------------------------------------
# Tables: a header row (or not), columns by name or number


def split_rows(text: str, delimiter: str | None) -> list[tuple[int, list[str]]]:
    """(line number, cells) of every row; blank rows kept, as they may be gaps."""
    if delimiter is None:
        return [(n, line.split()) for n, line in enumerate(text.splitlines(), 1)]
    reader = csv.reader(io.StringIO(text, newline=""), delimiter=delimiter)
    try:
        return [(reader.line_num, row) for row in reader]
    except csv.Error as exc:
        raise InputError(f"line {reader.line_num}: malformed table row ({exc})") from None


def detect_delimiter(first_line: str, default: str | None = None) -> str | None:
    """The delimiter of a table from its first row; ``None`` for cells between whitespace."""
    if "\t" in first_line and "," not in first_line:
        return "\t"
    if ";" in first_line and "," not in first_line:
        return ";"
    return "," if "," in first_line else default


def _is_number(cell: str) -> bool:
    return bool(_NUMBER.match(cell.strip()))


def _is_gap(cell: str) -> bool:
    return cell.strip().lower() in MISSING_WORDS


def has_header(rows: list[list[str]]) -> bool:
    """Whether the first row names the columns.

    It does if any cell is neither a number nor a gap; or, all numbers, if a
    column holds an integer there and only fractions below (years naming
    columns of measurements, say).
    """
    first, below = rows[0], rows[1:50]
    if not all(_is_number(c) or _is_gap(c) for c in first):
        return True
    for index, cell in enumerate(first):
        column = [row[index].strip() for row in below if index < len(row) and _is_number(row[index])]
        if column and _is_integer(cell) and not any(_is_integer(c) for c in column):
            return True
    return False


def _is_integer(cell: str) -> bool:
    return _is_number(cell) and not re.search(r"[.eE]", cell)


def _column_index(header: list[str] | None, width: int, column: str | None, source: str) -> int:
    names = [c.strip() for c in header] if header else None
    listed = f"columns: {', '.join(names)}" if names else f"{width} columns, numbered from 1"
    if column is None:
        if width == 1:
            return 0
        raise InputError(f"{source}: {width} columns; choose one with --column NAME or --column NUMBER ({listed})")
    if names and column in names:
        return names.index(column)
    if column.isdigit() and 1 <= int(column) <= width:
        return int(column) - 1
    kind = "column" if column.isdigit() else "column named"
    raise InputError(f"{source}: no {kind} {column!r} ({listed})")


def read_table(text: str, source: str, column: str | None, delimiter: str | None, missing: str) -> Numbers:
    """One column of a table; blank rows and empty cells are gaps, like any other missing value."""
    try:
        rows = split_rows(text, delimiter)
    except InputError as exc:
        raise InputError(f"{source}: {exc}") from None
    # Blank lines around the table are layout; blank rows inside it are gaps.
    filled = [i for i, (_, row) in enumerate(rows) if any(c.strip() for c in row)]
    if not filled:
        raise InputError(f"{source}: empty input")
    rows = rows[filled[0] : filled[-1] + 1]
    cells = [r for _, r in rows]
    width = len(cells[0])
    named = column is not None and column in [c.strip() for c in cells[0]]
    by_number = column is not None and column.isdigit() and 1 <= int(column) <= width
    # A first row of numbers is still the header when the column asked for is one of its names.
    header = cells[0] if has_header(cells) or (named and not by_number) else None
    index = _column_index(header, width, column, source)
    body = rows[1:] if header is not None else rows
    tokens, lines = [], []
    for lineno, row in body:
        if index < len(row):
            tokens.append(row[index])
        elif not any(c.strip() for c in row):
            tokens.append("")  # a blank row: a gap in every column
        else:
            raise InputError(f"{source}:{lineno}: no column {index + 1} in this row")
        lines.append(lineno)
    if not tokens:
        raise InputError(f"{source}: no values in column {column or index + 1}")
    numbers = convert(tokens, lambda i: f"{source}:{lines[i]}", missing, source)
    label: int | str = header[index].strip() if header is not None else index + 1
    return Numbers(numbers.values, numbers.integral, numbers.dropped, label)
