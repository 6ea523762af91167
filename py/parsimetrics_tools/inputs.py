"""Reading sequences: FASTA, FASTQ, symbol text, numbers (rows, tables, .npy) and raw bytes.

Every input ends up as ``Record`` objects that carry their symbols as
``bytes`` and say how they were read.  Nothing is guessed silently: the
format found is recorded, gaps in numbers are refused unless dropping them
was asked for, and binary content that is no known format is refused rather
than taken as text.  Compressed inputs (gzip, bzip2, xz) are recognised by
their content.

Input is read as a stream, decompressed on the way, and never held beyond
what its records need: a record longer than the measures accept (or than
``ReadOptions.max_length``) is refused as soon as the reading passes that
length, so a compression bomb or an endless device costs at most about the
limit in memory.  The text of numbers (two bytes a value or more) is kept
up to half the limit: a longer file is counted through first, then read
again; from a pipe, which cannot be read twice, it is kept as it comes.

Numbers or digits.  A file of digits alone, one run of them per line, is
either a series of integers or symbol text wrapped into lines.  It is text
when it has a single line, when a line of two or more digits starts with 0
(integers are not written so), or when all lines but the last have one
width (the last no wider) and either that width passes 18 digits (no 64-bit
integer is so long) or the lines hold only 0 and 1.  Otherwise each line is
one integer, whatever its width: Unix times of 10 digits are numbers.
"""

from __future__ import annotations

import bz2
import codecs
import contextlib
import gzip
import io
import lzma
import math
import os
import re
import stat
import sys
import zlib
from collections.abc import Callable, Iterable, Iterator
from pathlib import Path
from typing import Any

import numpy as np

from . import numeric
from .numeric import Numbers
from .records import InputError, ReadOptions, Reads, Record, flattened
from .symbolizers import Symbolizer, parse_symbolizer, symbolize_row

__all__ = [
    "FORMATS",
    "InputError",
    "ReadOptions",
    "Record",
    "Symbolizer",
    "ambiguity_warning",
    "parse_bytes",
    "parse_symbolizer",
    "read_decompressed",
    "read_records",
    "read_source",
]

FORMATS = ("auto", "fasta", "fastq", "text", "numbers", "csv", "npy", "bytes")
FASTA_SUFFIXES = frozenset({".fa", ".fasta", ".fas", ".fna", ".ffn", ".faa", ".frn", ".mpfa"})
FASTQ_SUFFIXES = frozenset({".fq", ".fastq"})
CSV_SUFFIXES = frozenset({".csv", ".tsv"})
STDIN_NAME = "<stdin>"

# Magic numbers: (prefix, name, stream opener).  bzip2's includes the block magic after the level digit.
_COMPRESSIONS: tuple[tuple[re.Pattern[bytes], str, Callable[[Any], Any]], ...] = (
    (re.compile(rb"\x1f\x8b\x08"), "gzip", lambda f: gzip.GzipFile(fileobj=f, mode="rb")),
    (re.compile(rb"BZh[1-9]1AY&SY"), "bzip2", bz2.BZ2File),
    (re.compile(rb"\xfd7zXZ\x00"), "xz", lzma.LZMAFile),
)
_DAMAGED = (OSError, EOFError, ValueError, zlib.error, lzma.LZMAError)
_COMPRESSED_SUFFIXES = frozenset({".gz", ".bz2", ".xz"})
_NPY_MAGIC = b"\x93NUMPY"
_BOM = b"\xef\xbb\xbf"
# Control characters no text file holds (tab, line and page breaks and escape excepted).
_BINARY = re.compile(rb"[\x00-\x08\x0e-\x1a\x1c-\x1f\x7f]")
_NOT_BINARY = bytes(b for b in range(256) if not _BINARY.match(bytes([b])))  # deleted, what is left is binary

_SEPARATORS = re.compile(r"[\s,;]+")
# Longer than any number written in text: a "value" past it is binary or endless content.
_LONGEST_VALUE = 1 << 16
_VALUE_SEPARATORS = np.zeros(256, bool)
_VALUE_SEPARATORS[list(b" \t\r\n\v\f,;")] = True
# Format detection looks at this much of the (decompressed) input; the rest is read in chunks.
_SNIFF_BYTES = 1 << 16
_CHUNK = 1 << 20
# How far a FASTA header or comment line may pass the record limit before it is refused.
_HEADER_ROOM = 1 << 16

# Nucleotides, and the IUPAC codes for uncertain ones (with gaps): a record of these alone,
# mostly ACGT (U), is a nucleotide record.
_NUCLEOTIDES = b"ACGTUacgtu"
_AMBIGUITY_CODES = b"RYSWKMBDHVNryswkmbdhvn-.*"
_WORD = re.compile(rb"\S")
# Prose: two words on one line with a space between them.
_PROSE = re.compile(rb"\S[ \t]+\S")
_LINE_BREAKS = re.compile(rb"(?<=\S)(?:\r\n|\r|\n)+(?=\S)")


# --------------------------------------------------------------------------
# Files and streams


def display_name(path: str) -> str:
    return STDIN_NAME if path == "-" else path


