"""Measures over many sequences, sliding windows, scales and pairs.

``many``, ``profile`` and ``nid_matrix`` run in the native part of this
package: the sequences are read under the interpreter lock, then measured on
the worker pool (``RAYON_NUM_THREADS`` threads) with the lock released, so
other Python threads keep running.  Every value is the one the module's own
function gives, whatever the number of threads.
"""

from __future__ import annotations

import math
import operator
from collections.abc import Iterable
from typing import Any, NoReturn

import numpy as np
import parsimetrics

from . import _native
from .symbolizers import parse_symbolizer, symbolize

# The names and the absent-option marker come from the native part, which
# defines them once for both languages.
MANY_MEASURES: tuple[str, ...] = _native.MANY_MEASURES
WINDOW_MEASURES: tuple[str, ...] = _native.WINDOW_MEASURES
_ABSENT: int = _native.ABSENT


def _choice(name: str, value: Any, choices: tuple[str, ...]) -> int:
    if not isinstance(value, str) or value not in choices:
        raise ValueError(f"{name}: expected one of {', '.join(map(repr, choices))}, got {value!r}")
    return choices.index(value)


def _options(function: str, options: dict[str, Any], sequences: int = 1) -> tuple[int, int, int]:
    """Options checked by the module itself, so that the same mistakes raise the same errors.

    A call on empty sequences validates every keyword the module's function
    takes.  A valid block size is swapped for 1 there: the empty sequence's
    ladder would still have that many steps.  Returns (alphabet, log_base,
    max_block_size) as the native part reads them.
    """
    probe = dict(options)
    if type(probe.get("max_block_size")) is int and -(2**31) <= probe["max_block_size"] < 2**31:
        probe["max_block_size"] = 1
    getattr(parsimetrics, function)(*[b""] * sequences, **probe)

    def u32(key: str) -> int:
        value = options.get(key)
        return _ABSENT if value is None else operator.index(value)

    max_block = options.get("max_block_size")
    return u32("alphabet"), u32("log_base"), -1 if max_block is None else operator.index(max_block)


def _items(name: str, sequences: Any) -> list:
    """The sequences of a collection argument: its items, or the rows of a 2-D array."""
    if isinstance(sequences, (str, bytes, bytearray)):
        raise TypeError(f"{name}: expected a collection of sequences, got one {type(sequences).__name__}")
    ndim = getattr(sequences, "ndim", None)
    if ndim is not None and ndim != 2 and not (ndim == 1 and np.asarray(sequences).dtype == object):
        raise ValueError(f"{name}: expected a 2-D array (one sequence per row), got {ndim}-D")
    try:
        return list(sequences)
    except TypeError:
        raise TypeError(f"{name}: expected a collection of sequences, got {type(sequences).__name__}") from None


def _raise_at(failure: tuple[int, BaseException], name: str) -> NoReturn:
    """Re-raises an item's exception with its position in the message."""
    index, exc = failure
    message = f"{name}[{index}]: {exc}"
    try:
        tagged = type(exc)(message)
    except Exception:  # an exception type with a richer constructor keeps its own arguments
        exc.add_note(message)
        raise exc from None
    raise tagged from exc


def many(measure: str, sequences: Iterable[Any], **options: Any) -> list:
    """One measure of every sequence, computed in parallel.

    Returns exactly ``[getattr(parsimetrics, measure)(s, **options) for s in
    sequences]`` (for ``"kaspar_schuster"``, this package's ``kaspar_schuster``
    with its ``normalize`` and ``log_base``): the same values and types, and
    for the first sequence that fails, the same exception with its position
    added (``sequences[3]: ...``).  A 2-D array counts as its rows.  Options
    are checked before any sequence, also when there are none.

    Examples
    --------
    >>> many("h", [b"0101", b"0110"], log_base=2)
    [1.0, 1.5]
    >>> many("factorization", np.array([[0, 1, 1], [1, 1, 1]]))
    [(2, [0, 1, 2, 4]), (1, [0, 1, 3])]
    >>> many("kaspar_schuster", [b"", b"0000", b"0101"])
    [0, 2, 3]
    """
    _choice("measure", measure, MANY_MEASURES)
    normalize = False
    if measure == "kaspar_schuster":
        alphabet, log_base, max_block, normalize = _ks_options(options)
    else:
        alphabet, log_base, max_block = _options(measure, options)
    items = _items("sequences", sequences)
    results, failure = _native.many(measure, items, alphabet, log_base, max_block, normalize)
    if failure is not None:
        _raise_at(failure, "sequences")
    return results


