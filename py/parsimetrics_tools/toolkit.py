"""Measures over many sequences, sliding windows, scales and pairs.

Every function here reads one symbol per element (see ``as_symbols``) and
takes the data in the shape it arrives in: a collection of sequences, or
the series along ``axis`` of an array of any dimension, a pandas object or
an xarray ``DataArray`` (see ``map_series``).

``many``, ``profile`` and ``nid_matrix`` run in the native part of this
package: the sequences are read under the interpreter lock, then measured on
the worker pool (``RAYON_NUM_THREADS`` threads) with the lock released, so
other Python threads keep running.  Every value is the one the module's own
function gives on the same bytes, whatever the number of threads.
"""

from __future__ import annotations

import math
import operator
from collections.abc import Iterable
from typing import Any, NoReturn

import numpy as np
import parsimetrics

from . import _native
from .shapes import as_symbols, map_series
from .symbolizers import _as_symbolizer, float_mean, rows_as_bytes, symbolize_rows

# The names and the absent-option marker come from the native part, which
# defines them once for both languages.
MANY_MEASURES: tuple[str, ...] = _native.MANY_MEASURES
WINDOW_MEASURES: tuple[str, ...] = _native.WINDOW_MEASURES
_ABSENT: int = _native.ABSENT


def _choice(function: str, name: str, value: Any, choices: tuple[str, ...]) -> None:
    if not isinstance(value, str) or value not in choices:
        raise ValueError(f"{function}: {name}: expected one of {', '.join(map(repr, choices))}, got {value!r}")


def _native_options(function: str, measure: str, options: dict[str, Any]) -> tuple[int, int, int, bool]:
    """The native arguments after the measure's name: (alphabet, log_base, max_block_size, normalize)."""
    if measure == "kaspar_schuster":
        return _ks_options(function, options)
    return (*_options(function, {"complexity": "h"}.get(measure, measure), options), False)


def _ks_options(function: str, options: dict[str, Any]) -> tuple[int, int, int, bool]:
    """The native arguments of the kaspar_schuster measure."""
    unknown = sorted(set(options) - {"normalize", "log_base"})
    if unknown:
        raise TypeError(f"{function}() got an unexpected keyword argument {unknown[0]!r} (measure 'kaspar_schuster')")
    # The log base as h checks it, so that the same mistakes raise the same errors.
    base = {} if options.get("log_base") is None else {"log_base": options["log_base"]}
    alphabet, log_base, max_block = _options(function, "h", base)
    return alphabet, log_base, max_block, bool(options.get("normalize", False))


def _options(function: str, measure: str, options: dict[str, Any], sequences: int = 1) -> tuple[int, int, int]:
    """Options checked by the module itself, so that the same mistakes raise the same errors.

    A call of ``measure`` on empty sequences validates every keyword it
    takes.  A valid block size is swapped for 1 there: the empty sequence's
    ladder would still have that many steps.  A mistake is reported under
    ``function``, with the option it concerns.  Returns (alphabet,
    log_base, max_block_size) as the native part reads them.
    """
    probe = dict(options)
    if type(probe.get("max_block_size")) is int and -(2**31) <= probe["max_block_size"] < 2**31:
        probe["max_block_size"] = 1
    call = getattr(parsimetrics, measure)
    try:
        call(*[b""] * sequences, **probe)
    except Exception as exc:
        raise _option_error(function, measure, exc, call, probe, sequences) from None

    def u32(key: str) -> int:
        value = options.get(key)
        return _ABSENT if value is None else operator.index(value)

    max_block = options.get("max_block_size")
    return u32("alphabet"), u32("log_base"), -1 if max_block is None else operator.index(max_block)


def _option_error(function: str, measure: str, exc: Exception, call: Any, probe: dict, sequences: int) -> Exception:
    text = str(exc)
    culprit = None
    for key, value in probe.items():  # the module's range errors do not say which option they mean
        try:
            call(*[b""] * sequences, **{key: value})
        except Exception:
            culprit = key
            break
    if text.startswith(f"{measure}()") and function != "many":
        message = f"{function}()" + text[len(measure) + 2 :]  # the module's function is ours to hide
    elif culprit is not None and f"'{culprit}'" not in text:
        message = f"{function}: {culprit}: {text}"
    else:
        message = f"{function}: {text}"
    try:
        return type(exc)(message)
    except Exception:
        return exc


