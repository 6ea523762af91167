"""Kaspar-Schuster counts of many rows of symbol codes at once, for the measures built on them."""

from __future__ import annotations

from collections.abc import Iterable

import numpy as np

from . import _native


def phrase_counts(rows: Iterable[np.ndarray | bytes], *, normalize: bool = False, log_base: int | None = None) -> np.ndarray:
    """The Kaspar-Schuster count of every row, on the worker pool: int64, or float64 scaled when ``normalize``.

    Rows are uint8 codes (or bytes); a 2-D array's rows are read in place.
    ``normalize`` scales each count c of n symbols to ``c / (n / log_k n)``
    with k ``log_base``, or by default the row's distinct symbols (at least
    2), as ``kaspar_schuster`` does.
    """
    if isinstance(rows, np.ndarray) and rows.ndim == 2:
        items = np.ascontiguousarray(rows, dtype=np.uint8)
    else:
        items = [row if isinstance(row, bytes) else np.ascontiguousarray(row, dtype=np.uint8).tobytes() for row in rows]
    base = _native.ABSENT if log_base is None else log_base
    values, failure = _native.many("kaspar_schuster", items, _native.ABSENT, base, -1, normalize)
    if failure is not None:  # only memory exhaustion or an internal fault: bytes always convert
        raise failure[1]
    return np.array(values, dtype=np.float64 if normalize else np.int64)