class _Limit(int):
    """The longest record read; ``given`` when it is --max-length rather than what the measures accept."""

    given = False

    def refuse(self, source: str, count: int | None = None) -> InputError:
        """The error for a record past the limit: its length where reading ended with it, else "more"."""
        length = f"more than {int(self)}" if count is None else str(count)
        bound = f"--max-length {int(self)}" if self.given else f"at most {int(self)} fit"
        return InputError(f"{source}: sequence too long ({length} symbols; {bound})")


def _limit(options: ReadOptions) -> _Limit:
    if options.max_length is None:
        from .measures import MAX_SYMBOLS  # the measures import the records: looked up when reading

        return _Limit(MAX_SYMBOLS)
    limit = _Limit(options.max_length)
    limit.given = True
    return limit


def read_source(path: str, options: ReadOptions = ReadOptions()) -> list[Record]:
    """Read one file (``-`` for standard input) into its records, as the command line reads it.

    Parameters
    ----------
    path : str
        The file, or ``-`` for standard input.
    options : ReadOptions
        The command line's input options: ``format`` (``auto`` detects it
        from the name and content), ``raw``, ``column``, ``symbolize`` (a
        ``Symbolizer``), ``missing``, ``keep_case``, ``rows``, ``unit``,
        ``ambiguous`` and ``max_length``.

    Returns
    -------
    list of Record
        One record per FASTA or FASTQ record, or per row under ``rows``,
        otherwise one for the file, each with its symbols (one byte per
        symbol) and how they were read.

    Raises
    ------
    InputError
        The file cannot be read, is empty or blank, is binary of no known
        format, holds a record longer than ``max_length`` (by default the
        longest the measures accept) or more than this machine's memory, or
        its numbers cannot be read or symbolized as asked; the message names
        the file (and line or column) and is one line.

    Notes
    -----
    gzip, bzip2 and xz files are read through as a stream, recognised by
    their content.
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
    source = display_name(path)
    with _opened(path, source) as file:  # a record each made inside: memory it lacks is this input's failure
        return list(flattened(_read(file, source, options, path)))


def read_parts(path: str, options: ReadOptions = ReadOptions()) -> list[Record | Reads]:
    """``read_source``'s records, with those of FASTA and FASTQ as ``Reads``: a column each of their names,
    symbols and ambiguity counts, some thousands of records at a time."""
    source = display_name(path)
    with _opened(path, source) as file:
        return _read(file, source, options, path)


@contextlib.contextmanager
def _opened(path: str, source: str) -> Iterator:
    """The file (``-``: standard input) open for reading, its failures as one-line input errors."""
    try:
        if path == "-":
            yield sys.stdin.buffer
            return
        try:
            file = open(path, "rb")
        except FileNotFoundError:
            raise InputError(f"{path}: no such file") from None
        except IsADirectoryError:
            raise InputError(f"{path}: is a directory") from None
        with file:
            yield file
    except MemoryError:
        # One input too large for this machine is that input's failure, not the batch's.
        raise InputError(f"{source}: out of memory while reading; --max-length N refuses longer records") from None
    except OSError as exc:
        raise InputError(f"{source}: cannot read: {exc.strerror or exc}") from None


def read_decompressed(path: str, max_length: int | None = None) -> tuple[bytes, str | None]:
    """The whole content of a file (``-``: standard input) with its compression taken off, and the
    compression's name; refused past ``max_length`` bytes (by default the longest record read)."""
    source = display_name(path)
    limit = _limit(ReadOptions(max_length=max_length))
    with _opened(path, source) as file:
        stream, compression = _decompressed(file, source)
        data = _read_up_to(stream, limit + 1)
        if len(data) > limit:
            raise limit.refuse(source)
        return data, compression


def _decompressed(file, source: str, chunk: int = _CHUNK) -> tuple[_Stream, str | None]:
    """The content of an open file, with one layer of gzip, bzip2 or xz taken off as it is read
    ``chunk`` bytes at a time."""
    start = _read_up_to(file, _SNIFF_BYTES)
    for magic, name, opener in _COMPRESSIONS:
        if magic.match(start):
            return _Stream(b"", opener(_Stream(start, file, source)), source, name, chunk), name
    return _Stream(start, file, source, chunk=chunk), None


def _chunk_size(limit: int) -> int:
    """How much is read at a time: what reading may pass the limit by before refusing, so a small
    share of a small limit."""
    return min(_CHUNK, max(_SNIFF_BYTES, limit >> 7))


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


def parse_bytes(data: bytes, source: str, options: ReadOptions = ReadOptions(), path: str = "") -> list[Record]:
    """The records of content already in memory, read as ``read_source`` reads a file."""
    try:
        return list(flattened(_read(io.BytesIO(data), source, options, path or source)))
    except MemoryError:
        raise InputError(f"{source}: out of memory while reading") from None