def _is_series_data(x: Any) -> bool:
    """An array or labelled object whose series lie along an axis, rather than a collection of sequences."""
    if isinstance(x, np.ndarray):
        return x.dtype.kind not in "OSU"  # objects, bytes and texts are sequences one by one
    return _library(x) == "xarray" or (_library(x) == "pandas" and not _labelled_items(x))


def _library(x: Any) -> str:
    return type(x).__module__.partition(".")[0] if hasattr(x, "ndim") else ""


def _labelled_items(x: Any) -> bool:
    """A pandas Series of sequences (texts, bytes, lists): one item per label, as a column of DNA reads."""
    return _library(x) == "pandas" and x.ndim == 1 and x.dtype.kind not in "biuf"


def _items(function: str, sequences: Any) -> list:
    """The sequences of a collection argument, as a list."""
    if isinstance(sequences, (str, bytes, bytearray, memoryview)):
        raise TypeError(f"{function}: sequences: expected a collection of sequences, got one {type(sequences).__name__}")
    try:
        return list(sequences)
    except TypeError:
        raise TypeError(
            f"{function}: sequences: expected a collection of sequences, got {type(sequences).__name__}"
        ) from None


def _symbols_of_items(function: str, items: list) -> tuple[list[bytes], tuple[int, BaseException] | None]:
    """Each item's symbols, up to the first that has none: (symbols, (index, exception) or None)."""
    if set(map(type, items)) <= {bytes}:
        return items, None
    symbols = []
    for index, item in enumerate(items):
        try:
            symbols.append(item if type(item) is bytes else as_symbols(item, function=function))
        except (TypeError, ValueError) as exc:
            if type(exc) not in (TypeError, ValueError):
                raise  # the caller's own exception types pass unchanged, as do MemoryError and the like
            return symbols, (index, exc)
    return symbols, None


def _raise_at(function: str, failure: tuple[int, BaseException]) -> NoReturn:
    """Re-raises an item's exception with the function and the item's position in the message."""
    index, exc = failure
    text = str(exc)
    prefix = f"{function}: "
    if text.startswith(prefix):
        text = text[len(prefix) :]
    # MemoryError and some others carry no text: their name says what happened.
    message = f"{prefix}sequences[{index}]: {text or type(exc).__name__}"
    try:
        tagged = type(exc)(message)
    except Exception:  # an exception type with a richer constructor keeps its own arguments
        exc.add_note(message)
        raise exc from None
    raise tagged from exc


def _measure_each(
    function: str, measure: str, symbols: list[bytes] | np.ndarray, options: tuple[int, int, int, bool]
) -> list:
    """The measure of each sequence: bytes objects, or the rows of a 2-D uint8 array (read in place)."""
    results, failure = _native.many(measure, symbols, *options)
    if failure is not None:
        _raise_at(function, failure)
    return results


