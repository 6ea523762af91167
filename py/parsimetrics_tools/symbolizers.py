"""Numbers to symbols: the symbolizers shared by ``symbolize`` and the command line.

A symbolizer turns a numeric series into one small integer code per value (or
per window, for ordinal patterns).  The codes are bytes, so the module reads
them as symbols: integers handed to it directly would be joined as decimal
text, and 1, 23 and 12, 3 would become the same sequence.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from fractions import Fraction
from typing import Any

import numpy as np
import numpy.typing as npt

# One byte per symbol.
MAX_CLASSES = 256
MAX_ORDER = 7
MISSING = ("error", "drop")
_SIMPLE = ("median", "mean", "zero", "values", "hilbert")


@dataclass(frozen=True)
class Symbolizer:
    """A parsed symbolizer: ``method`` with its parameters.

    ``classes`` is K of ``quantiles:K``; ``cuts`` the cut points of
    ``threshold:X,Y,…``; ``order`` and ``delay`` are D and TAU of
    ``ordinal:D:TAU``.  ``str()`` gives back the text form.
    """

    method: str
    classes: int = 2
    cuts: tuple[float, ...] = ()
    order: int = 0
    delay: int = 1

    def __str__(self) -> str:
        if self.method == "quantiles":
            return f"quantiles:{self.classes}"
        if self.method == "threshold":
            return "threshold:" + ",".join(repr(c) for c in self.cuts)
        if self.method == "ordinal":
            return f"ordinal:{self.order}" + (f":{self.delay}" if self.delay != 1 else "")
        return self.method


def parse_symbolizer(text: str) -> Symbolizer:
    """Parse a symbolizer's text form, as ``--symbolize`` and ``symbolize`` take it.

    Parameters
    ----------
    text : str
        ``median``, ``mean``, ``zero``, ``values``, ``hilbert``,
        ``threshold:X[,Y,...]``, ``quantiles:K`` or ``ordinal:D[:TAU]``.

    Returns
    -------
    Symbolizer
        The method with its parameters; ``str()`` of it gives the text back.

    Raises
    ------
    ValueError
        An unknown method or a parameter out of range (K from 2 to 256,
        finite increasing cut points, D from 2 to 7, TAU at least 1), with a
        message that says what is accepted.

    Notes
    -----
    ``symbolize`` describes what each method does to the numbers.  The text
    form is what the command line records as ``symbolizer``, so a result
    says how its symbols were made.

    Examples
    --------
    >>> parse_symbolizer("threshold:0.5,1.5")
    Symbolizer(method='threshold', classes=3, cuts=(0.5, 1.5), order=0, delay=1)
    >>> str(parse_symbolizer("ordinal:4:2"))
    'ordinal:4:2'
    """
    method, colon, arg = text.partition(":")
    if method in _SIMPLE and not colon:
        return Symbolizer(method)
    if method == "quantiles":
        classes = int(arg) if arg.isdigit() else 0
        if 2 <= classes <= MAX_CLASSES:
            return Symbolizer("quantiles", classes)
        raise ValueError(f"quantiles:K needs an integer K from 2 to {MAX_CLASSES}, not {arg!r}")
    if method == "threshold":
        try:
            cuts = tuple(float(c) for c in arg.split(","))
        except ValueError:
            cuts = ()
        if not cuts or not all(math.isfinite(c) for c in cuts) or len(cuts) >= MAX_CLASSES:
            raise ValueError(f"threshold:X[,Y,...] needs finite numbers as cut points, not {arg!r}")
        if list(cuts) != sorted(set(cuts)):
            raise ValueError(f"threshold cut points must increase, not {arg!r}")
        return Symbolizer("threshold", len(cuts) + 1, cuts=cuts)
    if method == "ordinal":
        order, _, delay = arg.partition(":")
        d = int(order) if order.isdigit() else 0
        tau = int(delay) if delay.isdigit() else (1 if not delay else 0)
        if 2 <= d <= MAX_ORDER and tau >= 1:
            return Symbolizer("ordinal", math.factorial(d), order=d, delay=tau)
        raise ValueError(f"ordinal:D[:TAU] needs D from 2 to {MAX_ORDER} and TAU of at least 1, not {arg!r}")
    raise ValueError(
        f"unknown symbolizer {text!r} (choose median, mean, zero, threshold:X[,Y,...], "
        "quantiles:K, values, hilbert or ordinal:D[:TAU])"
    )


@dataclass(frozen=True)
class Symbolized:
    """The codes of one series, with what is needed to reproduce them."""

    codes: npt.NDArray[np.uint8]
    cuts: tuple[float, ...] | None  # None for values and ordinal patterns


def _as_symbolizer(method: str | Symbolizer, function: str = "symbolize") -> Symbolizer:
    if isinstance(method, Symbolizer):
        return method
    if not isinstance(method, str):
        raise TypeError(f"{function}: method must be a str such as 'median', not {type(method).__name__}")
    try:
        return parse_symbolizer(method)
    except ValueError as exc:
        raise ValueError(f"{function}: method: {exc}") from None


def _midpoint(a: np.ndarray, b: np.ndarray) -> np.ndarray:
    """(a + b) / 2 without overflow: halves first where the sum would not fit."""
    with np.errstate(over="ignore", invalid="ignore"):
        total = a + b
    return np.where(np.isfinite(total), total / 2, a / 2 + b / 2)


def _integral(x: np.ndarray) -> bool:
    """Integers (of NumPy's types, or Python ints too large for them): compared exactly, never as floats."""
    return x.dtype.kind in "iuO"


def _exact(values: Any) -> np.ndarray:
    """Python ints, for arithmetic that must not wrap or round."""
    return np.asarray(values).astype(object)


def _as_floats(exact: np.ndarray) -> np.ndarray:
    # Python's int / int is correctly rounded, so a reported split value is the nearest float to the exact one.
    return np.asarray(exact, dtype=object).astype(np.float64)


def _median(x: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Medians along the last axis: (split, reported), never overflowing.

    For integers the split is the median rounded down, an integer of x's
    type: an integer lies above a median exactly when it lies above its
    floor.  For floats both are the float64 median.
    """
    n = x.shape[-1]
    if x.dtype.kind == "f":
        if n % 2 == 0:
            middle = np.partition(x, (n // 2 - 1, n // 2), axis=-1)
            low, high = middle[..., n // 2 - 1].astype(np.float64), middle[..., n // 2].astype(np.float64)
            median = _midpoint(low, high)
        else:
            median = np.median(x, axis=-1)
        return median, median
    middle = np.partition(x, (max(n // 2 - 1, 0), n // 2), axis=-1)
    high = _exact(middle[..., n // 2])
    low = high if n % 2 else _exact(middle[..., n // 2 - 1])
    return _back(x, (low + high) // 2), _as_floats((low + high) / 2)


def _back(x: np.ndarray, exact: Any) -> np.ndarray:
    """Exact integers that lie within x's range, in x's own type."""
    return np.asarray(exact).astype(x.dtype)


def _sums(x: np.ndarray) -> np.ndarray:
    """Exact sums along the last axis, as Python ints."""
    if x.dtype.kind == "O":
        return _exact(x.sum(axis=-1))
    wide = np.int64 if x.dtype.kind == "i" else np.uint64
    if x.size:
        largest = max(-int(x.min()), int(x.max()))
        if largest * x.shape[-1] <= np.iinfo(wide).max:  # the common case: one pass, in place
            return _exact(x.sum(axis=-1, dtype=wide))
    # Two halves of 32 bits, each summed without overflow for up to 2**31 values.
    high, low = x.astype(wide) >> 32, x.astype(wide) & 0xFFFFFFFF
    return _exact(high.sum(axis=-1)) * 2**32 + _exact(low.sum(axis=-1))


def _mean(x: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Means along the last axis: (split, reported), as for ``_median``."""
    if _integral(x):
        total = _sums(x)
        n = x.shape[-1]
        return _back(x, total // n), _as_floats(total / n)
    mean = float_mean(x)
    return mean, mean


def float_mean(x: np.ndarray) -> np.ndarray:
    """Means along the last axis as float64, never overflowing where the values themselves are finite."""
    rows = x.reshape(-1, x.shape[-1])
    with np.errstate(over="ignore", invalid="ignore"):
        mean: np.ndarray = np.asarray(np.mean(rows, axis=-1, dtype=np.float64))
    bad = ~np.isfinite(mean)
    if bad.any():
        # The sum overflowed: scale by a power of two (exact) and back.
        big = rows[bad].astype(np.float64)
        scale = np.ldexp(1.0, -np.frexp(np.max(np.abs(big), axis=-1, keepdims=True))[1])
        mean[bad] = np.mean(big * scale, axis=-1) / scale[:, 0]
    return mean.reshape(x.shape[:-1])


def _quantiles(x: np.ndarray, classes: int) -> tuple[np.ndarray, np.ndarray]:
    """The classes − 1 inner quantiles along the last axis (linear interpolation), shape (..., classes − 1).

    Returns (split, reported) as ``_median`` does.  The k-th quantile lies at
    position k (n − 1) / K of the sorted values: between the values at
    ``low`` and ``low + 1``, a fraction r / K of the way.
    """
    n = x.shape[-1]
    if _integral(x):
        k = np.arange(1, classes)
        low, r = np.divmod(k * (n - 1), classes)
        ordered = np.sort(x, axis=-1)
        a, b = _exact(ordered[..., low]), _exact(ordered[..., np.minimum(low + 1, n - 1)])
        scaled = a * classes + r * (b - a)
        return _back(x, scaled // classes), _as_floats(scaled / classes)
    q = np.arange(1, classes) / classes
    with np.errstate(over="ignore", invalid="ignore"):
        cuts = np.moveaxis(np.quantile(x, q, axis=-1), 0, -1)
    if not np.isfinite(cuts).all():
        # Interpolating between values of opposite sign near the float limit overflows.
        ordered = np.sort(x, axis=-1).astype(np.float64)
        position = q * (n - 1)
        low = np.floor(position).astype(np.intp)
        high = np.minimum(low + 1, n - 1)
        weight = position - low
        safe = ordered[..., low] * (1 - weight) + ordered[..., high] * weight
        cuts = np.where(np.isfinite(cuts), cuts, safe)
    return cuts, cuts


def _threshold_codes(x: np.ndarray, cuts: tuple[float, ...], scale: int) -> np.ndarray:
    """The number of cut points at or below each value (of each value / scale).

    For integers a cut point c counts when the value reaches ceil(c · scale),
    computed exactly; cut points beyond x's type count always or never.
    """
    if not _integral(x):
        return np.searchsorted(np.asarray(cuts, dtype=np.float64), x, side="right")
    bounds = [math.ceil(Fraction(c) * scale) for c in cuts]
    if x.dtype.kind == "O":
        return np.asarray(np.sum([x >= bound for bound in bounds], axis=0, dtype=np.intp)).reshape(x.shape)
    info = np.iinfo(x.dtype)
    below = sum(bound <= info.min for bound in bounds)
    inside = np.array([bound for bound in bounds if info.min < bound <= info.max], dtype=x.dtype)
    return below + np.searchsorted(inside, x, side="right")


def _ordinal(x: np.ndarray, order: int, delay: int) -> np.ndarray:
    """Index of each window's rank pattern: the lexicographic rank of its Lehmer code (ties by position)."""
    n = x.shape[-1] - (order - 1) * delay
    if n < 1:
        raise ValueError(
            f"ordinal:{order}:{delay} needs at least {(order - 1) * delay + 1} values, not {x.shape[-1]}"
        )
    window = [x[..., i * delay : i * delay + n] for i in range(order)]
    codes = np.zeros(x.shape[:-1] + (n,), dtype=np.uint16)
    for i in range(order - 1):
        # Later values smaller than value i; an equal later value ranks above (ties by position).
        smaller = sum((window[j] < window[i]).astype(np.uint16) for j in range(i + 1, order))
        codes += smaller * np.uint16(math.factorial(order - 1 - i))
    return codes


def _dense(codes: np.ndarray) -> np.ndarray:
    """Codes renumbered 0..k−1 in order (for ordinal patterns of D ≥ 6, which outnumber a byte)."""
    used, dense = np.unique(codes, return_inverse=True)
    if len(used) > MAX_CLASSES:
        raise ValueError(f"{len(used)} distinct ordinal patterns, more than the {MAX_CLASSES} symbols of a byte")
    return dense.reshape(codes.shape)


def symbolize_row(x: np.ndarray, symbolizer: Symbolizer, missing: str = "error", *, scale: int = 1) -> Symbolized:
    """Symbolize one 1-D series, or each row of a 2-D stack (not for ``values`` or ordinal D > 5).

    Integers (also Python ints in an object array) are compared exactly.
    ``scale`` says that integer x holds sums of ``scale`` values whose means
    are meant: cut points of ``threshold`` are scaled to match, exactly
    (every other method compares values with each other, which a common
    positive factor does not change).
    """
    if x.dtype.kind == "f":
        finite = np.isfinite(x)
        if not finite.all():
            if np.isinf(x).any():
                raise ValueError("x holds infinite values")
            if missing == "error":
                count = int(np.count_nonzero(~finite))
                raise ValueError(f"x holds {count} missing values (NaN); missing='drop' leaves them out")
            x = x[finite]
    if x.shape[-1] == 0:
        raise ValueError("x is empty")
    method = symbolizer.method
    cuts: np.ndarray | None
    if method == "hilbert":
        from .multichannel import envelope_bits  # SciPy is imported only when asked for

        return Symbolized(envelope_bits(x.astype(np.float64)), None)
    if method == "values":
        distinct, inverse = np.unique(x, return_inverse=True)
        if len(distinct) > MAX_CLASSES:
            raise ValueError(
                f"{len(distinct)} distinct values, more than the {MAX_CLASSES} symbols available; use quantiles:K"
            )
        return Symbolized(inverse.reshape(x.shape).astype(np.uint8), None)
    if method == "ordinal":
        codes = _ordinal(x, symbolizer.order, symbolizer.delay)
        codes = codes if symbolizer.order <= 5 else _dense(codes)
        return Symbolized(codes.astype(np.uint8), None)
    if method in ("median", "mean", "zero"):
        if method == "zero":
            split = reported = np.zeros(x.shape[:-1], dtype=x.dtype if _integral(x) else np.float64)
        else:
            split, reported = _median(x) if method == "median" else _mean(x)
        # A value equal to the split value goes below it, so ties never make the classes lopsided upwards.
        codes = np.asarray(x > np.asarray(split)[..., None], dtype=bool).view(np.uint8)
        cuts = np.asarray(reported, dtype=np.float64)[..., None]
    elif method == "quantiles":
        # A value equal to a cut point goes below it, as with the median.
        split, cuts = _quantiles(x, symbolizer.classes)
        rows = zip(split.reshape(-1, symbolizer.classes - 1), x.reshape(-1, x.shape[-1]), strict=True)
        codes = np.stack([np.searchsorted(c, row, side="left") for c, row in rows]).reshape(x.shape).astype(np.uint8)
    else:  # threshold: the number of cut points at or below the value
        cuts = np.asarray(symbolizer.cuts, dtype=np.float64)
        codes = _threshold_codes(x, symbolizer.cuts, scale).astype(np.uint8)
    # Cut points are reported for one series; a stack's would be one set per row.
    return Symbolized(codes, tuple(float(c) for c in cuts.reshape(-1)) if x.ndim == 1 else None)


def symbolize_rows(rows: np.ndarray, symbolizer: Symbolizer, missing: str = "error", *, scale: int = 1) -> list[bytes]:
    """The codes of every row of a 2-D stack, as bytes: vectorized where the rows share one rule."""
    per_row = symbolizer.method == "values" or symbolizer.order > 5
    if per_row or (missing == "drop" and rows.dtype.kind == "f" and np.isnan(rows).any()):
        return [symbolize_row(row, symbolizer, missing, scale=scale).codes.tobytes() for row in rows]
    return rows_as_bytes(symbolize_row(rows, symbolizer, missing, scale=scale).codes)


def rows_as_bytes(codes: np.ndarray) -> list[bytes]:
    """The rows of a 2-D uint8 array as bytes objects, split by NumPy rather than row by row in Python."""
    m, n = codes.shape
    if n == 0:
        return [b""] * m
    # A row as one opaque item of n bytes: its value is the row's bytes, trailing zeros included.
    return np.ascontiguousarray(codes).view(f"V{n}").reshape(m).tolist()


def symbolize(
    x: Any,
    method: str | Symbolizer = "median",
    *,
    axis: int | str | None = None,
    dim: Any = None,
    missing: str = "error",
) -> Any:
    """Turn numbers into symbols the toolkit and the module read: one byte per symbol, codes 0..k−1.

    Parameters
    ----------
    x : array-like, pandas.Series, pandas.DataFrame or xarray.DataArray
        Floats, integers or bools: one series (1-D) or one series along
        ``axis`` of an array of any dimension.  A DataFrame holds one series
        per column (per row with ``axis=1``); a DataArray one along ``dim``.
    method : str or Symbolizer, default "median"
        - ``"median"``, ``"mean"``, ``"zero"``: 1 above that value, 0 at or
          below it;
        - ``"threshold:X[,Y,…]"``: the number of cut points at or below the value;
        - ``"quantiles:K"``: K classes split at the linear-interpolation
          quantiles (as ``numpy.quantile``; a value equal to a cut point goes
          below it);
        - ``"values"``: the rank of the value among the distinct values (at most 256);
        - ``"hilbert"``: 1 where the amplitude envelope
          ``abs(scipy.signal.hilbert(x))`` lies above its mean, else 0 (a
          constant series is all 0), as ``lzc_multichannel`` binarizes each
          channel;
        - ``"ordinal:D[:TAU]"``: each window ``x[i], x[i+TAU], …,
          x[i+(D−1)·TAU]`` becomes the lexicographic index of its rank
          pattern (ties ranked by position), so a series of n values gives
          n − (D − 1)·TAU symbols; D from 2 to 7.  For D ≥ 6 the patterns
          seen are renumbered 0..k−1, as D! codes do not fit in a byte.
    axis : int, optional
        The series axis (default: the last; the index of a DataFrame).
    dim : hashable, optional
        For a DataArray: the name of the series dimension.
    missing : {"error", "drop"}, default "error"
        What NaN does: raise ``ValueError``, or be left out first.

    Returns
    -------
    bytes or nested list of bytes, pandas.Series or xarray.DataArray
        ``bytes`` for one series; otherwise one ``bytes`` per series, in
        nested lists shaped like ``x`` without ``axis`` (a Series of bytes
        labelled like the DataFrame's other axis; a DataArray of bytes with
        the remaining dimensions).

    Raises
    ------
    TypeError
        ``x`` does not hold real numbers (complex values included).
    ValueError
        An unknown method, missing values with ``missing="error"``,
        infinite values, an empty series, more than 256 distinct values
        for ``"values"``.

    Notes
    -----
    Split values are exact for integers of any width: an integer lies above
    a median, mean or quantile exactly when it lies above its floor, which
    is computed with integer arithmetic, so int64 and uint64 values far
    beyond 2**53 are never rounded.  Float medians, means and quantiles are
    computed without overflow.  Symbolization of this kind is described by
    Bandt and Pompe (2002) for ordinal patterns and by Daw, Finney and
    Tracy (2003) for partitions.

    Examples
    --------
    >>> symbolize([0.2, 0.9, 0.4, 0.7])
    b'\\x00\\x01\\x00\\x01'
    >>> symbolize([0.2, 0.5, 0.7], "threshold:0.5")
    b'\\x00\\x01\\x01'
    >>> symbolize([4, 7, 9, 10, 1], "ordinal:3")
    b'\\x00\\x00\\x03'
    >>> symbolize([[1, 5, 2], [9, 3, 3]], "values")
    [b'\\x00\\x02\\x01', b'\\x01\\x00\\x00']
    >>> symbolize(np.array([2**62 + 1, 2**62 + 3, 2**62, 2**62 + 2]))  # exact beyond 2**53
    b'\\x00\\x01\\x00\\x01'
    """
    from .shapes import map_series

    symbolizer = _as_symbolizer(method)
    if missing not in MISSING:
        raise ValueError(f"symbolize: missing must be 'error' or 'drop', not {missing!r}")

    def compute(rows: np.ndarray) -> list[bytes]:
        try:
            return symbolize_rows(rows, symbolizer, missing)
        except ValueError as exc:
            raise ValueError(f"symbolize: {exc}") from None

    return map_series("symbolize", x, compute, axis=axis, dim=dim, kind="record", numeric=True)