class _Stream(io.RawIOBase):
    """What was looked at first, then the rest of the file; decompression faults as the input's own."""

    def __init__(self, head: bytes, rest, source: str, compression: str | None = None, chunk: int = _CHUNK):
        super().__init__()
        self._chunk = chunk
        self._head = memoryview(head)
        self._rest = rest
        self._source = source
        self._compression = compression

    def readable(self) -> bool:
        return True

    def readinto(self, buffer) -> int:
        size = len(buffer)
        if self._head:
            chunk = self._head[:size].tobytes()
            self._head = self._head[len(chunk) :]
        else:
            # Large reads are taken a chunk at a time: a decompressor returns what it is asked for as
            # a new object, which would double what the caller's buffer already holds.
            chunk = self._pull(min(size, self._chunk))
        buffer[: len(chunk)] = chunk
        return len(chunk)

    def _pull(self, size: int) -> bytes:
        if self._compression is None:
            return self._rest.read(size)
        try:
            return self._rest.read(size)
        except _DAMAGED as exc:
            raise InputError(f"{self._source}: damaged {self._compression} data ({exc})") from None

    def chunks(self) -> Iterator[bytes]:
        """The rest of the content a chunk at a time, each as the file gave it (no copy on the way)."""
        if self._head:
            yield self._head.tobytes()
            self._head = memoryview(b"")
        while chunk := self._pull(self._chunk):
            yield chunk


def _read_up_to(stream, size: int) -> bytes:
    """At most ``size`` bytes of the stream.  A reader allocates what it is asked for before it reads,
    and the limit (2 GiB by default) can be more than a process may have: a file is asked for what it
    holds, and anything else for small parts."""
    try:
        info = os.fstat(stream.fileno())
        held = info.st_size - stream.tell() if stat.S_ISREG(info.st_mode) else None
    except (AttributeError, OSError, ValueError):  # no file of its own (a decompressor, a buffer)
        held = None
    data = b""
    if held is not None:
        ask = min(size, held + 1)  # one more than it holds, to see whether it has grown
        data = stream.read(ask)
        if len(data) < ask or len(data) == size:
            return data
        size -= len(data)
    out = io.BytesIO(data)
    out.seek(0, io.SEEK_END)
    while size > 0 and (part := stream.read(min(size, _SNIFF_BYTES))):
        out.write(part)
        size -= len(part)
    return out.getvalue()


def _read(file, source: str, options: ReadOptions, path: str) -> list[Record | Reads]:
    limit = _limit(options)
    if options.format == "bytes":
        # The file's bytes exactly as they are: no decompression, nothing removed.
        data = _read_up_to(file, limit + 1)
        if len(data) > limit:
            raise limit.refuse(source, len(data) if not file.read(1) else None)
        if not data:
            raise InputError(f"{source}: empty input")
        return [Record(source, source, data, "bytes")]
    origin = file.tell() if file.seekable() else None
    stream, compression = _decompressed(file, source, _chunk_size(limit))
    head = _head(stream)
    complete = len(head) < _SNIFF_BYTES
    if complete and not (head if options.raw else head.strip()):
        raise InputError(f"{source}: empty input")
    fmt = detect_format(head, path or source, options, complete)
    for given, option in ((options.symbolize, "--symbolize"), (options.column, "--column"), (options.rows, "--rows")):
        if given and fmt in ("fasta", "fastq", "text"):
            raise InputError(f"{source}: {option} applies to numbers, but this input reads as {fmt}")
    if options.unit != "byte" and fmt != "text":
        raise InputError(f"{source}: --unit {options.unit} applies to text, but this input reads as {fmt}")
    if fmt in ("fasta", "fastq"):
        return list(_read_sequences(head, stream, source, fmt, compression, options, limit))
    if fmt == "text":
        return [_read_text(head, stream, source, compression, options, limit)]
    if fmt == "npy":
        numbers = _read_npy(head, stream, source, options, limit)
    else:
        again = None if origin is None else lambda: _again(file, origin, source, limit)
        data = _read_lines(head, stream, source, limit, again)
        # Searched, not stripped: a stripped copy of a large table would cost its size again.
        word = _WORD.search(data)
        if word is None:
            raise InputError(f"{source}: empty input")
        line_end = data.find(b"\n", word.start())
        multi_line = line_end >= 0 and _WORD.search(data, line_end) is not None
        first = _first_line(data[:_SNIFF_BYTES]).decode("utf-8", "replace")
        delimiter = numeric.detect_delimiter(first, {".csv": ",", ".tsv": "\t"}.get(_inner_suffix(path)))
        numbers = numeric.read_table(data, source, options.column, delimiter, options.missing, options.rows)
        fmt = "csv" if delimiter is not None and (multi_line or fmt == "csv") else "numbers"
    records = []
    for values in numbers:
        if len(values.values) > limit:
            raise limit.refuse(source, len(values.values))
        name = source if values.row is None else f"row {values.row}"
        records.append(_symbolized(values, name, source, fmt, compression, options))
    return records


def _head(stream: _Stream) -> bytes:
    """The first bytes of the content, to tell its format by; a UTF-8 byte-order mark is no symbol."""
    head = _read_up_to(stream, _SNIFF_BYTES)
    return head[len(_BOM) :] if head.startswith(_BOM) else head


