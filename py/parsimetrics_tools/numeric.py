"""Reading numbers: one row of values, or tables with or without a header, with one rule for gaps.

Everything stays bytes until NumPy converts a whole column at once.  Python
loops run over the lines of a table (one split each), and over single values
only for an input that is about to be refused, to name the line at fault.

The gap rule, the same for every shape: an empty cell, a blank line inside
the table and the words of ``MISSING_WORDS`` are missing values, an error
unless ``--missing drop`` leaves them out; blank lines before and after the
table are layout.
"""

from __future__ import annotations

import csv
import itertools
import re
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
# A number as this program reads it: decimal, optional sign, point and exponent.  The only
# definition of one; NumPy converts only what it has accepted.
NUMBER = re.compile(rb"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?\Z")
_INFINITIES = (b"inf", b"infinity")
_FRACTION = re.compile(rb"[.eE]")
_BLANK_LINE = re.compile(rb"\n[ \t\r\v\f]*\n")
_CONTENT = re.compile(rb"\S")
_LONG_INTEGER = re.compile(rb"\d{19}")
_DIGIT_BYTES = b"0123456789"
_SHAPES = bytes.maketrans(_DIGIT_BYTES, b"0" * 10)
_PLAIN_BYTES = _DIGIT_BYTES + b".eE+-"
_SPACE_BYTES = b" \t\n\r\v\f"
# How many rows decide whether the first one is a header.
_SAMPLE_ROWS = 50


@dataclass(frozen=True)
class Numbers:
    values: npt.NDArray[np.float64] | npt.NDArray[np.int64]
    integral: bool  # every value was written as an integer
    dropped: int  # gaps left out under --missing drop
    column: int | str | None = None  # the table column read, by name if it has one
    column_number: int | None = None  # its position, from 1
    row: int | None = None  # the table row read, from 0 (--rows)


def is_number(token: bytes | str) -> bool:
    return bool(NUMBER.match(token.strip().encode() if isinstance(token, str) else token.strip()))


def is_gap(token: bytes | str) -> bool:
    return (token.strip().encode() if isinstance(token, str) else token.strip()) in _GAPS


def is_infinity(token: bytes | str) -> bool:
    return (token.strip().encode() if isinstance(token, str) else token.strip()).lower().lstrip(b"+-") in _INFINITIES


def _shown(token: bytes) -> str:
    text = token.decode("utf-8", "replace")
    return repr(text if len(text) <= 40 else text[:37] + "...")


def convert(tokens: list[bytes], where: Callable[[int], str], missing: str, source: str) -> Numbers:
    """Numbers from their text, in order; ``where(i)`` names the line of token i for messages."""
    if not tokens:
        raise InputError(f"{source}: no values")
    joined = b" ".join(tokens)
    plain = not joined.translate(None, _PLAIN_BYTES + b" ")
    if not plain:
        tokens = [t.strip() for t in tokens]
    # Gaps are words or empty cells: plain characters hold none but the empty one.
    gap = np.fromiter(map(_GAPS.__contains__, tokens), bool, len(tokens)) if not plain or b"" in tokens else None
    count = 0 if gap is None else int(np.count_nonzero(gap))
    kept = None  # positions of the tokens left once gaps are dropped
    if count:
        assert gap is not None
        if missing != "drop":
            what = f"{count} missing values, the first on this line" if count > 1 else "a missing value"
            raise InputError(f"{where(int(np.argmax(gap)))}: {what}; --missing drop leaves them out")
        kept = np.flatnonzero(~gap)
        tokens = list(itertools.compress(tokens, (~gap).tolist()))
        if not tokens:
            raise InputError(f"{source}: no values, only {count} missing")

    def at(i: int) -> str:
        return where(int(kept[i]) if kept is not None else i)

    if count or not plain:
        joined = b" ".join(tokens)
    # Digits between spaces are integers by construction; anything else is matched by its shape.
    if joined.translate(None, _DIGIT_BYTES + b" ") and not _well_formed(joined):
        for i, token in enumerate(tokens):
            if not NUMBER.match(token):
                what = "infinite value" if is_infinity(token) else "bad number"
                raise InputError(f"{at(i)}: {what} {_shown(token)}")
    integral = not _FRACTION.search(joined)
    values = _parse(joined, integral)
    if values.dtype.kind == "f" and not np.isfinite(values).all():
        i = int(np.argmin(np.isfinite(values)))
        raise InputError(f"{at(i)}: number out of range {_shown(tokens[i])}")
    return Numbers(values, integral, count)


def _well_formed(text: bytes) -> bool:
    """Whether every whitespace-separated token of ``text`` is a number by ``NUMBER``.

    Digits are all alike to the expression, so tokens are matched by their
    shape (every digit a 0): a column of a million values has a few hundred.
    """
    return all(map(NUMBER.match, set(text.translate(_SHAPES).split())))


