"""Numbers to symbols: the symbolizers shared by ``symbolize`` and the command line.

A symbolizer turns a numeric series into one small integer code per value (or
per window, for ordinal patterns).  The codes are bytes, so the module reads
them as symbols: integers handed to it directly would be joined as decimal
text, and 1, 23 and 12, 3 would become the same sequence.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
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
    """Parse a symbolizer's text form; raises ``ValueError`` with a readable message."""
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
    dropped: int  # missing values left out


def _as_symbolizer(method: str | Symbolizer) -> Symbolizer:
    if isinstance(method, Symbolizer):
        return method
    if not isinstance(method, str):
        raise TypeError(f"method must be a str such as 'median', not {type(method).__name__}")
    try:
        return parse_symbolizer(method)
    except ValueError as exc:
        raise ValueError(f"method: {exc}") from None


def _as_numbers(x: Any) -> np.ndarray:
    if isinstance(x, (str, bytes, bytearray, memoryview)):
        raise TypeError(f"x must be an array-like of numbers, not {type(x).__name__}")
    try:
        array = np.asarray(x)
    except ValueError as exc:  # ragged nesting
        raise ValueError(f"x: {exc}") from None
    if array.dtype == np.bool_:
        return array.view(np.uint8)
    if array.dtype.kind not in "iuf":
        raise TypeError(f"x must hold numbers (float, int or bool), not {array.dtype}")
    return array


def _midpoint(a: np.ndarray, b: np.ndarray) -> np.ndarray:
    """(a + b) / 2 without overflow: halves first where the sum would not fit."""
    with np.errstate(over="ignore", invalid="ignore"):
        total = a + b
    return np.where(np.isfinite(total), total / 2, a / 2 + b / 2)