def many(measure: str, sequences: Any, *, axis: Any = None, dim: Any = None, **options: Any) -> Any:
    """One measure of every sequence, computed in parallel.

    Parameters
    ----------
    measure : {"factorization", "h", "emc", "lz76", "kaspar_schuster"}
        The module's function to apply, or this package's
        ``kaspar_schuster`` (with its ``normalize`` and ``log_base``).
    sequences : collection of sequences, or array-like, pandas or xarray object
        A list (or other iterable, or a pandas Series of texts or bytes) of
        sequences, each read as ``as_symbols`` reads one; or an array of integer or bool symbol codes of any
        dimension, whose series lie along ``axis``; a DataFrame (one series
        per column, per row with ``axis=1``), a Series, or a DataArray
        (series along ``dim``).
    axis : int, optional
        The series axis of an array (default: the last).
    dim : hashable, optional
        The series dimension of a DataArray (default: the last).
    **options
        ``alphabet``, ``log_base``, ``max_block_size``: passed to the
        module's function, and checked by it before any sequence, also when
        there are none (``normalize`` and ``log_base`` for
        ``"kaspar_schuster"``).

    Returns
    -------
    list, ndarray, nested list, pandas or xarray object
        For a collection, a list: exactly ``[getattr(parsimetrics,
        measure)(as_symbols(s), **options) for s in sequences]`` (a Series
        with the same labels for a Series of sequences).  For an
        array, the value of its one series when it is 1-D, else an array
        of ``h`` or ``kaspar_schuster`` values (nested lists of the records
        of the other measures)
        shaped like the array without ``axis``; pandas and xarray objects
        come back labelled.

    Raises
    ------
    ValueError, TypeError
        A bad measure or option (from the module, under ``many``); an item
        that is not a sequence of symbols, or on which the module fails:
        the exception of the first such item, with its position
        (``many: sequences[3]: ...``).

    Notes
    -----
    Integers are one symbol per element, as everywhere in the toolkit, so
    the codes ``symbolize`` gives (also 10 and more) mean one sequence
    whatever their container; the module itself would join their decimal
    digits.  The sequences are measured on the worker pool with the
    interpreter lock released.

    Examples
    --------
    >>> many("h", [b"0101", b"0110"], log_base=2)
    [1.0, 1.5]
    >>> many("factorization", np.array([[0, 1, 1], [1, 1, 1]]))
    [(2, [0, 1, 2, 4]), (1, [0, 1, 3])]
    >>> many("h", np.zeros((2, 3, 8), dtype=np.uint8)).shape
    (2, 3)
    >>> many("kaspar_schuster", [b"", b"0000", b"0101"])
    [0, 2, 3]
    >>> many("h", [[b"0101", b"0110"], [b"0000", b"0111"]]).shape  # as symbolize gives N-D arrays
    (2, 2)
    """
    _choice("many", "measure", measure, MANY_MEASURES)
    native = _native_options("many", measure, options)
    if _is_series_data(sequences):
        return map_series(
            "many", sequences, lambda codes: _measure_each("many", measure, np.ascontiguousarray(codes), native),
            axis=axis, dim=dim, kind="scalar" if measure in ("h", "kaspar_schuster") else "record",
        )
    _no_axis("many", axis, dim)
    shape = _nested_bytes_shape(sequences)
    if shape is not None:  # what symbolize gives for an N-D array: measured in its shape
        items = list(_flatten(sequences, len(shape)))
        if len(items) != math.prod(shape):
            raise ValueError("many: sequences: nested lists of unequal lengths")
        flat = many(measure, items, **options)
        if measure in ("h", "kaspar_schuster"):
            return np.array(flat).reshape(shape)
        return _nest(flat, shape)
    symbols, failure = _symbols_of_items("many", _items("many", sequences))
    # The items before a bad one are measured first: one of them may fail first, as in a loop.
    results = _measure_each("many", measure, symbols, native)
    if failure is not None:
        _raise_at("many", failure)
    if _labelled_items(sequences):
        return type(sequences)(results, index=sequences.index, name=sequences.name)
    return results


def _nested_bytes_shape(x: Any) -> tuple[int, ...] | None:
    """The shape of nested lists of bytes objects two or more levels deep (symbolize's N-D result), else None.

    Only bytes leaves count: a list of texts is one sequence (its texts joined), and a list of
    integers one sequence of codes.
    """
    shape = []
    while type(x) is list and x:
        shape.append(len(x))
        x = x[0]
    return tuple(shape) if len(shape) >= 2 and type(x) is bytes else None


def _flatten(x: list, depth: int):
    for item in x:
        if depth > 1:
            if type(item) is not list:
                raise ValueError("many: sequences: nested lists of unequal lengths")
            yield from _flatten(item, depth - 1)
        else:
            yield item


def _nest(flat: list, shape: tuple[int, ...]) -> list:
    for size in reversed(shape[1:]):
        flat = [flat[i:i + size] for i in range(0, len(flat), size)]
    return flat


def _no_axis(function: str, axis: Any, dim: Any) -> None:
    if axis is not None or dim is not None:
        raise TypeError(f"{function}: axis and dim apply to arrays, pandas and xarray objects, not to a list of sequences")


