"""What a toolkit function reads: the symbols of one series, and the series of an array.

Every function of the toolkit reads one symbol per element: a NumPy integer
or bool array, or a sequence of Python ints, is one byte per element, and a
value outside 0..255 is an error rather than a different sequence.  (The
module itself writes integers as decimal digits, so ``[1, 23]`` and
``[12, 3]`` are the same sequence there; the toolkit never hands it
integers.)  Text is its UTF-8 bytes and bytes are taken as they are, as the
module takes them.

``map_series`` is how a function measures every series of an N-D array, a
pandas object or an xarray ``DataArray`` and gives the results back in the
caller's shape and labels.  pandas and xarray are imported only when such an
object is given.
"""

from __future__ import annotations

import math
import operator
import sys
from collections.abc import Callable, Sequence
from typing import Any

import numpy as np

try:
    from numpy.lib.array_utils import normalize_axis_index
except ImportError:  # NumPy before 2.0
    from numpy.core.multiarray import normalize_axis_index  # type: ignore[attr-defined,no-redef]

__all__ = ["as_symbols", "map_series"]

KINDS = ("scalar", "record")


def _not_symbols(function: str, what: str) -> TypeError:
    return TypeError(
        f"{function}: expected symbols (str, bytes, or integers from 0 to 255), got {what}; "
        'turn numbers into symbols first, e.g. symbolize(x, "median")'
    )


def _out_of_range(function: str, low: int, high: int) -> ValueError:
    return ValueError(
        f"{function}: values from {low} to {high} do not fit one symbol per element (0 to 255); "
        'symbolize(x, "values") numbers the distinct values 0, 1, ...'
    )


def symbol_codes(array: np.ndarray, function: str) -> np.ndarray:
    """The uint8 codes of an integer or bool array of any shape, one per element."""
    kind = array.dtype.kind
    if kind == "b":
        return np.ascontiguousarray(array).view(np.uint8)
    if kind == "O" and array.size and all(type(v) is int or type(v) is bool for v in array.flat):
        # Python ints, some perhaps too large for NumPy's own integer types.
        low, high = int(min(array.flat)), int(max(array.flat))
        if low < 0 or high > 255:
            raise _out_of_range(function, low, high)
        return array.astype(np.uint8)
    if kind not in "iu":
        if array.size == 0 and kind in "fO":  # [] and empty arrays hold no symbols to misread
            return np.zeros(array.shape, dtype=np.uint8)
        what = "complex values" if kind == "c" else f"an array of {array.dtype}"
        raise _not_symbols(function, what)
    if array.dtype.itemsize > 1 or kind == "i":
        if array.size:
            low, high = array.min(), array.max()
            if low < 0 or high > 255:
                raise _out_of_range(function, int(low), int(high))
        return array.astype(np.uint8)
    return np.ascontiguousarray(array)


def _is_text_list(x: Any) -> bool:
    return isinstance(x, (list, tuple)) and bool(x) and all(isinstance(s, str) for s in x)


