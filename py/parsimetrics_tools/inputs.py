"""Reading sequences: FASTA, plain symbol text and numeric signals.

Every input ends up as a ``Record``: a name, the file it came from and its
symbols as ``bytes``.  Numbers never reach the extension as integers (it would
join their decimal digits, so 1, 23 and 12, 3 would give the same symbols);
they are turned into one byte per value here.
"""

from __future__ import annotations

import csv
import io
import math
import re
import statistics
import sys
from bisect import bisect_left
from dataclasses import dataclass
from pathlib import Path

FORMATS = ("auto", "fasta", "text", "numbers", "csv")
FASTA_SUFFIXES = frozenset({".fa", ".fasta", ".fas", ".fna", ".ffn", ".faa", ".frn", ".mpfa"})
CSV_SUFFIXES = frozenset({".csv", ".tsv"})
STDIN_NAME = "<stdin>"

# Symbols for up to 62 classes are printable; beyond that, raw byte values.
_PRINTABLE_SYMBOLS = b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
MAX_CLASSES = 256

_INT_RE = re.compile(r"[+-]?\d+\Z")
_FLOAT_RE = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?\Z")
_SEPARATORS = re.compile(r"[\s,]+")
# Format detection looks at this much of the input.
_SNIFF_BYTES = 1 << 16


class InputError(Exception):
    """A problem with the input data, reported to the user as one line."""


@dataclass(frozen=True)
class Record:
    """One sequence to analyse."""

    name: str
    source: str
    symbols: bytes


@dataclass(frozen=True)
class Symbolizer:
    """How numbers become symbols: ``values``, ``median``, ``mean``, ``zero`` or ``quantiles`` (with ``classes``)."""

    method: str
    classes: int = 2

    def __str__(self) -> str:
        return f"quantiles:{self.classes}" if self.method == "quantiles" else self.method


@dataclass(frozen=True)
class ReadOptions:
    format: str = "auto"
    raw: bool = False
    column: str | None = None
    symbolize: Symbolizer | None = None


def parse_symbolizer(text: str) -> Symbolizer:
    """Parse the value of ``--symbolize``; raises ``ValueError`` with a readable message."""
    method, _, arg = text.partition(":")
    if method in ("values", "median", "mean", "zero") and not arg and ":" not in text:
        return Symbolizer(method)
    if method == "quantiles":
        try:
            classes = int(arg)
        except ValueError:
            classes = 0
        if 2 <= classes <= MAX_CLASSES:
            return Symbolizer("quantiles", classes)
        raise ValueError(f"quantiles:K needs an integer K from 2 to {MAX_CLASSES}, not {arg!r}")
    raise ValueError(f"unknown symbolizer {text!r} (choose median, mean, zero, quantiles:K or values)")


# --------------------------------------------------------------------------
# Reading files


def display_name(path: str) -> str:
    return STDIN_NAME if path == "-" else path


def read_bytes(path: str) -> bytes:
    if path == "-":
        return sys.stdin.buffer.read()
    try:
        return Path(path).read_bytes()
    except FileNotFoundError:
        raise InputError(f"{path}: no such file") from None
    except IsADirectoryError:
        raise InputError(f"{path}: is a directory") from None
    except OSError as exc:
        raise InputError(f"{path}: cannot read: {exc.strerror or exc}") from None


def read_source(path: str, options: ReadOptions = ReadOptions()) -> list[Record]:
    """Read one file (``-`` for standard input) into its records."""
    return parse_bytes(read_bytes(path), display_name(path), options, path)


def read_records(paths: list[str], options: ReadOptions = ReadOptions()) -> list[Record]:
    records: list[Record] = []
    for path in paths or ["-"]:
        records.extend(read_source(path, options))
    return records


def parse_bytes(data: bytes, source: str, options: ReadOptions = ReadOptions(), path: str = "") -> list[Record]:
    fmt = detect_format(data, path or source, options)
    if options.symbolize is not None and fmt in ("fasta", "text"):
        raise InputError(f"{source}: --symbolize applies to numbers, but this input reads as {fmt}")
    if fmt == "fasta":
        records = parse_fasta(data, source)
    elif fmt == "text":
        symbols = data if options.raw else data.replace(b"\r", b"").replace(b"\n", b"")
        if not symbols:
            raise InputError(f"{source}: empty input")
        records = [Record(source, source, symbols)]
    else:
        if fmt == "csv":
            values = parse_csv_column(data, source, options.column, Path(path).suffix.lower() == ".tsv")
        else:
            values = parse_numbers(data, source)
        records = [Record(source, source, symbolize(values, options.symbolize, source))]
    return records