def _parse(text: bytes, integral: bool) -> np.ndarray:
    """Numbers between spaces, all of them already matched by ``NUMBER``, converted in one pass."""
    # NumPy's integer parsing saturates past 64 bits: such integers are read as floats.
    dtype = np.int64 if integral and not _LONG_INTEGER.search(text) else np.float64
    return np.fromstring(text, dtype=dtype, sep=" ")


# --------------------------------------------------------------------------
# One row: values between whitespace or commas


def read_stream(lines: list[bytes], first: int, source: str, missing: str, delimiter: str | None = None) -> Numbers:
    """Every value of these lines in reading order; an empty field between delimiters is a gap."""
    tokens: list[bytes] = []
    linenos: list[int] = []
    separator = delimiter.encode() if delimiter is not None else None
    for lineno, line in enumerate(lines, first + 1):
        if separator is not None and separator in line:
            cells = [t for field in line.split(separator) for t in (field.split() or [b""])]
        else:
            cells = line.split()
        tokens.extend(cells)
        linenos.extend([lineno] * len(cells))
    return convert(tokens, lambda i: f"{source}:{linenos[i]}", missing, source)


# --------------------------------------------------------------------------
# Tables: a header row (or not), columns by name or number


def detect_delimiter(first_line: str, default: str | None = None) -> str | None:
    """The delimiter of a table from its first row; ``None`` for cells between whitespace."""
    if "\t" in first_line and "," not in first_line:
        return "\t"
    if ";" in first_line and "," not in first_line:
        return ";"
    return "," if "," in first_line else default


def _split_rows(lines: list[bytes], delimiter: str | None, source: str) -> list[list[str]]:
    text = [line.decode("utf-8", "replace") for line in lines]
    if delimiter is None:
        return [line.split() for line in text]
    try:
        return list(csv.reader(text, delimiter=delimiter))
    except csv.Error as exc:
        raise InputError(f"{source}: malformed table row ({exc})") from None


def _is_integer(cell: str) -> bool:
    return is_number(cell) and not re.search(r"[.eE]", cell)


def has_header(rows: list[list[str]]) -> bool:
    """Whether the first row names the columns.

    It does if any cell is neither a number nor a gap; or, all numbers, if a
    column holds an integer there and only fractions below (years naming
    columns of measurements, say).
    """
    first, below = rows[0], rows[1:]
    if not all(is_number(c) or is_gap(c) for c in first):
        return True
    for index, cell in enumerate(first):
        column = [row[index] for row in below if index < len(row) and is_number(row[index])]
        if column and _is_integer(cell) and not any(_is_integer(c) for c in column):
            return True
    return False


def _column_index(header: list[str] | None, width: int, column: str | None, source: str) -> int:
    names = [c.strip() for c in header] if header else None
    listed = f"columns: {', '.join(names)}" if names else f"{width} columns, numbered from 1"
    if column is None:
        if width == 1:
            return 0
        raise InputError(
            f"{source}: {width} columns; choose one with --column NAME or --column NUMBER ({listed}), "
            "or read each row with --rows"
        )
    if names and column in names:
        found = [i + 1 for i, name in enumerate(names) if name == column]
        if len(found) > 1:
            numbers = ", ".join(map(str, found))
            raise InputError(f"{source}: column name {column!r} is ambiguous (columns {numbers}); "
                             "choose one with --column NUMBER")
        return found[0] - 1
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


def read_table(
    data: bytes, source: str, column: str | None, delimiter: str | None, missing: str, rows: bool = False
) -> list[Numbers]:
    """One column of a table (or, with ``rows``, every row).

    One line of values is one series, and so are values written across lines
    of different lengths; lines of one length make a table, whose column must
    be chosen when there are several.
    """
    if delimiter is None and not rows and column in (None, "1"):
        plain = _plain_column(data)
        if plain is not None:
            return [plain]
    lines = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n").split(b"\n")
    # Blank lines around the table are layout; blank rows inside it are gaps.
    start = next((i for i, line in enumerate(lines) if line.strip()), None)
    if start is None:
        raise InputError(f"{source}: empty input")
    end = len(lines)
    while not lines[end - 1].strip():
        end -= 1
    sample = _split_rows(lines[start : min(end, start + _SAMPLE_ROWS)], delimiter, source)
    if len(sample) == 1 and column is None:
        # A single line of values is one series, whatever separates them.
        numbers = read_stream(lines[start:end], start, source, missing, delimiter)
        return [_labelled(numbers, row=0)] if rows else [numbers]
    width = len(sample[0])
    named = column is not None and column in [c.strip() for c in sample[0]]
    by_number = column is not None and column.isdigit() and 1 <= int(column) <= width
    # A first row of numbers is still the header when the column asked for is one of its names.
    header = sample[0] if has_header(sample) or (named and not by_number) else None
    first = start + (header is not None)
    body = lines[first:end]
    if not body:
        raise InputError(f"{source}: no values below the header")
    if header is None and column is None and not rows and len({len(row) for row in sample if row}) > 1:
        # Lines of different lengths are no table: values written across lines, read in order.
        return [read_stream(body, first, source, missing, delimiter)]
    if rows:
        if column is not None:
            raise InputError("--rows reads every row whole; it takes no --column")
        return _read_rows(body, first, source, delimiter, missing)
    index = _column_index(header, width, column, source)
    label: int | str = header[index].strip() if header is not None else index + 1
    numbers = _read_column(body, first, index, width, source, delimiter, missing, quoted=b'"' in data)
    return [_labelled(numbers, column=label, column_number=index + 1)]