def as_symbols(x: Any, *, function: str = "as_symbols") -> bytes:
    """The symbols a toolkit function measures for one series, as bytes.

    Parameters
    ----------
    x : str, bytes, bytearray, memoryview, array-like of integers or bools
        One series.  Text is its UTF-8 bytes, and a list of texts the bytes
        of their concatenation; bytes-like objects are taken as they are; an
        integer or bool array (any width, either byte order) or a sequence of
        Python ints is one byte per element.
    function : str, optional
        The name error messages start with: the function the user called.

    Returns
    -------
    bytes
        One byte per symbol.

    Raises
    ------
    ValueError
        An integer outside 0..255 (``symbolize(x, "values")`` numbers the
        distinct values instead), or an array of more than one dimension.
    TypeError
        Floating-point, complex, string or other values, which are not
        symbols; ``symbolize`` turns numbers into symbols.

    Notes
    -----
    The module itself reads integers as their decimal digits (``[0, 1, 10]``
    is the text ``"0110"``); the toolkit reads them one symbol per element,
    so the codes ``symbolize`` gives mean the same sequence whatever their
    container.

    Examples
    --------
    >>> as_symbols([0, 1, 10])
    b'\\x00\\x01\\n'
    >>> as_symbols(np.array([True, False]))
    b'\\x01\\x00'
    >>> as_symbols("ab")
    b'ab'
    """
    if isinstance(x, str):
        try:
            return x.encode("utf-8")
        except UnicodeEncodeError as exc:
            raise ValueError(f"{function}: {exc}") from None
    if isinstance(x, bytes):
        return bytes(x)
    if isinstance(x, bytearray):
        return bytes(x)
    if isinstance(x, memoryview) and x.ndim == 1 and x.itemsize == 1 and x.format in ("B", "b", "c"):
        return x.tobytes()
    if _is_text_list(x):
        return as_symbols("".join(x), function=function)
    try:
        array = np.asarray(x)
    except ValueError as exc:  # ragged nesting
        raise ValueError(f"{function}: {exc}") from None
    if array.ndim != 1:
        if array.ndim == 0:
            raise _not_symbols(function, f"one {type(x).__name__}")
        raise ValueError(f"{function}: expected one series (1-D), got a {array.ndim}-D array")
    return symbol_codes(array, function).tobytes()


def numbers(array: np.ndarray, function: str) -> np.ndarray:
    """A numeric array as measures of numbers read it: integers exact, bools as 0/1, floats as float64.

    Python ints too large for NumPy's integer types stay an object array of ints.
    """
    kind = array.dtype.kind
    if kind == "b":
        return array.view(np.uint8)
    if kind in "iu":
        return array
    if kind == "f":
        return array.astype(np.float64, copy=False)
    if kind == "c":
        raise TypeError(f"{function}: complex values are not supported; take x.real, abs(x) or np.angle(x) first")
    if kind == "O" and array.size and all(type(v) is int for v in array.flat):
        return array  # Python ints beyond 64 bits, compared exactly
    raise TypeError(f"{function}: expected numbers (float, int or bool), got an array of {array.dtype}")


# --------------------------------------------------------------------------
# Series of arrays, pandas and xarray objects


def _loaded(module: str, name: str, x: Any) -> bool:
    """Whether x is module.name, without importing a module that no object can come from yet."""
    found = sys.modules.get(module)
    return found is not None and isinstance(x, getattr(found, name))


def _axis(function: str, name: str, axis: Any, ndim: int) -> int:
    if isinstance(axis, bool) or not isinstance(axis, (int, np.integer)):
        raise TypeError(f"{function}: {name} must be an int, not {type(axis).__name__}")
    return normalize_axis_index(operator.index(axis), ndim, msg_prefix=function)


class _Unwrapped:
    """An input taken apart: its values, the series axis, and how to wrap results back."""

    def __init__(self, values: Any, axis: Any, channel_axis: Any, wrap: Callable | None = None):
        self.values, self.axis, self.channel_axis, self.wrap = values, axis, channel_axis, wrap


def _unwrap_pandas(function: str, x: Any, axis: Any) -> _Unwrapped:
    import pandas as pd

    if isinstance(x, pd.Series):
        if axis not in (None, 0, -1, "index"):
            raise ValueError(f"{function}: a Series is one series; axis must be 0, not {axis!r}")
        return _Unwrapped(x.to_numpy(), 0, None)
    # One series per column, as pandas' own reductions go down the index; axis=1 gives one per row.
    names = {None: 0, "index": 0, "columns": 1}
    axis = _axis(function, "axis", names[axis] if axis is None or isinstance(axis, str) and axis in names else axis, 2)
    labels = x.columns if axis == 0 else x.index

    def wrap(result: np.ndarray, kind: str, new_dim: tuple | None) -> Any:
        if result.ndim == 2:
            columns = pd.Index(new_dim[1], name=new_dim[0]) if new_dim else None
            return pd.DataFrame(result, index=labels, columns=columns)
        return pd.Series(result, index=labels, dtype=object if kind == "record" else None)

    return _Unwrapped(x.to_numpy(), axis, None, wrap)