def detect_format(data: bytes, path: str, options: ReadOptions) -> str:
    if options.raw:
        if options.format not in ("auto", "text"):
            raise InputError(f"--raw applies to text input, not --format {options.format}")
        return "text"
    if options.format != "auto":
        return options.format
    if options.column is not None:
        return "csv"
    suffix = Path(path).suffix.lower() if path not in ("", "-") else ""
    if suffix in FASTA_SUFFIXES:
        return "fasta"
    if suffix in CSV_SUFFIXES:
        return "csv"
    head = data[:_SNIFF_BYTES]
    if _first_line(head).startswith(b">"):
        return "fasta"
    if options.symbolize is not None or _looks_numeric(head, complete=len(data) <= _SNIFF_BYTES):
        return "numbers"
    return "text"


def _first_line(head: bytes) -> bytes:
    """The first line that is neither blank nor a ';' comment (as old FASTA files have)."""
    for line in head.splitlines():
        line = line.strip()
        if line and not line.startswith(b";"):
            return line
    return b""


def _looks_numeric(head: bytes, complete: bool) -> bool:
    """Whether a sample reads as numbers rather than as symbol text.

    Digits alone are ambiguous: "0110" on one line is text, one value per line
    is a signal.  Lines of digits all wrapped at the same width (as symbol
    files are), or numbers with leading zeros, read as text.
    """
    try:
        text = head.decode("ascii")
    except UnicodeDecodeError:
        return False
    lines = text.splitlines()
    if not complete and len(lines) > 1:
        lines = lines[:-1]  # the sample may cut the last line short
    lines = [line.strip() for line in lines if line.strip()]
    if not lines:
        return False
    widths = []
    for line in lines:
        tokens = [t for t in _SEPARATORS.split(line) if t]
        if not all(_FLOAT_RE.match(t) for t in tokens):
            return False
        if len(tokens) > 1 or not tokens[0].isdigit():
            return True
        if len(tokens[0]) > 1 and tokens[0].startswith("0"):
            return False
        widths.append(len(tokens[0]))
    if len(lines) == 1:
        return False
    wrapped = len(set(widths[:-1])) == 1 and widths[0] >= 10 and widths[-1] <= widths[0]
    return not wrapped


def parse_fasta(data: bytes, source: str) -> list[Record]:
    records: list[Record] = []
    name: str | None = None
    chunks: list[bytes] = []

    def flush() -> None:
        if name is None:
            return
        symbols = b"".join(chunks)
        if not symbols:
            raise InputError(f"{source}: record {name!r} is empty")
        records.append(Record(name, source, symbols))

    for lineno, line in enumerate(data.splitlines(), 1):
        if line.startswith(b">"):
            flush()
            header = line[1:].split(None, 1)
            name = header[0].decode("utf-8", "replace") if header else f"{source}#{len(records) + 1}"
            chunks = []
        elif line.startswith(b";"):
            continue
        else:
            piece = b"".join(line.split())
            if not piece:
                continue
            if name is None:
                raise InputError(f"{source}:{lineno}: sequence data before the first '>' header")
            chunks.append(piece)
    flush()
    if not records:
        raise InputError(f"{source}: empty input" if not data.strip() else f"{source}: no FASTA records")
    return records


def _number(token: str, where: str) -> int | float:
    if _INT_RE.match(token):
        return int(token)
    if _FLOAT_RE.match(token):
        value = float(token)
        if math.isfinite(value):
            return value
        raise InputError(f"{where}: number out of range {token!r}")
    shown = token if len(token) <= 40 else token[:37] + "..."
    raise InputError(f"{where}: bad number {shown!r}")


def parse_numbers(data: bytes, source: str) -> list[int | float]:
    values: list[int | float] = []
    for lineno, line in enumerate(data.decode("utf-8", "replace").splitlines(), 1):
        for token in _SEPARATORS.split(line):
            if token:
                values.append(_number(token, f"{source}:{lineno}"))
    if not values:
        raise InputError(f"{source}: empty input")
    return values


