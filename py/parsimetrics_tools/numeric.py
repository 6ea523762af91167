"""Reading numbers: value streams, whitespace and delimited tables, with one rule for gaps.

Everything stays bytes until NumPy converts a whole column at once.  Python
loops run over the lines of a table (one split each), and over single values
only for an input that is about to be refused, to name the line at fault.
"""

from __future__ import annotations

import csv
import itertools
import re
import warnings
from collections.abc import Callable
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from .records import InputError

# Gaps: what spreadsheets, R and JSON write for a missing value (compared in lower case).
MISSING_WORDS = ("", "nan", "na", "n/a", "null", "none")
# Every spelling of them in upper and lower case, for a set lookup per value.
_GAPS = frozenset(
    "".join(spelling).encode()
    for word in MISSING_WORDS
    for spelling in itertools.product(*({c.lower(), c.upper()} for c in word))
)
_NUMBER = re.compile(rb"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?\Z")
_NUMBER_TEXT = re.compile(_NUMBER.pattern.decode())
# Anything but the characters of plain decimal numbers sends a column down the careful path.
_NOT_PLAIN = re.compile(rb"[^0-9.eE+\-]")
_FRACTION = re.compile(rb"[.eE]")
_SPACE = re.compile(rb"\s")
_LONG_INTEGER = re.compile(rb"\d{19}")
_PLAIN_BYTES = b"0123456789.eE+-"
_SPACE_BYTES = b" \t\n\r\v\f"
# How many rows decide whether the first one is a header.
_SAMPLE_ROWS = 50


@dataclass(frozen=True)
class Numbers:
    values: npt.NDArray[np.float64] | npt.NDArray[np.int64]
    integral: bool  # every value was written as an integer
    dropped: int  # gaps left out under --missing drop
    column: int | str | None = None  # the table column read, by name if it has one


def _shown(token: bytes) -> str:
    text = token.decode("utf-8", "replace")
    return repr(text if len(text) <= 40 else text[:37] + "...")


def convert(tokens: list[bytes], where: Callable[[int], str], missing: str, source: str) -> Numbers:
    """Numbers from their text, in order; ``where(i)`` names the line of token i for messages."""
    if not tokens:
        raise InputError(f"{source}: no values")
    joined = b"".join(tokens)
    kept = None  # positions of the tokens left once gaps are dropped
    careful = bool(_NOT_PLAIN.search(joined)) or b"" in tokens
    if careful:
        if _SPACE.search(joined):
            tokens = [t.strip() for t in tokens]
        gap = np.fromiter(map(_GAPS.__contains__, tokens), bool, len(tokens))
        count = int(np.count_nonzero(gap))
        if count:
            if missing != "drop":
                what = f"{count} missing values, the first on this line" if count > 1 else "a missing value"
                raise InputError(f"{where(int(np.argmax(gap)))}: {what}; --missing drop leaves them out")
            kept = np.flatnonzero(~gap)
            tokens = list(itertools.compress(tokens, (~gap).tolist()))
            if not tokens:
                raise InputError(f"{source}: no values, only {count} missing")
        joined = b"".join(tokens)
        careful = bool(_NOT_PLAIN.search(joined))

    def at(i: int) -> str:
        return where(int(kept[i]) if kept is not None else i)

    integral = not _FRACTION.search(joined)
    # NumPy also takes 'inf', '1_000' and the like, which are not numbers here.
    values = None if careful else _parse(b" ".join(tokens), integral)
    if values is None or len(values) != len(tokens):
        _refuse(tokens, at)
    assert values is not None
    if values.dtype.kind == "f" and not np.isfinite(values).all():
        i = int(np.argmin(np.isfinite(values)))
        raise InputError(f"{at(i)}: number out of range {_shown(tokens[i])}")
    return Numbers(values, integral, 0 if kept is None else len(gap) - len(kept))


def _parse(text: bytes, integral: bool) -> np.ndarray | None:
    """Plain numbers between whitespace, parsed by NumPy in one pass; None if any is malformed."""
    # NumPy's integer parsing saturates past 64 bits: such integers are read as floats.
    dtype = np.int64 if integral and not _LONG_INTEGER.search(text) else np.float64
    with warnings.catch_warnings():
        # A malformed value ends the parse early, with a warning rather than an error.
        warnings.simplefilter("error")
        try:
            return np.fromstring(text, dtype=dtype, sep=" ")
        except (ValueError, DeprecationWarning):
            return None


def _refuse(tokens: list[bytes], where: Callable[[int], str]) -> None:
    for i, token in enumerate(tokens):
        if not _NUMBER.match(token):
            if token.lower().lstrip(b"+-") in (b"inf", b"infinity"):
                raise InputError(f"{where(i)}: infinite value {_shown(token)}")
            raise InputError(f"{where(i)}: bad number {_shown(token)}")
    raise AssertionError("no bad token found")


# --------------------------------------------------------------------------
# A stream of values: whitespace and commas between them