def profile(
    sequence: Any, window: int, step: int | None = None, measure: str = "h", *, axis: Any = None, dim: Any = None,
    **options: Any,
) -> tuple[np.ndarray, Any]:
    """Measure every window of a sequence: ``(starts, values)``.

    Parameters
    ----------
    sequence : str, bytes, array-like of symbol codes, pandas or xarray object
        One sequence, read as ``as_symbols`` reads it; or the series along
        ``axis`` (``dim``) of an array of any dimension, a DataFrame's
        columns (rows with ``axis=1``) or a DataArray.
    window : int
        The window length, at least 1 and at most the sequence length.
    step : int, optional
        The distance between window starts (default: ``window``).
    measure : {"h", "complexity", "emc", "kaspar_schuster"}, default "h"
        The entropy rate (float64), the factor count (int64), the
        effective measure complexity's value (float64) or
        ``kaspar_schuster``'s count (int64, or float64 with
        ``normalize=True``).
    axis, dim : optional
        The series axis of an array, or dimension of a DataArray.
    **options
        ``alphabet``, ``log_base`` (and ``max_block_size`` for ``"emc"``),
        as the module's function takes them; ``normalize`` and
        ``log_base`` for ``"kaspar_schuster"``.

    Returns
    -------
    starts : ndarray of int64
        The first position of every window.
    values : ndarray, pandas.DataFrame or xarray.DataArray
        One value per window; for many series, an array shaped like the
        input without ``axis``, plus a last axis of windows (a DataFrame
        with one column per start, a DataArray with a ``start`` dimension).

    Raises
    ------
    ValueError, TypeError
        A bad measure, window, step or option, named with ``profile``.

    Notes
    -----
    The windows are ``[s, s + window)`` for ``s = 0, step, 2 step, ...``
    while ``s + window <= n``.  Each value equals the module's result on
    the window's symbols (``kaspar_schuster``'s, for that measure), except
    that without ``log_base=`` every window takes the whole sequence's
    alphabet size as its base, so that windows compare.

    Examples
    --------
    >>> profile(b"0101010101100101", window=8, step=4)
    (array([0, 4, 8]), array([0.75 , 1.125, 1.5  ]))
    >>> profile(b"aaaabbbb", 4, measure="complexity")[1]
    array([1, 1])
    >>> profile(np.zeros((3, 2, 100), dtype=np.uint8), 50)[1].shape
    (3, 2, 2)
    """
    _choice("profile", "measure", measure, WINDOW_MEASURES)
    native = _native_options("profile", measure, options)
    counts = measure == "complexity" or (measure == "kaspar_schuster" and not native[3])
    window = _positive("profile", "window", window)
    step = window if step is None else _positive("profile", "step", step)
    starts: list[int] = []  # filled in once the length is known; labels the windows' axis

    def compute(codes: np.ndarray) -> np.ndarray:
        n = codes.shape[-1]
        if window > n:
            raise ValueError(f"profile: window: {window} exceeds the sequence length {n}")
        starts.extend(range(0, n - window + 1, step))
        values = np.empty((len(codes), len(starts)), dtype=np.int64 if counts else np.float64)
        for row, symbols in enumerate(rows_as_bytes(codes)):
            raw = _native.profile(symbols, window, step, measure, *native)[1]
            values[row] = np.frombuffer(raw, dtype=np.float64)
        return values

    values = map_series("profile", sequence, compute, axis=axis, dim=dim, new_dim=("start", starts))
    return np.array(starts, dtype=np.int64), values


def _positive(function: str, name: str, value: Any) -> int:
    if isinstance(value, bool):
        raise TypeError(f"{function}: {name}: expected an integer, got bool")
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{function}: {name}: expected an integer, got {type(value).__name__}") from None
    if value < 1:
        raise ValueError(f"{function}: {name}: must be at least 1, got {value}")
    return value