def _unwrap_xarray(function: str, x: Any, axis: Any, dim: Any, channel_axis: Any, channel_dim: Any) -> _Unwrapped:
    import xarray as xr

    def number(name: str, value: Any) -> int:
        if value not in x.dims:
            raise ValueError(f"{function}: {name} {value!r} is not a dimension of x (dimensions: {', '.join(map(str, x.dims))})")
        return x.dims.index(value)

    if dim is not None and axis is not None:
        raise TypeError(f"{function}: give either dim or axis, not both")
    series = number("dim", dim) if dim is not None else _axis(function, "axis", -1 if axis is None else axis, x.ndim)
    channel: int | None = None
    if channel_dim is not None:
        channel = number("channel_dim", channel_dim)
    elif channel_axis is not None:
        channel = _axis(function, "channel_axis", channel_axis, x.ndim)
    consumed = {x.dims[series]} | ({x.dims[channel]} if channel is not None else set())
    kept = [d for d in x.dims if d not in consumed]
    coords = {name: c for name, c in x.coords.items() if not consumed & set(c.dims)}

    def wrap(result: np.ndarray, kind: str, new_dim: tuple | None) -> Any:
        dims, extra = list(kept), dict(coords)
        if new_dim is not None:
            dims.append(new_dim[0])
            extra[new_dim[0]] = list(new_dim[1])
        return xr.DataArray(result, dims=dims, coords=extra, name=x.name)

    return _Unwrapped(x.values, series, channel, wrap)