def _again(file, origin: int, source: str, limit: _Limit) -> Iterator[bytes]:
    """The content of a file read before, from where its reading started."""
    file.seek(origin)
    stream, _ = _decompressed(file, source, _chunk_size(limit))
    return _chain(_head(stream), stream)


def _read_lines(head: bytes, stream: _Stream, source: str, limit: _Limit,
                again: Callable[[], Iterator[bytes]] | None = None) -> bytes:
    """All of a number file; refused once it has more lines than a record may have values, or a
    line more values (a record is a column, a row, or one line of values).

    A number takes two bytes of text at least (its separator included), so
    the text of a record refused is twice the limit or more.  Where the input
    can be read ``again`` (a file rather than a pipe), text past half the
    limit is not kept: the rest is only counted, and the file read again
    once it is known to fit.
    """
    out: io.BytesIO | None = io.BytesIO()
    size = 0
    lines = 0
    values = 0  # in the line not yet ended
    between = True  # whether that line so far ends between values
    word = 0  # the length of the value not yet ended
    for chunk in _chain(head, stream):
        if chunk.translate(None, _NOT_BINARY):
            raise InputError(f"{source}: binary content where numbers were expected (UTF-16 text? UTF-8 is read)")
        lines += chunk.count(b"\n")
        if lines > limit:
            raise limit.refuse(source)
        at = chunk.rfind(b"\n")
        if at >= 0:
            values, between, word = 0, True, 0
        tail = np.frombuffer(chunk, np.uint8)[at + 1 :]
        if len(tail):
            # A value starts wherever a separator is followed by anything else.
            separator = _VALUE_SEPARATORS[tail]
            values += int(np.count_nonzero(separator[:-1] & ~separator[1:])) + (between and not separator[0])
            between = bool(separator[-1])
            last = len(tail) - 1 - int(np.argmax(separator[::-1])) if separator.any() else -1
            word = len(tail) - 1 - last + (word if last < 0 else 0)
            if values > limit:
                raise limit.refuse(source)
            if word > _LONGEST_VALUE:
                # No number is written so (an endless device read as numbers comes here).
                raise InputError(f"{source}:{lines + 1}: a value of more than {_LONGEST_VALUE} characters")
        size += len(chunk)
        if out is not None:
            out.write(chunk)
            if again is not None and size > limit // 2:
                out = None
    if out is not None:
        return out.getvalue()
    assert again is not None
    out = io.BytesIO()
    for chunk in again():
        out.write(chunk)
        if out.tell() > size:
            break
    if out.tell() != size:
        raise InputError(f"{source}: changed while it was read")
    return out.getvalue()


def _chain(head: bytes, stream: _Stream) -> Iterator[bytes]:
    if head:
        yield head
    yield from stream.chunks()


def _inner_suffix(path: str) -> str:
    """The suffix that names the format: that of ``a.csv`` for ``a.csv.gz``."""
    if path in ("", "-"):
        return ""
    name = Path(path)
    if name.suffix.lower() in _COMPRESSED_SUFFIXES:
        name = name.with_suffix("")
    return name.suffix.lower()


# --------------------------------------------------------------------------
# Formats


def detect_format(head: bytes, path: str, options: ReadOptions, complete: bool = True) -> str:
    """The format to read an input as, from its name and first bytes (already decompressed)."""
    if options.raw:
        if options.format not in ("auto", "text"):
            raise InputError(f"--raw applies to text input, not --format {options.format}")
        return "text"
    if options.format != "auto":
        return options.format
    suffix = _inner_suffix(path)
    if head.startswith(_NPY_MAGIC) or suffix == ".npy":
        return "npy"
    if suffix in FASTA_SUFFIXES:
        return "fasta"
    if suffix in FASTQ_SUFFIXES:
        return "fastq"
    if suffix in CSV_SUFFIXES:
        return "csv"
    if _BINARY.search(head):
        raise InputError(
            f"{display_name(path)}: binary content in no format known here; "
            "--format bytes analyses its raw bytes, --format text reads it as text"
        )
    first = _first_line(head)
    if first.startswith(b">"):
        return "fasta"
    if first.startswith(b"@") and _is_fastq(head):
        return "fastq"
    if options.unit == "char":
        return "text"
    if options.column is not None or options.rows:
        return "csv"
    if options.symbolize is not None or _looks_numeric(head, complete):
        return "numbers"
    return "text"


def _first_line(head: bytes) -> bytes:
    """The first line that is neither blank nor a ';' comment (as old FASTA files have)."""
    for line in head.splitlines():
        line = line.strip()
        if line and not line.startswith(b";"):
            return line
    return b""


def _is_fastq(head: bytes) -> bool:
    lines = head.lstrip().splitlines()
    return len(lines) >= 3 and lines[2].startswith(b"+")


def _is_number_word(token: str) -> bool:
    # Gaps and infinities count as numbers when deciding the format, so that they are reported.
    return numeric.is_number(token) or numeric.is_gap(token) or numeric.is_infinity(token)


