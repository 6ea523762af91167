"""Reading sequences: FASTA, symbol text, numbers (streams, tables, .npy) and raw bytes.

Every input ends up as ``Record`` objects that carry their symbols as
``bytes`` and say how they were read.  Nothing is guessed silently: the
format found is recorded, gaps in numbers are refused unless dropping them
was asked for, and binary content that is no known format is refused rather
than taken as text.  Compressed inputs (gzip, bzip2, xz) are recognised by
their content.
"""

from __future__ import annotations

import bz2
import gzip
import io
import lzma
import re
import sys
import zlib
from dataclasses import replace
from pathlib import Path

import numpy as np

from . import numeric
from .numeric import Numbers
from .records import InputError, ReadOptions, Record
from .symbolizers import Symbolizer, parse_symbolizer, symbolize_row

__all__ = [
    "FORMATS",
    "InputError",
    "ReadOptions",
    "Record",
    "Symbolizer",
    "parse_bytes",
    "parse_symbolizer",
    "read_records",
    "read_source",
]

FORMATS = ("auto", "fasta", "text", "numbers", "csv", "npy", "bytes")
FASTA_SUFFIXES = frozenset({".fa", ".fasta", ".fas", ".fna", ".ffn", ".faa", ".frn", ".mpfa"})
CSV_SUFFIXES = frozenset({".csv", ".tsv"})
STDIN_NAME = "<stdin>"

# Magic numbers: (prefix, name, decompressor).  bzip2's includes the block magic after the level digit.
_COMPRESSIONS = (
    (re.compile(rb"\x1f\x8b\x08"), "gzip", gzip.decompress),
    (re.compile(rb"BZh[1-9]1AY&SY"), "bzip2", bz2.decompress),
    (re.compile(rb"\xfd7zXZ\x00"), "xz", lzma.decompress),
)
_COMPRESSED_SUFFIXES = frozenset({".gz", ".bz2", ".xz"})
_NPY_MAGIC = b"\x93NUMPY"
_BOM = b"\xef\xbb\xbf"
# Control characters no text file holds (tab, line and page breaks and escape excepted).
_BINARY = re.compile(rb"[\x00-\x08\x0e-\x1a\x1c-\x1f\x7f]")

_NUMBER_TOKEN = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?\Z|[+-]?inf(?:inity)?\Z", re.IGNORECASE)
_SEPARATORS = re.compile(r"[\s,;]+")
# Format detection looks at this much of the input.
_SNIFF_BYTES = 1 << 16


# --------------------------------------------------------------------------
# Files


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
    """Read one file (``-`` for standard input) into its records, as the command line reads it.

    Parameters
    ----------
    path : str
        The file, or ``-`` for standard input.
    options : ReadOptions
        The command line's input options: ``format`` (``auto`` detects it
        from the name and content), ``raw``, ``column``, ``symbolize`` (a
        ``Symbolizer``), ``missing`` and ``keep_case``.

    Returns
    -------
    list of Record
        One record per FASTA record, otherwise one for the file, each with
        its symbols (one byte per symbol) and how they were read.

    Raises
    ------
    InputError
        The file cannot be read, is empty or blank, is binary of no known
        format, or its numbers cannot be read or symbolized as asked; the
        message names the file (and line or column) and is one line.

    Notes
    -----
    gzip, bzip2 and xz files are read through, recognised by their content.
    Symbol text loses its line breaks unless ``raw``; FASTA letters are
    folded to upper case unless ``keep_case``; numbers (whitespace or comma
    separated, a table column, or a NumPy ``.npy`` file) become symbols by
    ``symbolize``, by default one symbol per distinct integer and the median
    split for other numbers.  ``analyze_record`` measures a record as
    ``parsimetrics analyze`` does.

    Examples
    --------
    >>> import pathlib, tempfile
    >>> path = pathlib.Path(tempfile.mkdtemp()) / "two.fasta"
    >>> _ = path.write_text(">a first record\\nACGT\\n>b\\nacgtac\\n")
    >>> [(record.name, record.symbols) for record in read_source(str(path))]
    [('a', b'ACGT'), ('b', b'ACGTAC')]
    """
    return parse_bytes(read_bytes(path), display_name(path), options, path)


def read_records(paths: list[str], options: ReadOptions = ReadOptions()) -> list[Record]:
    """The records of several files, in order, as ``read_source`` reads each.

    Parameters
    ----------
    paths : list of str
        The files; an empty list reads standard input.
    options : ReadOptions
        The input options, the same for every file.

    Returns
    -------
    list of Record
        The records of the first file, then of the second, and so on.

    Raises
    ------
    InputError
        The first file that cannot be read, as ``read_source`` raises it.

    Notes
    -----
    The command line reads each file on its own and reports a file that
    fails without stopping the others; this function stops at the first.

    Examples
    --------
    >>> import pathlib, tempfile
    >>> folder = pathlib.Path(tempfile.mkdtemp())
    >>> for name, text in [("a.txt", "0101\\n"), ("b.txt", "0011\\n")]:
    ...     _ = (folder / name).write_text(text)
    >>> [r.symbols for r in read_records([str(folder / "a.txt"), str(folder / "b.txt")])]
    [b'0101', b'0011']
    """
    records: list[Record] = []
    for path in paths or ["-"]:
        records.extend(read_source(path, options))
    return records