def _median(x: np.ndarray) -> np.ndarray:
    """Medians along the last axis (float64), exact as ``numpy.median`` but never overflowing."""
    n = x.shape[-1]
    if x.dtype.kind == "f" and n % 2 == 0 and n:
        middle = np.partition(x, (n // 2 - 1, n // 2), axis=-1)
        return _midpoint(middle[..., n // 2 - 1].astype(np.float64), middle[..., n // 2].astype(np.float64))
    if x.dtype.kind == "f":
        return np.median(x, axis=-1)
    # Integers: the middle values are exact; their midpoint may not be as a float.
    middle = np.partition(x, (max(n // 2 - 1, 0), n // 2), axis=-1)
    high = middle[..., n // 2].astype(np.float64)
    return high if n % 2 else _midpoint(middle[..., n // 2 - 1].astype(np.float64), high)


def _mean(x: np.ndarray) -> np.ndarray:
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


def _quantiles(x: np.ndarray, classes: int) -> np.ndarray:
    """The classes − 1 inner quantiles along the last axis (linear interpolation), shape (..., classes − 1)."""
    q = np.arange(1, classes) / classes
    with np.errstate(over="ignore", invalid="ignore"):
        cuts = np.moveaxis(np.quantile(x, q, axis=-1), 0, -1)
    if not np.isfinite(cuts).all():
        # Interpolating between values of opposite sign near the float limit overflows.
        ordered = np.sort(x, axis=-1).astype(np.float64)
        position = q * (x.shape[-1] - 1)
        low = np.floor(position).astype(np.intp)
        high = np.minimum(low + 1, x.shape[-1] - 1)
        weight = position - low
        safe = ordered[..., low] * (1 - weight) + ordered[..., high] * weight
        cuts = np.where(np.isfinite(cuts), cuts, safe)
    return cuts


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


def symbolize_row(x: np.ndarray, symbolizer: Symbolizer, missing: str = "error") -> Symbolized:
    """Symbolize one 1-D series, or each row of a 2-D stack (not for ``values`` or ordinal D > 5)."""
    dropped = 0
    if x.dtype.kind == "f":
        finite = np.isfinite(x)
        if not finite.all():
            if np.isinf(x).any():
                raise ValueError("x holds infinite values")
            dropped = int(np.count_nonzero(~finite))
            if missing == "error":
                raise ValueError(f"x holds {dropped} missing values (NaN); missing='drop' leaves them out")
            x = x[finite]
    if x.shape[-1] == 0:
        raise ValueError("x is empty")
    method = symbolizer.method
    cuts: np.ndarray | None
    if method == "hilbert":
        from .multichannel import envelope_bits  # SciPy is imported only when asked for

        return Symbolized(envelope_bits(x.astype(np.float64)), None, dropped)
    if method == "values":
        distinct, inverse = np.unique(x, return_inverse=True)
        if len(distinct) > MAX_CLASSES:
            raise ValueError(
                f"{len(distinct)} distinct values, more than the {MAX_CLASSES} symbols available; use quantiles:K"
            )
        return Symbolized(inverse.reshape(x.shape).astype(np.uint8), None, dropped)
    if method == "ordinal":
        codes = _ordinal(x, symbolizer.order, symbolizer.delay)
        codes = codes if symbolizer.order <= 5 else _dense(codes)
        return Symbolized(codes.astype(np.uint8), None, dropped)
    if method in ("median", "mean", "zero"):
        cut = _median(x) if method == "median" else _mean(x) if method == "mean" else np.zeros(x.shape[:-1])
        # A value equal to the split value goes below it, so ties never make the classes lopsided upwards.
        codes = (x > np.asarray(cut)[..., None]).view(np.uint8)
        cuts = np.asarray(cut, dtype=np.float64)[..., None]
    elif method == "quantiles":
        # A value equal to a cut point goes below it, as with the median.
        cuts = _quantiles(x, symbolizer.classes)
        rows = zip(cuts.reshape(-1, cuts.shape[-1]), x.reshape(-1, x.shape[-1]), strict=True)
        codes = np.stack([np.searchsorted(c, row, side="left") for c, row in rows]).reshape(x.shape).astype(np.uint8)
    else:  # threshold: the number of cut points at or below the value
        cuts = np.asarray(symbolizer.cuts, dtype=np.float64)
        codes = np.searchsorted(cuts, x, side="right").astype(np.uint8)
    # Cut points are reported for one series; a stack's would be one set per row.
    return Symbolized(codes, tuple(float(c) for c in cuts.reshape(-1)) if x.ndim == 1 else None, dropped)


def symbolize(
    x: npt.ArrayLike,
    method: str | Symbolizer = "median",
    *,
    axis: int = -1,
    missing: str = "error",
) -> bytes | list[bytes]:
    """Turn numbers into symbols the module reads: one byte per symbol, codes 0..k−1.

    ``x`` is an array-like of floats, integers or bools: one series (1-D,
    giving ``bytes``) or one series per row along ``axis`` (2-D, giving a
    ``list`` of ``bytes``).  ``method``:

    - ``"median"``, ``"mean"``, ``"zero"``: 1 above that value, 0 at or below it;
    - ``"threshold:X[,Y,…]"``: the number of cut points at or below the value;
    - ``"quantiles:K"``: K classes split at the linear-interpolation quantiles
      (as ``numpy.quantile``; a value equal to a cut point goes below it);
    - ``"values"``: the rank of the value among the distinct values (at most 256);
    - ``"hilbert"``: 1 where the amplitude envelope ``abs(scipy.signal.hilbert(x))``
      lies above its mean, else 0 (a constant series is all 0), as
      ``lzc_multichannel`` binarizes each channel;
    - ``"ordinal:D[:TAU]"``: each window ``x[i], x[i+TAU], …, x[i+(D−1)·TAU]``
      becomes the lexicographic index of its rank pattern (ties ranked by
      position), so a series of n values gives n − (D − 1)·TAU symbols;
      D from 2 to 7.  For D ≥ 6 the patterns seen are renumbered 0..k−1, as
      D! codes do not fit in a byte.

    Medians, means and quantiles are computed without overflow.  ``missing``:
    ``"error"`` (NaN raises ``ValueError``) or ``"drop"`` (NaN values are left
    out first).  Infinite values always raise ``ValueError``.

    >>> symbolize([0.2, 0.9, 0.4, 0.7])
    b'\\x00\\x01\\x00\\x01'
    >>> symbolize([0.2, 0.5, 0.7], "threshold:0.5")
    b'\\x00\\x01\\x01'
    >>> symbolize([4, 7, 9, 10, 1], "ordinal:3")
    b'\\x00\\x00\\x03'
    >>> symbolize([[1, 5, 2], [9, 3, 3]], "values")
    [b'\\x00\\x02\\x01', b'\\x01\\x00\\x00']
    """
    symbolizer = _as_symbolizer(method)
    if missing not in MISSING:
        raise ValueError(f"missing must be 'error' or 'drop', not {missing!r}")
    if not isinstance(axis, (int, np.integer)) or isinstance(axis, bool):
        raise TypeError(f"axis must be an int, not {type(axis).__name__}")
    array = _as_numbers(x)
    if array.ndim == 1:
        return symbolize_row(array, symbolizer, missing).codes.tobytes()
    if array.ndim != 2:
        raise ValueError(f"x must be 1-D or 2-D, not {array.ndim}-D")
    if not -2 <= axis <= 1:
        raise ValueError(f"axis must be 0, 1, -1 or -2 for 2-D x, not {axis}")
    rows = np.moveaxis(array, axis, -1)
    per_row = symbolizer.method == "values" or symbolizer.order > 5
    if per_row or (missing == "drop" and rows.dtype.kind == "f" and np.isnan(rows).any()):
        return [symbolize_row(row, symbolizer, missing).codes.tobytes() for row in rows]
    codes = symbolize_row(np.ascontiguousarray(rows), symbolizer, missing).codes
    return [row.tobytes() for row in codes]
