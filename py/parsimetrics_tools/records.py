"""What the readers produce: records of symbols that say where they came from."""

from __future__ import annotations

import operator
from dataclasses import dataclass, fields
from collections.abc import Iterable, Iterator
from typing import Any


class InputError(Exception):
    """A problem with the input data, reported to the user as one line."""


@dataclass(frozen=True, slots=True)
class Record:
    """One sequence to analyse, with everything needed to read it again the same way.

    ``format`` is the format the input was read as (``fasta``, ``fastq``,
    ``text``, ``numbers``, ``csv``, ``npy`` or ``bytes``) and ``compression``
    the compression taken off first (``gzip``, ``bzip2``, ``xz``), if any.

    For numbers, ``column`` is the table column read (its name, or its number
    from 1 when the table has no header) and ``column_number`` its position
    from 1 in either case; ``row`` is the row read (from 0) under
    ``--rows``; ``symbolizer`` the method in its text form,
    ``cut_points`` the values that split the classes (none for ``values`` and
    ``ordinal``) and ``missing_dropped`` how many gaps were left out.

    For text, ``unit`` says whether symbols are bytes or characters; for
    characters ``symbol_map`` lists them in the order of their codes (the
    first character seen is code 0).  ``raw`` says the text was taken byte
    for byte, line breaks included.

    For FASTA and FASTQ, ``case_folded`` says that letters were folded to upper
    case, ``ambiguous`` counts the symbols of a nucleotide record outside
    ACGT (U) and ``ambiguous_dropped`` how many of them were left out.
    """

    name: str
    source: str
    symbols: bytes
    format: str = "text"
    compression: str | None = None
    column: int | str | None = None
    symbolizer: str | None = None
    cut_points: tuple[float, ...] | None = None
    missing_dropped: int = 0
    case_folded: bool = False
    column_number: int | None = None
    row: int | None = None
    unit: str = "byte"
    symbol_map: str | None = None
    raw: bool = False
    ambiguous: int = 0
    ambiguous_dropped: int = 0

    def provenance(self) -> dict[str, Any]:
        """The JSON-ready fields that describe how the symbols were read (all but the symbols)."""
        # The fields in one C call: this runs once per record of a million-read file.
        result = dict(zip(_PROVENANCE_KEYS, _provenance_values(self)))
        if self.cut_points is not None:
            result["cut_points"] = list(self.cut_points)
        return result

    def describe(self) -> str:
        """One line for ``--verbose``: the format and how the symbols were made."""
        parts = [self.format + (f" ({self.compression})" if self.compression else "")]
        if self.raw:
            parts.append("raw")
        if self.column is not None:
            parts.append(f"column {self.column!r}" + (f" (number {self.column_number})"
                                                     if self.column_number not in (None, self.column) else ""))
        if self.row is not None:
            parts.append(f"row {self.row}")
        if self.symbolizer is not None:
            parts.append(f"symbolized by {self.symbolizer}")
        if self.missing_dropped:
            parts.append(f"missing values dropped: {self.missing_dropped}")
        if self.unit == "char":
            parts.append(f"{len(self.symbol_map or '')} distinct characters")
        if self.case_folded:
            parts.append("letters folded to upper case")
        if self.ambiguous:
            parts.append(f"symbols outside ACGT: {self.ambiguous}" + " (dropped)" * bool(self.ambiguous_dropped))
        label = self.source if self.name == self.source else f"{self.source}: {self.name}"
        return f"{label}: {', '.join(parts)}; {len(self.symbols)} symbols"


@dataclass(frozen=True, slots=True)
class Reads:
    """Consecutive FASTA or FASTQ records of one file, held as columns rather than as a ``Record`` each.

    A file of short reads holds millions of records: a few list entries a
    read cost far less than an object each.  Iterating gives each read as its
    ``Record``, the same as reading the records one at a time would.
    ``dropped`` says the ambiguity codes counted in ``ambiguous`` were left out.
    """

    source: str
    format: str
    compression: str | None
    case_folded: bool
    names: list[str]
    symbols: list[bytes]
    ambiguous: list[int]
    dropped: bool = False

    def __len__(self) -> int:
        return len(self.names)

    def __iter__(self) -> Iterator[Record]:
        return map(self.__getitem__, range(len(self.names)))

    def __getitem__(self, index: int) -> Record:
        count = self.ambiguous[index]
        return Record(self.names[index], self.source, self.symbols[index], self.format, self.compression,
                      case_folded=self.case_folded, ambiguous=count, ambiguous_dropped=count if self.dropped else 0)

    def part(self, start: int, stop: int) -> Reads:
        """The reads from ``start`` up to ``stop``."""
        return Reads(self.source, self.format, self.compression, self.case_folded, self.names[start:stop],
                     self.symbols[start:stop], self.ambiguous[start:stop], self.dropped)


def flattened(parts: Iterable[Record | Reads]) -> Iterator[Record]:
    """The records of a mix of records and columns of reads, in order."""
    for part in parts:
        if isinstance(part, Reads):
            yield from part
        else:
            yield part


_PROVENANCE = tuple(f.name for f in fields(Record) if f.name != "symbols")
_PROVENANCE_KEYS = tuple("file" if name == "source" else name for name in _PROVENANCE)
_provenance_values = operator.attrgetter(*_PROVENANCE)


@dataclass(frozen=True)
class ReadOptions:
    format: str = "auto"
    raw: bool = False
    column: str | None = None
    symbolize: Any = None  # a Symbolizer, or None for the default of the data
    missing: str = "error"
    keep_case: bool = False
    rows: bool = False  # every row of a table or 2-D array is a record of its own
    unit: str = "byte"  # text symbols: "byte" or "char" (UTF-8 characters)
    ambiguous: str = "keep"  # nucleotide codes beyond ACGT (U): "keep", "drop" or "error"
    max_length: int | None = None  # the longest record read; None: the longest the measures accept