def _looks_numeric(head: bytes, complete: bool) -> bool:
    """Whether a sample reads as numbers (perhaps under a header row) rather than as symbol text."""
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
    if not rows or not any(numeric.is_number(t) for row in rows for t in row):
        return False
    for tokens in rows:
        if not all(_is_number_word(t) for t in tokens):
            return False
        if len(tokens) > 1 or not tokens[0].isdigit():
            return True  # the first row that is more than digits decides; a bad value is reported later
    return not is_wrapped_digits([tokens[0] for tokens in rows])


def is_wrapped_digits(lines: list[str]) -> bool:
    """Whether lines of digits are symbol text wrapped into lines rather than one integer each."""
    if len(lines) == 1:
        return True
    if any(len(line) > 1 and line[0] == "0" for line in lines):
        return True
    width = len(lines[0])
    wrapped = all(len(line) == width for line in lines[:-1]) and len(lines[-1]) <= width
    return wrapped and (width > 18 or not "".join(lines).strip("01"))


# --------------------------------------------------------------------------
# Text


def _read_text(head: bytes, stream: _Stream, source: str, compression: str | None, options: ReadOptions,
               limit: _Limit) -> Record:
    """Symbol text: wrapped lines joined; in prose a line break between words is one space."""
    raw = options.raw
    prose = not raw and bool(_PROSE.search(head))
    chars = _CharCodes(source) if options.unit == "char" else None
    out = io.BytesIO()
    length = 0
    carry = b""  # line breaks at the end of a chunk: what they become depends on the next one
    last = b" "  # the last symbol written, for a break at the start of a chunk
    words = False  # anything but whitespace seen
    for chunk in _chain(head, stream):
        if raw:
            piece = chunk
        else:
            words = words or bool(_WORD.search(chunk))
            buffer = carry + chunk
            body = buffer.rstrip()
            carry = buffer[len(body) :]
            if len(carry) > limit:
                raise limit.refuse(source)
            if prose and body:
                piece = _LINE_BREAKS.sub(b" ", last + body)[1:].translate(None, b"\r\n")
            else:
                piece = body.translate(None, b"\r\n")
            if body:
                last = body[-1:]
        if chars is not None:
            piece = chars.codes(piece)
        length += len(piece)
        if length > limit:
            raise limit.refuse(source, length if not stream.read(1) else None)
        out.write(piece)
    if not raw:
        tail = carry.translate(None, b"\r\n")  # trailing spaces stay symbols, line breaks do not
        if chars is not None:
            tail = chars.codes(tail) + chars.codes(b"", final=True)
        if length + len(tail) > limit:
            raise limit.refuse(source, length + len(tail))
        out.write(tail)
    elif chars is not None:
        out.write(chars.codes(b"", final=True))
    symbols = out.getvalue()
    if not (symbols if raw else words):
        raise InputError(f"{source}: empty input")
    return Record(source, source, symbols, "text", compression, unit=options.unit, raw=raw,
                  symbol_map=None if chars is None else chars.mapping())


class _CharCodes:
    """UTF-8 characters to one-byte codes, numbered in the order they first appear."""

    def __init__(self, source: str):
        self._source = source
        self._decoder = codecs.getincrementaldecoder("utf-8")()
        self._seen: dict[str, int] = {}
        self._table: dict[int, int] = {}
        self._offset = 0

    def codes(self, data: bytes, final: bool = False) -> bytes:
        try:
            text = self._decoder.decode(data, final)
        except UnicodeDecodeError as exc:
            where = self._offset + exc.start
            raise InputError(f"{self._source}: not UTF-8 text (byte {where}); --unit byte reads its bytes") from None
        self._offset += len(data)
        new = set(text).difference(self._seen)
        if new:
            for char in sorted(new, key=text.index):
                if len(self._seen) == 256:
                    raise InputError(f"{self._source}: more than 256 distinct characters, "
                                     "too many for --unit char (one byte per symbol)")
                self._table[ord(char)] = len(self._seen)
                self._seen[char] = len(self._seen)
        return text.translate(self._table).encode("latin-1")

    def mapping(self) -> str:
        return "".join(self._seen)


# --------------------------------------------------------------------------
# FASTA and FASTQ


