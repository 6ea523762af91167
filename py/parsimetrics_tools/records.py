"""What the readers produce: records of symbols that say where they came from."""

from __future__ import annotations

from dataclasses import asdict, dataclass
from typing import Any


class InputError(Exception):
    """A problem with the input data, reported to the user as one line."""


@dataclass(frozen=True)
class Record:
    """One sequence to analyse, with everything needed to read it again the same way.

    ``format`` is the format the input was read as (``fasta``, ``text``,
    ``numbers``, ``csv``, ``npy`` or ``bytes``) and ``compression`` the
    compression taken off first (``gzip``, ``bzip2``, ``xz``), if any.  For
    numbers, ``column`` is the table column read (its name, or its number from
    1 when the table has no header), ``symbolizer`` the method in its text
    form, ``cut_points`` the values that split the classes (none for
    ``values`` and ``ordinal``) and ``missing_dropped`` how many gaps were left
    out.  ``case_folded`` says that FASTA letters were folded to upper case.
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

    def provenance(self) -> dict[str, Any]:
        """The JSON-ready fields that describe how the symbols were read (all but the symbols)."""
        fields = asdict(self)
        del fields["symbols"]
        fields["file"] = fields.pop("source")
        if self.cut_points is not None:
            fields["cut_points"] = list(self.cut_points)
        return fields

    def describe(self) -> str:
        """One line for ``--verbose``: the format and how the symbols were made."""
        parts = [self.format + (f" ({self.compression})" if self.compression else "")]
        if self.column is not None:
            parts.append(f"column {self.column!r}")
        if self.symbolizer is not None:
            parts.append(f"symbolized by {self.symbolizer}")
        if self.missing_dropped:
            parts.append(f"missing values dropped: {self.missing_dropped}")
        if self.case_folded:
            parts.append("letters folded to upper case")
        label = self.source if self.name == self.source else f"{self.source}: {self.name}"
        return f"{label}: {', '.join(parts)}; {len(self.symbols)} symbols"


@dataclass(frozen=True)
class ReadOptions:
    format: str = "auto"
    raw: bool = False
    column: str | None = None
    symbolize: Any = None  # a Symbolizer, or None for the default of the data
    missing: str = "error"
    keep_case: bool = False