def read_stream(data: bytes, source: str, missing: str) -> Numbers:
    """Every value in reading order, rows of any length; an empty field between commas is a gap."""
    if b"," not in data:
        if not data.translate(None, _PLAIN_BYTES + _SPACE_BYTES):
            # Only digits, signs, points and exponents between whitespace: straight to NumPy.
            integral = not _FRACTION.search(data)
            values = _parse(data, integral)
            if values is not None and len(values) and (values.dtype.kind != "f" or np.isfinite(values).all()):
                return Numbers(values, integral, 0)
        tokens = data.split()

        def where(index: int) -> str:  # only for a message: count the values line by line
            seen = 0
            for lineno, line in enumerate(data.splitlines(), 1):
                seen += len(line.split())
                if seen > index:
                    return f"{source}:{lineno}"
            return source

        return convert(tokens, where, missing, source)
    tokens, lines = [], []
    for lineno, line in enumerate(data.splitlines(), 1):
        fields = line.split(b",")
        for field in fields:
            parts = field.split() or ([b""] if len(fields) > 1 else [])
            tokens.extend(parts)
            lines.extend([lineno] * len(parts))
    return convert(tokens, lambda i: f"{source}:{lines[i]}", missing, source)


# --------------------------------------------------------------------------
# Tables: a header row (or not), columns by name or number


def detect_delimiter(first_line: str, default: str | None = None) -> str | None:
    """The delimiter of a table from its first row; ``None`` for cells between whitespace."""
    if "\t" in first_line and "," not in first_line:
        return "\t"
    if ";" in first_line and "," not in first_line:
        return ";"
    return "," if "," in first_line else default


def _split_rows(lines: list[bytes], delimiter: str | None) -> list[list[str]]:
    text = [line.decode("utf-8", "replace") for line in lines]
    if delimiter is None:
        return [line.split() for line in text]
    try:
        return list(csv.reader(text, delimiter=delimiter))
    except csv.Error as exc:
        raise InputError(f"malformed table row ({exc})") from None


def _is_number(cell: str) -> bool:
    return bool(_NUMBER_TEXT.match(cell.strip()))


def _is_integer(cell: str) -> bool:
    return _is_number(cell) and not re.search(r"[.eE]", cell)


def has_header(rows: list[list[str]]) -> bool:
    """Whether the first row names the columns.

    It does if any cell is neither a number nor a gap; or, all numbers, if a
    column holds an integer there and only fractions below (years naming
    columns of measurements, say).
    """
    first, below = rows[0], rows[1:]
    if not all(_is_number(c) or c.strip().lower() in MISSING_WORDS for c in first):
        return True
    for index, cell in enumerate(first):
        column = [row[index] for row in below if index < len(row) and _is_number(row[index])]
        if column and _is_integer(cell) and not any(_is_integer(c) for c in column):
            return True
    return False


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


def _cells(body: list[bytes], index: int, delimiter: str | None) -> list[bytes] | None:
    """Cell ``index`` of every line, by plain splitting; None where a line lacks it (blank rows)."""
    separator = delimiter.encode() if delimiter else None
    try:
        return [line.split(separator, index + 1)[index] for line in body]
    except IndexError:
        return None


def read_table(data: bytes, source: str, column: str | None, delimiter: str | None, missing: str) -> Numbers:
    """One column of a table; blank rows and empty cells are gaps, like any other missing value."""
    lines = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n").split(b"\n")
    # Blank lines around the table are layout; blank rows inside it are gaps.
    start = next((i for i, line in enumerate(lines) if line.strip()), None)
    if start is None:
        raise InputError(f"{source}: empty input")
    end = len(lines)
    while not lines[end - 1].strip():
        end -= 1
    try:
        sample = _split_rows(lines[start : min(end, start + _SAMPLE_ROWS)], delimiter)
    except InputError as exc:
        raise InputError(f"{source}: {exc}") from None
    width = len(sample[0])
    named = column is not None and column in [c.strip() for c in sample[0]]
    by_number = column is not None and column.isdigit() and 1 <= int(column) <= width
    # A first row of numbers is still the header when the column asked for is one of its names.
    header = sample[0] if has_header(sample) or (named and not by_number) else None
    index = _column_index(header, width, column, source)
    first = start + (header is not None)
    body = lines[first:end]
    if not body:
        raise InputError(f"{source}: no values in column {column or index + 1}")
    quoted = delimiter is not None and b'"' in data
    cells = None if quoted else _cells(body, index, delimiter)
    if cells is not None:
        numbers = convert(cells, lambda i: f"{source}:{first + i + 1}", missing, source)
    else:
        # Quoted cells, or rows without this column: row by row.
        try:
            rows = _split_rows(body, delimiter)
        except InputError as exc:
            raise InputError(f"{source}: {exc}") from None
        cells = []
        for lineno, row in enumerate(rows, first + 1):
            if index < len(row):
                cells.append(row[index].encode())
            elif any(c.strip() for c in row):
                raise InputError(f"{source}:{lineno}: no column {index + 1} in this row")
            else:
                cells.append(b"")  # a blank row: a gap in every column
        numbers = convert(cells, lambda i: f"{source}:{first + i + 1}", missing, source)
    label: int | str = header[index].strip() if header is not None else index + 1
    return Numbers(numbers.values, numbers.integral, numbers.dropped, label)