def _plain_column(data: bytes) -> Numbers | None:
    """The commonest table, one well-formed plain number a line with no header and no gap, read in
    one NumPy call without splitting it into lines; None for anything else."""
    if data.translate(None, _PLAIN_BYTES + b" \t\n"):
        return None
    first = _CONTENT.search(data)
    if first is None:
        return None
    end = len(data)
    while data[end - 1] in b" \t\n":  # the layout after the table, scanned from its end
        end -= 1
    inner = data[first.start() : end]
    if b"\n" not in inner or _BLANK_LINE.search(inner):
        return None
    sample = [line.decode().split() for line in inner.split(b"\n", _SAMPLE_ROWS)[:_SAMPLE_ROWS]]
    if any(len(row) != 1 for row in sample) or has_header(sample) or not _well_formed(inner):
        return None
    integral = not _FRACTION.search(inner)
    values = _parse(inner, integral)
    if len(values) != inner.count(b"\n") + 1 or (values.dtype.kind == "f" and not np.isfinite(values).all()):
        return None
    return Numbers(values, integral, 0, 1, 1)


def _labelled(numbers: Numbers, column: int | str | None = None, column_number: int | None = None,
              row: int | None = None) -> Numbers:
    return Numbers(numbers.values, numbers.integral, numbers.dropped, column, column_number, row)


def _read_column(body: list[bytes], first: int, index: int, width: int, source: str, delimiter: str | None,
                 missing: str, quoted: bool) -> Numbers:
    def where(i: int) -> str:
        return f"{source}:{first + i + 1}"

    if delimiter is None and index == 0:
        # One value per line is the commonest table: with only plain characters, well formed, and
        # one value on every line (no blank line inside, so the count says it), straight to NumPy.
        text = b"\n".join(body)
        if not text.translate(None, _PLAIN_BYTES + _SPACE_BYTES) and not _BLANK_LINE.search(text):
            integral = not _FRACTION.search(text)
            if _well_formed(text):
                values = _parse(text, integral)
                if len(values) == len(body) and (values.dtype.kind != "f" or np.isfinite(values).all()):
                    return Numbers(values, integral, 0)
    if width == 1 and not quoted:
        # A second value on a line of a one-column table is no column of it, and would be lost.
        separator = delimiter.encode() if delimiter else None
        for number, line in enumerate(body):
            if not all(map(is_gap, line.split(separator)[1:])):
                raise InputError(f"{where(number)}: more than one value in a one-column table")
    cells = None if quoted and delimiter is not None else _cells(body, index, delimiter)
    if cells is None:
        # Quoted cells, or rows without this column: row by row.
        cells = []
        for lineno, row in enumerate(_split_rows(body, delimiter, source), first + 1):
            if index < len(row):
                cells.append(row[index].encode())
            elif any(c.strip() for c in row):
                raise InputError(f"{source}:{lineno}: no column {index + 1} in this row")
            else:
                cells.append(b"")  # a blank row: a gap in every column
    return convert(cells, where, missing, source)


def _read_rows(body: list[bytes], first: int, source: str, delimiter: str | None, missing: str) -> list[Numbers]:
    result = []
    for number, (line, row) in enumerate(zip(body, _split_rows(body, delimiter, source))):
        lineno = first + number + 1
        if not line.strip():
            # A blank row is gaps only: refused, or left out whole, as every gap is.
            if missing != "drop":
                raise InputError(f"{source}:{lineno}: a blank row; --missing drop leaves it out")
            continue
        numbers = convert([c.encode() for c in row], lambda i: f"{source}:{lineno}", missing, source)
        result.append(_labelled(numbers, row=number))
    if not result:
        raise InputError(f"{source}: no rows with values")
    return result