def nid_matrix(sequences: Any, *, axis: Any = None, dim: Any = None, **options: Any) -> Any:
    """The normalized information distance of every pair, as a symmetric float64 matrix.

    Parameters
    ----------
    sequences : collection of sequences, 2-D array-like, DataFrame or DataArray
        A list of sequences, each read as ``as_symbols`` reads one; or the
        series along ``axis`` of a 2-D array of symbol codes, the columns
        of a DataFrame (rows with ``axis=1``), or the series along ``dim``
        of a 2-D DataArray.
    axis, dim : optional
        The series axis of an array, or dimension of a DataArray.
    **options
        ``alphabet`` and ``log_base``, accepted as the module's ``nid``
        accepts them (they change no distance).

    Returns
    -------
    ndarray, pandas.DataFrame or xarray.DataArray
        Entry ``[i, j]`` equals ``parsimetrics.nid(s[i], s[j])`` on the
        symbols of the two series; a DataFrame is labelled on both sides by
        the series' labels, a DataArray has the other dimension twice
        (the second named with ``_2`` appended).

    Raises
    ------
    ValueError, TypeError
        A bad option (named with ``nid_matrix``); an item that is not a
        sequence of symbols, with its position.

    Notes
    -----
    The normalized information distance of Li et al. (2004), with LZ76
    factor counts in place of Kolmogorov complexity.  The diagonal is each
    sequence's distance to itself, as the module gives it.

    Examples
    --------
    >>> nid_matrix([b"abcd", b"abce", b"aaaa"]).tolist()[0]
    [0.0, 0.25, 0.75]
    """
    native = _options("nid_matrix", "nid", options, sequences=2)[:2]
    if not _is_series_data(sequences):
        _no_axis("nid_matrix", axis, dim)
        symbols, failure = _symbols_of_items("nid_matrix", _items("nid_matrix", sequences))
        if failure is not None:
            _raise_at("nid_matrix", failure)
        if _labelled_items(sequences):
            return _labelled_matrix(_nid(symbols, native), sequences.index)
        return _nid(symbols, native)
    if sequences.ndim != 2:
        raise ValueError(f"nid_matrix: sequences: expected a 2-D array (series along axis), got {sequences.ndim}-D")
    rows = map_series(
        "nid_matrix", sequences, lambda codes: list(_nid(rows_as_bytes(codes), native)), axis=axis, dim=dim,
        kind="record",
    )
    if isinstance(rows, list):
        return np.array(rows, dtype=np.float64).reshape(len(rows), len(rows))
    matrix = np.stack(rows.values) if len(rows) else np.empty((0, 0))
    if hasattr(rows, "dims"):  # a DataArray: the other dimension, twice
        other = rows.dims[0]
        second = f"{other}_2"
        coords = {other: rows[other].values, second: rows[other].values} if other in rows.coords else {}
        return type(rows)(matrix, dims=(other, second), coords=coords)
    return _labelled_matrix(matrix, rows.index)


def _labelled_matrix(matrix: np.ndarray, labels: Any) -> Any:
    import pandas as pd  # loaded already: the labels are pandas'

    return pd.DataFrame(matrix, index=labels, columns=labels)


def _nid(symbols: list[bytes], native: tuple[int, int]) -> np.ndarray:
    matrix, failure = _native.nid_matrix(symbols, *native)
    if failure is not None:
        _raise_at("nid_matrix", failure)
    return np.frombuffer(matrix, dtype=np.float64).reshape(len(symbols), len(symbols))


def kaspar_schuster(
    sequence: Any, normalize: bool = False, *, log_base: int | None = None, axis: Any = None, dim: Any = None
) -> Any:
    """The Lempel-Ziv count of Kaspar and Schuster (1987), as the literature reports it.

    Parameters
    ----------
    sequence : str, bytes, array-like of symbol codes, pandas or xarray object
        One sequence: a text is one symbol per character, anything else
        is read as ``as_symbols`` reads it (one symbol per byte or integer
        element); or the series along ``axis`` of an array of any
        dimension, a DataFrame's columns (rows with ``axis=1``), or a
        DataArray's series along ``dim``.
    normalize : bool, default False
        Scale the count to ``c * log_k(n) / n``.
    log_base : int, optional
        The k of the normalized count; by default the number of distinct
        symbols (at least 2).
    axis, dim : optional
        The series axis of an array, or dimension of a DataArray.

    Returns
    -------
    int or float, ndarray, pandas or xarray object
        The count (float when normalized) of one series; for many, an
        array shaped like the input without ``axis``.

    Raises
    ------
    TypeError, ValueError
        ``sequence`` is not a sequence of symbols (see ``as_symbols``), or
        a bad ``log_base``.

    Notes
    -----
    Every phrase is counted: the sequence is cut from the left into
    phrases, each the longest stretch that also starts earlier (overlaps
    allowed) plus one new symbol, the last one possibly a copy up to the
    end.  It differs from the module's ``factorization`` count in two
    places: that last copy is counted, and a constant sequence of two or
    more symbols counts 2.  An empty sequence counts 0 (it has no phrase);
    the normalized count is 0.0 below two symbols.  Reference: F. Kaspar
    and H. G. Schuster, Phys. Rev. A 36, 842 (1987).

    Examples
    --------
    >>> kaspar_schuster("1001111011000010")
    6
    >>> kaspar_schuster(np.array([0, 1, 10, 1, 0]))  # five symbols, not digits
    4
    >>> kaspar_schuster("")
    0
    >>> kaspar_schuster(np.array([[0, 1, 1, 0], [1, 1, 1, 1]]), normalize=True)
    array([1.5, 1. ])
    """
    native = _ks_options("kaspar_schuster", {"normalize": normalize, "log_base": log_base})
    if isinstance(sequence, str) and not sequence.isascii():
        sequence = _characters(sequence)
    return map_series(
        "kaspar_schuster", sequence,
        lambda codes: _measure_each("kaspar_schuster", "kaspar_schuster", np.ascontiguousarray(codes), native),
        axis=axis, dim=dim,
    )