def profile(
    sequence: Any, window: int, step: int | None = None, measure: str = "h", **options: Any
) -> tuple[np.ndarray, np.ndarray]:
    """Values over sliding windows: ``(starts, values)``.

    The windows are ``[s, s + window)`` for ``s = 0, step, 2 step, ...`` while
    ``s + window <= n`` (``step`` defaults to ``window``), over the symbols as
    the module reads ``sequence`` (use ``symbolize`` for numbers).  ``measure``
    is ``"h"`` (float64), ``"complexity"`` (the factor count, int64), ``"emc"``
    (its value, float64) or ``"kaspar_schuster"`` (int64, or float64 with
    ``normalize=True``); each equals the module's (or ``kaspar_schuster``'s)
    result on the window's symbols, except that without ``log_base=`` every
    window takes the whole sequence's alphabet size as its base, so that
    windows compare.

    Examples
    --------
    >>> profile(b"0101010101100101", window=8, step=4)
    (array([0, 4, 8]), array([0.75 , 1.125, 1.5  ]))
    >>> profile(b"aaaabbbb", 4, measure="complexity")[1]
    array([1, 1])
    """
    _choice("measure", measure, WINDOW_MEASURES)
    normalize = False
    if measure == "kaspar_schuster":
        alphabet, log_base, max_block, normalize = _ks_options(options)
    else:
        alphabet, log_base, max_block = _options("emc" if measure == "emc" else "h", options)
    if getattr(sequence, "ndim", 1) != 1:
        raise ValueError(f"sequence: expected one sequence (1-D), got a {sequence.ndim}-D array")
    window = _positive("window", window)
    step = window if step is None else _positive("step", step)
    n, raw = _native.profile(sequence, window, step, measure, alphabet, log_base, max_block, normalize)
    if window > n:
        raise ValueError(f"window: {window} exceeds the sequence length {n}")
    values = np.frombuffer(raw, dtype=np.float64)
    if measure == "complexity" or (measure == "kaspar_schuster" and not normalize):
        values = values.astype(np.int64)
    return np.arange(len(values), dtype=np.int64) * step, values


def _positive(name: str, value: Any) -> int:
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{name}: expected an integer, got {type(value).__name__}") from None
    if value < 1:
        raise ValueError(f"{name}: must be at least 1, got {value}")
    return value


def nid_matrix(sequences: Iterable[Any], **options: Any) -> np.ndarray:
    """The normalized information distance of every pair, as a symmetric float64 matrix.

    Entry ``[i, j]`` equals ``parsimetrics.nid(sequences[i], sequences[j],
    **options)``; the diagonal is each sequence's distance to itself, as the
    module gives it.  A 2-D array counts as its rows.

    Examples
    --------
    >>> nid_matrix([b"abcd", b"abce", b"aaaa"]).tolist()[0]
    [0.0, 0.25, 0.75]
    """
    alphabet, log_base, _ = _options("nid", options, sequences=2)
    items = _items("sequences", sequences)
    matrix, failure = _native.nid_matrix(items, alphabet, log_base)
    if failure is not None:
        _raise_at(failure, "sequences")
    return np.frombuffer(matrix, dtype=np.float64).reshape(len(items), len(items))


def kaspar_schuster(sequence: Any, normalize: bool = False, *, log_base: int | None = None) -> int | float:
    """The Lempel-Ziv count of Kaspar and Schuster (1987), as the literature reports it.

    Every phrase is counted: the sequence is cut from the left into phrases,
    each the longest stretch that also starts earlier (overlaps allowed) plus
    one new symbol, the last one possibly a copy up to the end.  It differs
    from ``factorization`` in two places: that last copy is counted, and a
    constant sequence of two or more symbols counts 2.  With
    ``normalize=True`` the count is scaled to ``c * log_k(n) / n`` with k
    ``log_base``, by default the number of distinct symbols (at least 2).

    ``sequence`` is a str or bytes (one symbol per character or byte), or an
    array-like of numbers, bools or strings, each element one symbol.  An
    empty sequence counts 0 (it has no phrase); the normalized count is 0.0
    below two symbols.

    Examples
    --------
    >>> kaspar_schuster("1001111011000010")
    6
    >>> kaspar_schuster(np.array([0, 1, 10, 1, 0]))  # five symbols, not digits
    4
    >>> kaspar_schuster("")
    0
    """
    alphabet, base, max_block, scaled = _ks_options({"normalize": normalize, "log_base": log_base})
    (value,), _ = _native.many("kaspar_schuster", [_symbol_bytes(sequence)], alphabet, base, max_block, scaled)
    return value