def decompress(data: bytes, source: str) -> tuple[bytes, str | None]:
    """The content with one layer of gzip, bzip2 or xz compression taken off, and its name."""
    for magic, name, function in _COMPRESSIONS:
        if magic.match(data):
            try:
                return function(data), name
            except (OSError, EOFError, ValueError, zlib.error, lzma.LZMAError) as exc:
                raise InputError(f"{source}: damaged {name} data ({exc})") from None
    return data, None


# --------------------------------------------------------------------------
# Formats


def parse_bytes(data: bytes, source: str, options: ReadOptions = ReadOptions(), path: str = "") -> list[Record]:
    if options.format == "bytes":
        # The file's bytes exactly as they are: no decompression, nothing removed.
        if not data:
            raise InputError(f"{source}: empty input")
        return [Record(source, source, data, "bytes")]
    data, compression = decompress(data, source)
    if data.startswith(_BOM):  # a UTF-8 byte-order mark is no symbol
        data = data[len(_BOM) :]
    fmt = detect_format(data, path or source, options)
    for given, option in ((options.symbolize, "--symbolize"), (options.column, "--column")):
        if given is not None and fmt in ("fasta", "text"):
            raise InputError(f"{source}: {option} applies to numbers, but this input reads as {fmt}")
    if fmt == "npy":
        records = [_symbolized(_read_npy(data, source, options), source, "npy", options)]
    elif fmt in ("numbers", "csv"):
        if not data.strip():
            raise InputError(f"{source}: empty input")
        records = [_read_numbers(data, source, fmt, options, _inner_suffix(path))]
    elif not (data if options.raw else data.strip()):
        raise InputError(f"{source}: empty input")
    elif fmt == "fasta":
        records = parse_fasta(data, source, fold_case=not options.keep_case)
    else:
        symbols = data if options.raw else data.replace(b"\r", b"").replace(b"\n", b"")
        records = [Record(source, source, symbols, "text")]
    if compression:
        records = [replace(r, compression=compression) for r in records]
    return records


def _inner_suffix(path: str) -> str:
    """The suffix that names the format: that of ``a.csv`` for ``a.csv.gz``."""
    if path in ("", "-"):
        return ""
    name = Path(path)
    if name.suffix.lower() in _COMPRESSED_SUFFIXES:
        name = name.with_suffix("")
    return name.suffix.lower()


def detect_format(data: bytes, path: str, options: ReadOptions) -> str:
    """The format to read ``data`` (already decompressed) as."""
    if options.raw:
        if options.format not in ("auto", "text"):
            raise InputError(f"--raw applies to text input, not --format {options.format}")
        return "text"
    if options.format != "auto":
        return options.format
    suffix = _inner_suffix(path)
    if data.startswith(_NPY_MAGIC) or suffix == ".npy":
        return "npy"
    if suffix in FASTA_SUFFIXES:
        return "fasta"
    if suffix in CSV_SUFFIXES:
        return "csv"
    head = data[:_SNIFF_BYTES]
    if _BINARY.search(head):
        raise InputError(
            f"{display_name(path)}: binary content in no format known here; "
            "--format bytes analyses its raw bytes, --format text reads it as text"
        )
    if _first_line(head).startswith(b">"):
        return "fasta"
    if options.column is not None:
        return "csv"
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


def _is_number_word(token: str) -> bool:
    return bool(_NUMBER_TOKEN.match(token)) or token.lower() in numeric.MISSING_WORDS


def _looks_numeric(head: bytes, complete: bool) -> bool:
    """Whether a sample reads as numbers (perhaps under a header row) rather than as symbol text.

    Digits alone are ambiguous: "0110" on one line is text, one value per line
    is a signal.  Lines of digits all wrapped at the same width (as symbol
    files are), or numbers with leading zeros, read as text.  Gaps (NaN, NA,
    empty fields) and infinities count as numbers here, so that they are
    reported rather than read as characters.
    """
    try:
        text = head.decode("utf-8")
    except UnicodeDecodeError:
        if complete:
            return False
        text = head.decode("utf-8", "ignore")  # the sample may end inside a character
    lines = text.splitlines()
    if not complete and len(lines) > 1:
        lines = lines[:-1]  # the sample may cut the last line short
    rows = [[t for t in _SEPARATORS.split(line.strip()) if t] for line in lines if line.strip()]
    if len(rows) > 1 and not all(_is_number_word(t) for t in rows[0]):
        rows = rows[1:]  # a header row naming the columns
    if not rows or not any(_NUMBER_TOKEN.match(t) for row in rows for t in row):
        return False
    widths = []
    for tokens in rows:
        if not all(_is_number_word(t) for t in tokens):
            return False
        if len(tokens) > 1 or not tokens[0].isdigit():
            return True
        if len(tokens[0]) > 1 and tokens[0].startswith("0"):
            return False
        widths.append(len(tokens[0]))
    if len(rows) == 1:
        return False
    wrapped = len(set(widths[:-1])) == 1 and widths[0] >= 10 and widths[-1] <= widths[0]
    return not wrapped