def _characters(text: str) -> np.ndarray:
    """One code per character (not per UTF-8 byte), numbered in order of the characters."""
    distinct, codes = np.unique(np.array(list(text)), return_inverse=True)
    if len(distinct) > 256:
        raise ValueError(f"kaspar_schuster: {len(distinct)} distinct characters; at most 256 fit one symbol each")
    return codes.astype(np.uint8)


def ks_count(symbols: bytes, complexity: int, factors: list[int]) -> int:
    """The Kaspar-Schuster count from the module's factorization of the same symbols."""
    n = len(symbols)
    if n < 2:
        return n
    if symbols.count(symbols[:1]) == n:
        return 2  # the module counts a constant sequence as one factor
    return complexity + 1 if factors[-1] == n + 1 else complexity


def _coarse(data: np.ndarray, scale: int) -> tuple[np.ndarray, int]:
    """Consecutive blocks of ``scale`` values along the last axis, reduced to one: (values, factor).

    Floats are averaged, without overflow.  Integers are summed exactly
    (in 64 bits where the sums fit, as Python ints beyond), and ``factor``
    says that the sums stand for means: every symbolizer compares the
    values with each other, which a common positive factor does not
    change, except for fixed cut points, which it scales.
    """
    blocks = data.shape[-1] // scale
    cut = data[..., : blocks * scale].reshape((*data.shape[:-1], blocks, scale))
    if scale == 1:
        return cut[..., 0], 1
    if data.dtype.kind == "f":
        return float_mean(cut), 1
    if data.dtype.kind in "iu" and data.size:
        largest = max(abs(int(data.min())), abs(int(data.max())))
        wide = np.int64 if data.dtype.kind == "i" else np.uint64
        if largest * scale <= np.iinfo(wide).max:
            return cut.sum(axis=-1, dtype=wide), scale
    return cut.astype(object).sum(axis=-1), scale