def parse_csv_column(data: bytes, source: str, column: str | None, tsv: bool = False) -> list[int | float]:
    text = data.decode("utf-8-sig", "replace")
    first_line = text.split("\n", 1)[0]
    if tsv or ("\t" in first_line and "," not in first_line):
        delimiter = "\t"
    elif ";" in first_line and "," not in first_line:
        delimiter = ";"
    else:
        delimiter = ","
    reader = csv.reader(io.StringIO(text), delimiter=delimiter)
    try:
        rows = ((reader.line_num, row) for row in reader if any(cell.strip() for cell in row))
        first = next(rows, None)
        if first is None:
            raise InputError(f"{source}: empty input")
        lineno, header = first
        index = _column_index(header, column, source)
        values: list[int | float] = []
        by_name = column is not None and not column.isdigit()
        if index < len(header) and not by_name and _FLOAT_RE.match(header[index].strip()):
            values.append(_number(header[index].strip(), f"{source}:{lineno}"))
        for lineno, row in rows:
            if index >= len(row):
                raise InputError(f"{source}:{lineno}: no column {index + 1} in this row")
            values.append(_number(row[index].strip(), f"{source}:{lineno}"))
    except csv.Error as exc:
        raise InputError(f"{source}:{reader.line_num}: {exc}") from None
    if not values:
        raise InputError(f"{source}: no values in column {header[index].strip() or index + 1}")
    return values


def _column_index(header: list[str], column: str | None, source: str) -> int:
    if column is None:
        if len(header) == 1:
            return 0
        raise InputError(f"{source}: {len(header)} columns; choose one with --column NAME or --column NUMBER")
    if column.isdigit():
        index = int(column) - 1
        if not 0 <= index < len(header):
            raise InputError(f"{source}: no column {column} (it has {len(header)})")
        return index
    names = [cell.strip() for cell in header]
    if column in names:
        return names.index(column)
    raise InputError(f"{source}: no column named {column!r} (columns: {', '.join(names)})")


# --------------------------------------------------------------------------
# Numbers to symbols


def _symbol_table(classes: int) -> bytes:
    return _PRINTABLE_SYMBOLS[:classes] if classes <= len(_PRINTABLE_SYMBOLS) else bytes(range(classes))


def thresholds(values: list[int | float], symbolizer: Symbolizer) -> list[float]:
    """The cut points between symbol classes; a value above ``k`` of them gets symbol ``k``."""
    if symbolizer.method == "zero":
        return [0.0]
    if symbolizer.method == "mean":
        return [math.fsum(values) / len(values)]
    if symbolizer.method == "median":
        return [statistics.median(values)]
    if len(values) == 1:
        return [values[0]] * (symbolizer.classes - 1)
    return statistics.quantiles(values, n=symbolizer.classes, method="inclusive")


def symbolize(values: list[int | float], symbolizer: Symbolizer | None, source: str) -> bytes:
    """Turn a numeric signal into one symbol per value.

    Without a symbolizer, integer data maps each distinct value to its own
    symbol and real data is split at its median.
    """
    if not values:
        raise InputError(f"{source}: empty input")
    if symbolizer is None:
        all_ints = all(isinstance(v, int) for v in values)
        symbolizer = Symbolizer("values") if all_ints else Symbolizer("median")
    if symbolizer.method == "values":
        return _symbolize_values(values, source)
    cuts = thresholds(values, symbolizer)
    table = _symbol_table(len(cuts) + 1)
    if len(cuts) == 1:
        cut = cuts[0]
        one, zero = table[1], table[0]
        return bytes([one if v > cut else zero for v in values])
    return bytes([table[bisect_left(cuts, v)] for v in values])


def _symbolize_values(values: list[int | float], source: str) -> bytes:
    distinct = sorted(set(values))
    if len(distinct) > MAX_CLASSES:
        raise InputError(
            f"{source}: {len(distinct)} distinct values, more than the {MAX_CLASSES} symbols available; "
            "use --symbolize quantiles:K"
        )
    # Single digits keep their own character, so "0 1 1 0" and the text "0110" are the same sequence.
    if all(isinstance(v, int) and 0 <= v <= 9 for v in distinct):
        return bytes([48 + int(v) for v in values])
    table = _symbol_table(len(distinct))
    code = {value: table[rank] for rank, value in enumerate(distinct)}
    return bytes([code[v] for v in values])
