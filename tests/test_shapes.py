"""One symbol per element, and the series of arrays, pandas and xarray objects."""

import array

import numpy as np
import pytest

from parsimetrics_tools import as_symbols
from parsimetrics_tools.shapes import map_series

CODES = [0, 1, 10, 255, 7]


@pytest.mark.parametrize("x", [
    *[np.array(CODES, dtype=d) for d in ("u1", "<u2", ">u2", "<i4", ">i8", ">u8", "i2")],
    CODES, tuple(CODES), array.array("H", CODES), memoryview(array.array("i", CODES)),
    bytes(CODES), bytearray(CODES), memoryview(bytes(CODES)),
    np.array(CODES, dtype=">i8")[::-1][::-1],
])
def test_every_integer_container_is_one_byte_per_element(x):
    assert as_symbols(x) == bytes(CODES)


@pytest.mark.parametrize("x, expected", [
    ("a\u00e9", "a\u00e9".encode()), (["ab", "c"], b"abc"), ([True, False], b"\1\0"),
    (np.array([True, False, True]), b"\1\0\1"), ([], b""), (np.array([], dtype=np.float64), b""),
])
def test_text_bools_and_empty(x, expected):
    assert as_symbols(x) == expected


@pytest.mark.parametrize("x, error, words", [
    ([0, 256], ValueError, 'symbolize(x, "values")'),
    (np.array([-1, 3], dtype=np.int8), ValueError, "values from -1 to 3"),
    (np.array([2**64 - 1], dtype=np.uint64), ValueError, 'symbolize(x, "values")'),
    ([1, 2**70], ValueError, 'symbolize(x, "values")'),
    ([0.0, 1.0], TypeError, "symbolize"),
    (np.array([1j]), TypeError, "complex"),
    (np.array(["a", "b"]), TypeError, "symbolize"),
    (np.zeros((2, 2), dtype=np.uint8), ValueError, "1-D"),
    (5, TypeError, "int"),
])
def test_what_is_not_a_series_of_symbols(x, error, words):
    with pytest.raises(error, match=r"^measure: .*" + words.replace("(", r"\(").replace(")", r"\)")):
        as_symbols(x, function="measure")


def counts(stack):
    """A stand-in measure that tells series apart by more than their symbol set."""
    return [len(set(s.tobytes())) * 1000 + int(s[..., -1].sum()) for s in stack]


X = np.random.default_rng(0).integers(0, 9, (3, 4, 5))


@pytest.mark.parametrize("axis", [0, 1, 2, -1, -2, -3])
def test_every_axis_of_an_nd_array(axis):
    got = map_series("f", X, counts, axis=axis)
    moved = np.moveaxis(X, axis, -1)
    assert got.shape == moved.shape[:-1]
    assert got.tolist() == np.array(counts(moved.reshape(-1, moved.shape[-1]).astype(np.uint8))).reshape(got.shape).tolist()
    records = map_series("f", X, lambda s: [tuple(r.tolist()) for r in s], axis=axis, kind="record")
    assert isinstance(records[0][0], tuple) and np.array(records).tolist() == moved.tolist()


def test_one_series_gives_one_value_and_channels_go_together():
    assert map_series("f", X[0, 0], counts) == counts(X[0, :1].astype(np.uint8))[0]
    together = map_series("f", X, lambda s: [s.shape for s in s], channel_axis=0, axis=2)
    assert np.shape(together) == (4, 2) and together[0][0] == 3


def test_pandas_by_column_and_by_row():
    import pandas as pd
    frame = pd.DataFrame(X[0], index=list("abcd"), columns=list("vwxyz"))
    by_column = map_series("f", frame, counts)
    assert list(by_column.index) == list("vwxyz")
    assert by_column.tolist() == map_series("f", X[0], counts, axis=0).tolist()
    by_row = map_series("f", frame, counts, axis=1)
    assert list(by_row.index) == list("abcd") and by_row.tolist() == map_series("f", X[0], counts).tolist()
    assert map_series("f", frame["v"], counts) == by_column["v"]
    wide = map_series("f", frame, lambda s: s[:, :2], new_dim=("first", [0, 1]))
    assert list(wide.columns) == [0, 1] and wide.loc["w"].tolist() == X[0, :2, 1].tolist()


def test_xarray_by_dim_keeps_the_other_dims_and_coords():
    import xarray as xr
    data = xr.DataArray(X, dims=("epoch", "channel", "time"),
                        coords={"channel": list("abcd"), "time": np.arange(5) / 10, "epoch": [7, 8, 9]})
    got = map_series("f", data, counts, dim="channel")
    assert got.dims == ("epoch", "time") and list(got.coords) == ["time", "epoch"]
    assert got.values.tolist() == map_series("f", X, counts, axis=1).tolist()
    assert map_series("f", data, counts).dims == ("epoch", "channel")
    for channel in ({"channel_dim": "epoch"}, {"channel_axis": 0}):
        together = map_series("f", data, lambda s: [s.shape for s in s], dim="time", kind="record", **channel)
        assert together.dims == ("channel",) and together.values[0] == (3, 5)


@pytest.mark.parametrize("call, error, words", [
    (lambda: map_series("f", X, counts, axis=3), np.exceptions.AxisError, "f: axis 3 is out of bounds"),
    (lambda: map_series("f", X, counts, axis=1.0), TypeError, "f: axis must be an int"),
    (lambda: map_series("f", X, counts, channel_axis=1, axis=1), ValueError, "f: channel_axis"),
    (lambda: map_series("f", X, counts, dim="time"), TypeError, "f: dim"),
    (lambda: map_series("f", X * 1.0, counts), TypeError, "f: .*symbolize"),
    (lambda: map_series("f", X * 1j, counts, numeric=True), TypeError, "f: complex"),
    (lambda: map_series("f", 3, counts, numeric=True), ValueError, "f: expected a series"),
])
def test_errors_name_the_function(call, error, words):
    with pytest.raises(error, match=words):
        call()


def test_xarray_errors_name_the_function():
    import xarray as xr
    data = xr.DataArray(X, dims=("epoch", "channel", "time"))
    with pytest.raises(ValueError, match="f: dim 'chan' is not a dimension"):
        map_series("f", data, counts, dim="chan")
    with pytest.raises(TypeError, match="f: give either dim or axis"):
        map_series("f", data, counts, dim="time", axis=0)


def test_pandas_and_xarray_are_imported_only_for_their_objects():
    import subprocess
    import sys

    script = ("import sys, numpy as np, parsimetrics_tools as pt; pt.many('h', np.zeros((2, 3), np.uint8)); "
              "pt.multiscale(np.arange(50.0), [1, 2]); print(sorted({'pandas', 'xarray'} & set(sys.modules)))")
    assert subprocess.run([sys.executable, "-c", script], capture_output=True, text=True).stdout == "[]\n"


def test_docstring_examples():
    import doctest

    from parsimetrics_tools import shapes

    assert doctest.testmod(shapes).failed == 0