def multiscale(
    x: Any, scales: Iterable[int], measure: str = "h", method: str = "median", *, normalize: bool = False,
    log_base: int | None = None, axis: Any = None, dim: Any = None,
) -> Any:
    """A measure of ``x`` coarse-grained at several scales: one value per scale.

    Parameters
    ----------
    x : array-like, pandas or xarray object
        Numbers (floats, integers or bools): one series, or the series
        along ``axis`` of an array of any dimension, a DataFrame's columns
        (rows with ``axis=1``), or a DataArray's series along ``dim``.
    scales : iterable of int
        The block lengths, each from 1 to the series length; at least one.
    measure : {"h", "complexity", "emc", "kaspar_schuster"}, default "h"
        The entropy rate, the factor count, the effective measure
        complexity's value or ``kaspar_schuster``'s count of the symbolized
        coarse series.
    method : str, default "median"
        The symbolizer, as ``symbolize`` takes it.
    normalize : bool, default False
        For ``"kaspar_schuster"`` only: each count c of n symbols scaled to
        ``c * log_k(n) / n``, with k the number of symbols ``method`` can
        give: 2 for ``median``, ``mean`` and ``zero``, K for
        ``quantiles:K``, D! for ``ordinal:D``, the cut points plus one for
        ``threshold``, and the distinct values seen for ``values``.
    log_base : int, optional
        The base of the logarithms for ``"h"``, ``"emc"`` and a normalized
        ``"kaspar_schuster"`` (e.g. 2 for bits per symbol); by default the
        number of distinct symbols of each coarse series, or for a
        normalized ``"kaspar_schuster"`` the number ``method`` can give.
    axis, dim : optional
        The series axis of an array, or dimension of a DataArray.

    Returns
    -------
    ndarray, pandas.DataFrame or xarray.DataArray
        One value per scale (int64 for counts, float64 otherwise);
        for many series, an array shaped like the input without ``axis``
        plus a last axis of scales (a DataFrame with one column per scale,
        a DataArray with a ``scale`` dimension).

    Raises
    ------
    TypeError
        ``x`` is not real numbers (complex values included).
    ValueError
        No scales, a scale below 1 or beyond the length, a bad measure or
        method, ``normalize`` with another measure than
        ``"kaspar_schuster"``, ``log_base`` with a count that takes no
        base, missing or infinite values.

    Notes
    -----
    At scale s, consecutive non-overlapping blocks of s values are replaced
    by their mean (a remainder shorter than s is dropped), as in the
    coarse-graining of multiscale entropy (Costa, Goldberger and Peng,
    2002); the result is symbolized and measured.  Integer means are never
    rounded: blocks of integers are summed exactly, which orders them as
    their means do.  With ``"kaspar_schuster"``, ``normalize=True`` and
    ``method="mean"`` this is the multiscale LZC of Borowska (2021); with
    ``method="ordinal:D"``, multiscale permutation LZC.

    Examples
    --------
    >>> rng = np.random.default_rng(0)
    >>> multiscale(rng.normal(size=4000), [1, 2, 4, 8]).shape
    (4,)
    >>> multiscale(rng.normal(size=(3, 2, 500)), [1, 5], measure="complexity").shape
    (3, 2, 2)
    >>> multiscale(np.sin(np.arange(400) / 5), [1, 2], "kaspar_schuster", "ordinal:3").tolist()
    [13, 15]
    """
    _choice("multiscale", "measure", measure, WINDOW_MEASURES)
    if normalize and measure != "kaspar_schuster":
        raise ValueError(f"multiscale: normalize: applies to measure='kaspar_schuster' only, not {measure!r}")
    counts = measure == "complexity" or (measure == "kaspar_schuster" and not normalize)
    if log_base is not None and counts:
        raise ValueError(f"multiscale: log_base: a count takes no base (measure {measure!r}, normalize={normalize})")
    symbolizer = _as_symbolizer(method, "multiscale")
    base = log_base
    if base is None and normalize and symbolizer.method != "values":
        base = symbolizer.classes
    if measure == "kaspar_schuster":
        options = {"normalize": normalize, "log_base": base}
    else:
        options = {} if log_base is None else {"log_base": log_base}
    native = _native_options("multiscale", measure, options)
    batch = {"complexity": "factorization"}.get(measure, measure)
    if isinstance(scales, (str, bytes)):
        raise TypeError(f"multiscale: scales: expected integers, got {type(scales).__name__}")
    scales = [_positive("multiscale", "scales", s) for s in scales]
    if not scales:
        raise ValueError("multiscale: scales: give at least one scale, e.g. [1, 2, 4]")

    def compute(data: np.ndarray) -> np.ndarray:
        n = data.shape[-1]
        if data.dtype.kind == "f" and np.isnan(data).any():
            raise ValueError("multiscale: x holds missing values (NaN); drop or fill them first")
        values = np.empty((len(data), len(scales)), dtype=np.int64 if counts else np.float64)
        for column, scale in enumerate(scales):
            if scale > n:
                raise ValueError(f"multiscale: scales: {scale} exceeds the length {n}")
            coarse, factor = _coarse(data, scale)
            try:
                symbols = symbolize_rows(coarse, symbolizer, scale=factor)
            except ValueError as exc:
                raise ValueError(f"multiscale: {exc}") from None
            results = _measure_each("multiscale", batch, symbols, native)
            values[:, column] = [value for value, _ in results] if batch in ("factorization", "emc") else results
        return values

    return map_series("multiscale", x, compute, axis=axis, dim=dim, numeric=True, new_dim=("scale", scales))