class _WholeSequenceLines(io.RawIOBase):
    """FASTQ text for its reader, which holds a record whole in a buffer it doubles as the record grows.

    A record is passed on only once its sequence line has ended (the short
    reads of a FASTQ file pass at once); until then its start is held here,
    in the chunks it came in, and refused as soon as a line passes the
    limit.  A sequence too long thus costs about the limit, rather than the
    reader's doubled buffer and the copies it makes while growing it.
    """

    def __init__(self, chunks: Iterator[bytes], source: str, limit: _Limit):
        super().__init__()
        self._chunks = chunks
        self._source = source
        self._limit = limit
        self._out: list[memoryview] = []  # what the reader may have, in order (reversed: taken from the end)
        self._held: list[memoryview] = []  # the record whose header or sequence line has not ended, from its start
        self._line = 0  # of the record being read: 0 header, 1 sequence, 2 '+', 3 qualities
        self._run = 0  # the length of the line being read
        self._carriage = False  # whether the last chunk ended in \r
        self._ended = False

    def readable(self) -> bool:
        return True

    def readinto(self, buffer) -> int:
        while not self._out:
            if self._ended:
                return 0
            self._take(next(self._chunks, b""))
        part = self._out[-1]
        size = min(len(buffer), len(part))
        buffer[:size] = part[:size]
        if size == len(part):
            self._out.pop()
        else:
            self._out[-1] = part[size:]
        return size

    def _take(self, chunk: bytes) -> None:
        if not chunk:
            # The end: what is held goes to the reader, which reports a record cut short.
            self._ended = True
            self._pass(self._held)
            return
        breaks = chunk.count(b"\n")
        at = chunk.rfind(b"\n")
        if at >= 0:
            # The line going on from the last chunk ends here (a line inside a chunk costs no more than
            # the chunk; the reads are checked whole after).  A line break, as \r\n, is no symbol.
            end = chunk.find(b"\n")
            carriage = chunk[end - 1] == 13 if end else self._carriage
            if self._run + end - carriage > self._longest(self._line):
                raise self._limit.refuse(self._source)
            self._run = len(chunk) - at - 1
        else:
            self._run += len(chunk)
        self._carriage = chunk[-1] == 13
        self._line = (self._line + breaks) % 4
        if self._run - 1 > self._longest(self._line):  # its last byte may be the \r of a line break
            raise self._limit.refuse(self._source)
        if self._line >= 2:
            start = len(chunk)  # every sequence line so far has ended
        elif breaks > self._line:
            # The record being read starts after the last line break (header) or the one before (sequence).
            start = at + 1 if self._line == 0 else chunk.rfind(b"\n", 0, at) + 1
        else:
            self._held.append(memoryview(chunk))  # still inside the header or sequence of a record begun before
            return
        view = memoryview(chunk)
        self._pass([*self._held, view[:start]])
        self._held = [view[start:]]

    def _pass(self, parts: list[memoryview]) -> None:
        self._out = [part for part in reversed(parts) if part]

    def _longest(self, line: int) -> int:
        """How long a line of a record may be: its header (and the '+' line that may repeat it) as a
        FASTA header may, its sequence and qualities the limit."""
        return self._limit + (_HEADER_ROOM if line % 2 == 0 else 0)


# FASTA and FASTQ records are gathered this many at a time into the columns of one Reads.
_READS_PER_PART = 4096


def _read_sequences(head: bytes, stream: _Stream, source: str, fmt: str, compression: str | None,
                    options: ReadOptions, limit: _Limit) -> Iterator[Reads]:
    count = 0
    parts = _parts(_fasta(head, stream, source, limit)) if fmt == "fasta" else _fastq(head, stream, source, limit)
    for headers, sequences in parts:
        yield _reads(headers, sequences, count + 1, source, fmt, compression, options, limit)
        count += len(headers)
    if not count:
        raise InputError(f"{source}: no {fmt.upper()} records")


# Part by part, when reading fails, the records read before the fault are given first (and so checked
# first): the first fault of a file is the one reported, whether a record's or the reading's.


def _parts(records: Iterator[tuple[str, bytes]]) -> Iterator[tuple[list[str], list[bytes]]]:
    """The (headers, sequences) of ``_READS_PER_PART`` records at a time."""
    headers: list[str] = []
    sequences: list[bytes] = []
    try:
        for header, sequence in records:
            headers.append(header)
            sequences.append(sequence)
            if len(headers) == _READS_PER_PART:
                yield headers, sequences
                headers, sequences = [], []
    except Exception:
        if headers:
            yield headers, sequences
        raise
    if headers:
        yield headers, sequences


def _reads(headers: list[str], sequences: list[bytes], first: int, source: str, fmt: str,
           compression: str | None, options: ReadOptions, limit: _Limit) -> Reads:
    """The columns of records read as headers and sequences, the first of them record number ``first``.

    The checks of every record run over the whole part at once; only a part
    where one of them finds something goes through its records one by one.
    """
    names = [words[0] if (words := header.split(None, 1)) else f"{source}#{number}"
             for number, header in enumerate(headers, first)]
    fold = not options.keep_case
    symbols = list(map(bytes.upper, sequences)) if fold else sequences
    lengths = list(map(len, symbols))
    ambiguous = [0] * len(symbols)
    if not min(lengths) or max(lengths) > limit or b"".join(symbols).translate(None, _NUCLEOTIDES):
        for index, name in enumerate(names):
            symbols[index], ambiguous[index] = _nucleotides(symbols[index], name, source, options.ambiguous, limit)
    return Reads(source, fmt, compression, fold, names, symbols, ambiguous, options.ambiguous == "drop")