# --------------------------------------------------------------------------
# FASTA


def parse_fasta(data: bytes, source: str, fold_case: bool = True) -> list[Record]:
    """The records of a FASTA file; letters folded to upper case unless ``fold_case`` is false
    (soft-masked bases are the same bases)."""
    records: list[Record] = []
    name: str | None = None
    chunks: list[bytes] = []

    def flush() -> None:
        if name is None:
            return
        symbols = b"".join(chunks)
        if not symbols:
            raise InputError(f"{source}: record {name!r} is empty")
        records.append(Record(name, source, symbols.upper() if fold_case else symbols, "fasta", case_folded=fold_case))

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
        raise InputError(f"{source}: no FASTA records")
    return records


# --------------------------------------------------------------------------
# Numbers


def _read_numbers(data: bytes, source: str, fmt: str, options: ReadOptions, suffix: str) -> Record:
    first = _first_line(data[:_SNIFF_BYTES]).decode("utf-8", "replace")
    # Names over numbers make a header row (a lone row of them is just bad numbers).
    named = not all(_is_number_word(t) for t in _SEPARATORS.split(first) if t)
    delimiter = None
    if fmt == "csv" or options.column is not None or (named and b"\n" in data.strip()):
        delimiter = numeric.detect_delimiter(first, {".csv": ",", ".tsv": "\t"}.get(suffix))
        values = numeric.read_table(data, source, options.column, delimiter, options.missing)
    else:
        values = numeric.read_stream(data, source, options.missing)
    return _symbolized(values, source, "csv" if delimiter else "numbers", options)


def _read_npy(data: bytes, source: str, options: ReadOptions) -> Numbers:
    try:
        array = np.load(io.BytesIO(data), allow_pickle=False)
    except (ValueError, OSError, EOFError) as exc:
        raise InputError(f"{source}: not a readable .npy file ({exc})") from None
    if array.dtype == np.bool_:
        array = array.view(np.uint8)
    if array.dtype.kind not in "iuf":
        raise InputError(f"{source}: a .npy array of {array.dtype}, not of numbers")
    if array.ndim == 2:
        width = array.shape[1]
        column = options.column
        if column is None and width != 1:
            raise InputError(f"{source}: {width} columns; choose one with --column NUMBER")
        if column is not None and not (column.isdigit() and 1 <= int(column) <= width):
            raise InputError(f"{source}: no column {column!r} ({width} columns, numbered from 1)")
        index = int(column or 1) - 1
        array, label = array[:, index], index + 1
    elif array.ndim == 1 and options.column in (None, "1"):
        label = None
    else:
        raise InputError(f"{source}: a {array.ndim}-D .npy array; one series (1-D) or one column of a 2-D array")
    dropped = 0
    if array.dtype.kind == "f":
        finite = np.isfinite(array)
        if not finite.all():
            if np.isinf(array).any():
                raise InputError(f"{source}: infinite value at index {int(np.argmax(np.isinf(array)))}")
            count = int(np.count_nonzero(~finite))
            if options.missing != "drop":
                first = int(np.argmin(finite))
                raise InputError(
                    f"{source}: {count} missing value{'s' * (count > 1)} (NaN, the first at index {first}); "
                    "--missing drop leaves them out"
                )
            array, dropped = array[finite], count
    if not len(array):
        raise InputError(f"{source}: no values")
    return Numbers(array, array.dtype.kind in "iu", dropped, label)


def _symbolized(values: Numbers, source: str, fmt: str, options: ReadOptions) -> Record:
    """One symbol per value (or per window): the codes 0..k-1 that ``symbolize`` gives, byte for byte.

    The same bytes as from Python, so that every measure (EMC, whose
    surrogates are seeded from the bytes, included) agrees with it.
    """
    symbolizer = options.symbolize or Symbolizer("values" if values.integral else "median")
    try:
        result = symbolize_row(values.values, symbolizer)
    except ValueError as exc:
        raise InputError(f"{source}: {exc}") from None
    symbols = result.codes.tobytes()
    return Record(
        source,
        source,
        symbols,
        fmt,
        column=values.column,
        symbolizer=str(symbolizer),
        cut_points=result.cuts,
        missing_dropped=values.dropped,
    )