def _ks_options(options: dict[str, Any]) -> tuple[int, int, int, bool]:
    """The native arguments of the kaspar_schuster measure: (alphabet, log_base, max_block_size, normalize)."""
    unknown = sorted(set(options) - {"normalize", "log_base"})
    if unknown:
        raise TypeError(f"kaspar_schuster() got an unexpected keyword argument {unknown[0]!r}")
    # The log base as h checks it, so that the same mistakes raise the same errors.
    base = {} if options.get("log_base") is None else {"log_base": options["log_base"]}
    alphabet, log_base, max_block = _options("h", base)
    return alphabet, log_base, max_block, bool(options.get("normalize", False))


def ks_count(symbols: bytes, complexity: int, factors: list[int]) -> int:
    """The Kaspar-Schuster count from the module's factorization of the same symbols."""
    n = len(symbols)
    if n < 2:
        return n
    if symbols.count(symbols[:1]) == n:
        return 2  # the module counts a constant sequence as one factor
    return complexity + 1 if factors[-1] == n + 1 else complexity


def _symbol_bytes(sequence: Any) -> bytes:
    """One byte per element; elements are ranked, so any 256 distinct values fit."""
    if isinstance(sequence, str):
        values = np.array(list(sequence)) if sequence else np.array([], dtype=np.int64)
    elif isinstance(sequence, (bytes, bytearray)):
        return bytes(sequence)
    else:
        values = np.asarray(sequence)
        if values.ndim != 1:
            raise ValueError(f"sequence: expected one sequence (1-D), got a {values.ndim}-D array")
    distinct, codes = np.unique(values, return_inverse=True)
    if len(distinct) > 256:
        raise ValueError(f"sequence: {len(distinct)} distinct symbols; at most 256 fit one byte each")
    return codes.astype(np.uint8).tobytes()


def multiscale(
    x: Any, scales: Iterable[int], measure: str = "h", method: str = "median", *, normalize: bool = False
) -> np.ndarray:
    """A measure of ``x`` coarse-grained at several scales: one value per scale.

    At scale s, consecutive non-overlapping blocks of s values are replaced by
    their mean (a remainder shorter than s is dropped), the result is
    symbolized with ``method`` (as ``symbolize``) and measured: ``"h"``,
    ``"complexity"`` (factor count), ``"emc"`` or ``"kaspar_schuster"``.  A
    2-D ``x`` gives one row of values per row of ``x``.

    ``normalize=True`` (``kaspar_schuster`` only) scales each count c of n
    symbols to ``c * log_k(n) / n`` with k the number of symbols ``method``
    can give: 2 for ``median``, ``mean`` and ``zero``, K for
    ``quantiles:K``, D! for ``ordinal:D`` (the base of permutation LZC), the
    cut points plus one for ``threshold``, and the distinct values seen for
    ``values``.  With ``method="mean"`` this is the multiscale LZC of Borowska
    (2021); with ``method="ordinal:D"``, multiscale permutation LZC.

    Examples
    --------
    >>> rng = np.random.default_rng(0)
    >>> multiscale(rng.normal(size=4000), [1, 2, 4, 8]).shape
    (4,)
    >>> multiscale(np.sin(np.arange(400) / 5), [1, 2], "kaspar_schuster", "ordinal:3").tolist()
    [13, 15]
    """
    _choice("measure", measure, WINDOW_MEASURES)
    if normalize and measure != "kaspar_schuster":
        raise ValueError(f"normalize: applies to measure='kaspar_schuster' only, not {measure!r}")
    symbolizer = parse_symbolizer(method) if isinstance(method, str) else method
    base = None if symbolizer.method == "values" or not normalize else symbolizer.classes
    data = np.asarray(x, dtype=np.float64)
    if data.ndim not in (1, 2):
        raise ValueError(f"x: expected a 1-D or 2-D array, got {data.ndim}-D")
    if np.isnan(data).any():
        raise ValueError("x: holds missing values (NaN); drop or fill them first")
    rows = data.reshape(-1, data.shape[-1])
    scales = [_positive("scales", s) for s in scales]
    columns = []
    for scale in scales:
        blocks = rows.shape[1] // scale
        if blocks == 0:
            raise ValueError(f"scales: {scale} exceeds the length {rows.shape[1]}")
        coarse = rows[:, : blocks * scale].reshape(rows.shape[0], blocks, scale).mean(axis=2)
        symbols = symbolize(coarse, method)
        if measure == "h":
            columns.append(many("h", symbols))
        elif measure == "kaspar_schuster":
            columns.append(many("kaspar_schuster", symbols, normalize=normalize, log_base=base))
        else:
            results = many("factorization" if measure == "complexity" else "emc", symbols)
            columns.append([value for value, _ in results])
    counts = measure == "complexity" or (measure == "kaspar_schuster" and not normalize)
    values = np.array(columns, dtype=np.int64 if counts else np.float64).T
    return values[0] if data.ndim == 1 else values