def _fastq(head: bytes, stream: _Stream, source: str, limit: _Limit) -> Iterator[tuple[list[str], list[bytes]]]:
    """The (headers, sequences) of FASTQ records, parsed by dnaio, ``_READS_PER_PART`` at a time."""
    try:
        import dnaio
    except ImportError:
        raise InputError(f"{source}: reading FASTQ needs dnaio: pip install 'parsimetrics[fastq]'") from None

    if not head.lstrip().startswith(b"@"):  # known at once, before the reader fills its buffer
        raise InputError(f"{source}: not valid FASTQ: a record starts with '@'")
    feed = _WholeSequenceLines(_chain(head, stream), source, limit)
    try:
        yield from _parts((item.name, item.sequence.encode("ascii"))
                          for item in dnaio.FastqReader(feed, _close_file=False))
    except dnaio.exceptions.FileFormatError as exc:
        where = "" if exc.line is None else f":{exc.line + 1}"
        raise InputError(f"{source}{where}: not valid FASTQ: {exc.message.rstrip('.')}") from None


def _fasta(head: bytes, stream: _Stream, source: str, limit: _Limit) -> Iterator[tuple[str, bytes]]:
    """(header, sequence) of every FASTA record, a record at a time.

    Whole chunks are cut at their record starts, so the work per record is a
    few bytes operations; a record that spans chunks grows in one buffer (a
    sequence line too: its symbols are kept as they arrive) and is refused as
    soon as it passes the limit.  Blank lines, ';' comment lines and
    whitespace inside sequence lines are no symbols.
    """
    header: str | None = None
    record = io.BytesIO()
    length = 0
    pending: list[bytes] = []  # the start of a header or comment line not yet ended
    pending_size = 0
    continuing = False  # the last chunk ended inside a sequence line
    lineno = 0  # lines read, for the one message that names a line

    def add(symbols: bytes) -> None:
        nonlocal length
        if symbols:
            if header is None:
                raise InputError(f"{source}:{lineno + 1}: sequence data before the first '>' header")
            length += len(symbols)
            if length > limit:
                raise limit.refuse(f"{source}: {header.split()[0] if header.split() else 'a record'}")
            record.write(symbols)

    for chunk in _chain(head, stream):
        if continuing or pending:
            end = chunk.find(b"\n")
            line, chunk = (chunk, b"") if end < 0 else (chunk[:end], chunk[end + 1 :])
            if continuing:
                add(_sequence_lines(line))
            else:
                pending.append(line)
                pending_size += len(line)
                if pending_size > limit + _HEADER_ROOM:
                    raise limit.refuse(source)
            if end < 0:
                continue
            lineno += 1
            continuing = False
            if pending:
                chunk = b"".join(pending) + b"\n" + chunk
                pending, pending_size, lineno = [], 0, lineno - 1
        cut = chunk.rfind(b"\n") + 1
        data, tail = chunk[:cut], chunk[cut:]
        if data:
            for index, part in enumerate((b"\n" + data).split(b"\n>")):
                if index:
                    if header is not None:
                        yield header, record.getvalue()
                    line, _, part = part.partition(b"\n")
                    header, record, length = line.decode("utf-8", "replace").strip(), io.BytesIO(), 0
                    lineno += 1
                else:
                    part = part[1:]  # the line break put in front to find a record starting the chunk
                symbols = _sequence_lines(part)
                if symbols and header is None:
                    lineno += _first_data_line(part) - 1
                add(symbols)
                lineno += part.count(b"\n")
        if tail[:1] in (b">", b";"):
            pending, pending_size = [tail], len(tail)
        elif tail:
            add(_sequence_lines(tail))
            continuing = True
    line = b"".join(pending)
    if line.startswith(b">"):
        if header is not None:
            yield header, record.getvalue()
        header, record = line[1:].decode("utf-8", "replace").strip(), io.BytesIO()
    if header is not None:
        yield header, record.getvalue()


def _sequence_lines(part: bytes) -> bytes:
    """The symbols of sequence lines: line breaks, comment lines and spaces left out."""
    if part.startswith(b";") or b"\n;" in part:
        part = b"\n".join(line for line in part.split(b"\n") if not line.startswith(b";"))
    symbols = part.translate(None, b"\r\n")
    if b" " in symbols or b"\t" in symbols:
        symbols = b"".join(symbols.split())
    return symbols


def _first_data_line(part: bytes) -> int:
    """The number (from 1) of the first line of ``part`` holding symbols."""
    for number, line in enumerate(part.split(b"\n"), 1):
        if line.strip() and not line.startswith(b";"):
            return number
    return 1


def _nucleotides(symbols: bytes, name: str, source: str, ambiguous: str, limit: _Limit) -> tuple[bytes, int]:
    """A record's symbols, with those outside ACGT (U) of a nucleotide sequence counted (and dropped if asked)."""
    if not symbols:
        raise InputError(f"{source}: record {name!r} is empty")
    if len(symbols) > limit:  # a FASTQ read is checked here, once it is whole
        raise limit.refuse(f"{source}: {name}", len(symbols))
    others = symbols.translate(None, _NUCLEOTIDES)
    count = 0
    if others and len(others) * 2 <= len(symbols) and not others.translate(None, _AMBIGUITY_CODES):
        count = len(others)
        if ambiguous == "error":
            raise InputError(f"{source}: record {name!r} holds {count} symbols outside ACGT "
                             f"(such as {chr(others[0])!r}); --ambiguous drop leaves them out, keep keeps them")
        if ambiguous == "drop":
            symbols = symbols.translate(None, _AMBIGUITY_CODES)
            if not symbols:
                raise InputError(f"{source}: record {name!r} holds no ACGT once ambiguous codes are dropped")
    return symbols, count