def map_series(
    function: str,
    x: Any,
    compute: Callable[[np.ndarray], Sequence[Any] | np.ndarray],
    *,
    axis: Any = None,
    dim: Any = None,
    channel_axis: int | None = None,
    channel_dim: Any = None,
    kind: str = "scalar",
    numeric: bool = False,
    new_dim: tuple[str, Sequence[Any]] | None = None,
) -> Any:
    """``compute`` applied to every series of ``x``, with the results in ``x``'s shape and labels.

    Parameters
    ----------
    function : str
        The function the user called; every error message starts with it.
    x : array-like, pandas.Series, pandas.DataFrame or xarray.DataArray
        The series: those along ``axis`` of an array of any dimension; a
        Series is one series; a DataFrame one per column (one per row with
        ``axis=1``); a DataArray one along ``dim`` (default its last
        dimension).  A str or bytes-like object is one series of symbols.
    compute : callable
        Takes a 2-D array ``(m, n)`` of m series, or ``(m, c, n)`` with a
        channel axis, and returns a sequence of m results (or an array whose
        first axis has length m).
    axis : int, optional
        The series axis, counted as NumPy does (negative from the end).
        ``None`` means the last axis, and the index of a DataFrame.
    dim : hashable, optional
        For a DataArray: the name of the series dimension.
    channel_axis, channel_dim : optional
        An axis (dimension name) whose entries belong to one multichannel
        series; it is handed to ``compute`` just before the series axis.
    kind : {"scalar", "record"}
        ``"scalar"``: results (numbers, or arrays of one shape) are stacked
        into an ndarray; ``"record"``: results are kept as objects, in
        nested lists.
    numeric : bool
        ``False``: ``compute`` gets uint8 symbol codes, read as ``as_symbols``
        reads one series.  ``True``: the numbers as given (integers exact,
        bools as 0/1, floats as float64; complex refused).
    new_dim : (name, labels), optional
        For results that are arrays: the name and labels of their axis, for
        pandas columns and xarray coordinates.

    Returns
    -------
    object
        For a 1-D array, a Series or a single series without channel axis,
        the one result as ``compute`` gave it.  Otherwise an ndarray
        (``kind="scalar"``) or nested lists (``kind="record"``) shaped like
        ``x`` without the series and channel axes; a Series or DataFrame
        labelled by the other axis of a DataFrame; a DataArray with the
        remaining dimensions and their coordinates.

    Raises
    ------
    numpy.exceptions.AxisError
        An axis out of range (with ``function`` in the message).
    TypeError, ValueError
        Values that are not symbols (or numbers, with ``numeric=True``),
        a ``dim`` that is not a dimension of ``x``.

    Examples
    --------
    >>> rows = np.array([[0, 1, 1], [2, 2, 2]])
    >>> map_series("count", rows, lambda codes: [len(set(r)) for r in codes])
    array([2, 1])
    >>> map_series("count", rows, lambda codes: [len(set(r)) for r in codes], axis=0).tolist()
    [2, 2, 2]
    """
    if kind not in KINDS:
        raise ValueError(f"{function}: kind must be one of {KINDS}, not {kind!r}")
    if _loaded("pandas", "Series", x) or _loaded("pandas", "DataFrame", x):
        if dim is not None or channel_dim is not None:
            raise TypeError(f"{function}: dim names a dimension of an xarray DataArray; use axis for pandas objects")
        if channel_axis is not None:
            raise TypeError(f"{function}: a channel axis needs an array of 3 or more dimensions, not a pandas object")
        given = _unwrap_pandas(function, x, axis)
    elif _loaded("xarray", "DataArray", x):
        given = _unwrap_xarray(function, x, axis, dim, channel_axis, channel_dim)
    else:
        if dim is not None or channel_dim is not None:
            raise TypeError(f"{function}: dim names a dimension of an xarray DataArray; use axis for arrays")
        given = _unwrap_array(function, x, axis, channel_axis, numeric)
    values = given.values
    if not numeric and values.dtype != np.uint8:
        values = symbol_codes(values, function)
    elif numeric:
        values = numbers(values, function)
    if values.ndim == 0:
        raise ValueError(f"{function}: expected a series (an array of 1 or more dimensions), got a single value")
    series = _axis(function, "axis", given.axis, values.ndim) if given.wrap is None else given.axis
    consumed = [series]
    if given.channel_axis is not None:
        channel = given.channel_axis if given.wrap else _axis(function, "channel_axis", given.channel_axis, values.ndim)
        if channel == series:
            raise ValueError(f"{function}: channel_axis and the series axis must differ, both are {series}")
        values = np.moveaxis(values, [channel, series], [-2, -1])
        consumed.append(channel)
    else:
        values = np.moveaxis(values, series, -1)
    outer = values.shape[: values.ndim - len(consumed)]
    stacked = np.ascontiguousarray(values.reshape((math.prod(outer), *values.shape[len(outer) :])))
    results = compute(stacked)
    if not outer and given.wrap is None:
        return results[0]
    if kind == "record":
        shaped = np.empty(len(results), dtype=object)
        for i, result in enumerate(results):
            shaped[i] = result
        shaped = shaped.reshape(outer)
    else:
        shaped = np.asarray(results)
        shaped = shaped.reshape(outer + shaped.shape[1:])
    if given.wrap is not None:
        return given.wrap(shaped, kind, new_dim)
    return shaped.tolist() if kind == "record" else shaped


def _unwrap_array(function: str, x: Any, axis: Any, channel_axis: Any, numeric: bool) -> _Unwrapped:
    axis = -1 if axis is None else axis
    if isinstance(x, (str, bytes, bytearray, memoryview)) or _is_text_list(x):
        if numeric:
            raise TypeError(f"{function}: expected numbers, got {type(x).__name__}")
        return _Unwrapped(np.frombuffer(as_symbols(x, function=function), dtype=np.uint8), axis, channel_axis)
    try:
        array = np.asarray(x)
    except ValueError as exc:  # ragged nesting
        raise ValueError(f"{function}: {exc}") from None
    return _Unwrapped(array, axis, channel_axis)