def ambiguity_warning(records: Iterable[Record | Reads]) -> str | None:
    """One line about the nucleotide records whose alphabet holds more than ACGT, if any do (and kept them)."""
    counts = []
    for item in records:
        if isinstance(item, Reads):
            counts += [] if item.dropped else filter(None, item.ambiguous)
        elif item.ambiguous and not item.ambiguous_dropped:
            counts.append(item.ambiguous)
    if not counts:
        return None
    kept, symbols = len(counts), sum(counts)
    return (f"warning: {kept} nucleotide record{'s' * (kept > 1)} hold{'s' * (kept == 1)} "
            f"{symbols} symbol{'s' * (symbols > 1)} outside ACGT (ambiguity codes such as N), which count as "
            "letters of their alphabet: --log-base 4 measures in the base of four nucleotides, "
            "--ambiguous drop leaves the codes out")


# --------------------------------------------------------------------------
# Numbers


def _read_npy(head: bytes, stream: _Stream, source: str, options: ReadOptions, limit: _Limit) -> list[Numbers]:
    header = io.BytesIO(head)
    try:
        version = np.lib.format.read_magic(header)
        read_header = np.lib.format.read_array_header_1_0 if version == (1, 0) else np.lib.format.read_array_header_2_0
        shape, _, dtype = read_header(header)
    except (ValueError, OSError, EOFError) as exc:
        raise InputError(f"{source}: not a readable .npy file ({exc})") from None
    # A record's length is known from the header: refused before the values are read.
    length = shape[-1] if options.rows and len(shape) == 2 else (shape[0] if shape else 1)
    if length > limit:
        raise limit.refuse(source, length)
    # Only the values the header declares are read: whatever follows them (NumPy ignores it) may be endless.
    size = header.tell() + math.prod(shape) * dtype.itemsize
    content = io.BytesIO()
    for chunk in _chain(head, stream):
        content.write(chunk[: size - content.tell()])
        if content.tell() == size:
            break
    try:
        array = np.load(io.BytesIO(content.getbuffer()), allow_pickle=False)
    except (ValueError, OSError, EOFError) as exc:
        raise InputError(f"{source}: not a readable .npy file ({exc})") from None
    if array.dtype == np.bool_:
        array = array.view(np.uint8)
    if array.dtype.kind not in "iuf":
        raise InputError(f"{source}: a .npy array of {array.dtype}, not of numbers")
    if array.ndim not in (1, 2):
        raise InputError(f"{source}: a {array.ndim}-D .npy array; one series (1-D), or a 2-D array "
                         "read by column (--column) or by row (--rows)")
    if options.rows:
        if options.column is not None:
            raise InputError("--rows reads every row whole; it takes no --column")
        return [_finite(row, source, options.missing, f"row {i} ", row=i) for i, row in enumerate(np.atleast_2d(array))]
    if array.ndim == 2:
        width = array.shape[1]
        column = options.column
        if column is None and width != 1:
            raise InputError(f"{source}: {width} columns; choose one with --column NUMBER, "
                             "or read each row with --rows")
        if column is not None and not (column.isdigit() and 1 <= int(column) <= width):
            raise InputError(f"{source}: no column {column!r} ({width} columns, numbered from 1)")
        index = int(column or 1) - 1
        return [_finite(array[:, index], source, options.missing, column=index + 1,
                        column_number=index + 1)]
    if options.column not in (None, "1"):
        raise InputError(f"{source}: no column {options.column!r} (a 1-D array: one series)")
    return [_finite(array, source, options.missing)]


def _finite(array: np.ndarray, source: str, missing: str, where: str = "", **label: int) -> Numbers:
    """The values of one series of an array (``where``: "row I " for a row), NaN as gaps, infinities refused."""
    dropped = 0
    if array.dtype.kind == "f":
        finite = np.isfinite(array)
        if not finite.all():
            if np.isinf(array).any():
                raise InputError(f"{source}: infinite value at {where}index {int(np.argmax(np.isinf(array)))}")
            count = int(np.count_nonzero(~finite))
            if missing != "drop":
                first = int(np.argmin(finite))
                raise InputError(
                    f"{source}: {count} missing value{'s' * (count > 1)} (NaN, the first at {where}index {first}); "
                    "--missing drop leaves them out"
                )
            array, dropped = array[finite], count
    if not len(array):
        raise InputError(f"{source}: no values" + (f" in {where.strip()}" if where else ""))
    return Numbers(array, array.dtype.kind in "iu", dropped, **label)


def _symbolized(values: Numbers, name: str, source: str, fmt: str, compression: str | None,
                options: ReadOptions) -> Record:
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
        name,
        source,
        symbols,
        fmt,
        compression,
        column=values.column,
        column_number=values.column_number,
        row=values.row,
        symbolizer=str(symbolizer),
        cut_points=result.cuts,
        missing_dropped=values.dropped,
    )
